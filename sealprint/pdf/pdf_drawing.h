// What every report page shares: fonts, page units, colours, text lines and rasters.
//
// Text: every text is shown through show_text, which encodes it for the page's current
// font: "UTF-8" for the embedded TrueType faces, WinAnsi for the three standard faces (a
// character WinAnsi lacks becomes "?"; ASCII stays byte for byte). Pass QStrings, never
// bytes. Drawing calls report library failures through haru_error_handler only, and the failure
// surfaces in the status of the save; complete_pictures, which the save calls, returns it.
#pragma once

#include <hpdf.h>

#include <QByteArray>
#include <QImage>
#include <QString>

#include "pdf/picture_embedding.h"

// The fonts of the document being composed, fetched anew for each document; a handle from
// an earlier document must never be used.
extern HPDF_Font Font_Helvetica;      // standard, WinAnsi: nearly all text
extern HPDF_Font Font_HelveticaBold;  // standard, WinAnsi: section titles
extern HPDF_Font Font_TimesItalic;    // standard, WinAnsi: signature values
extern HPDF_Font Font_FreeSerif;      // embedded TrueType, UTF-8: "μ" (and "m" of the gating line)
extern HPDF_Font Font_Arial;          // embedded TrueType, UTF-8: "≤"

// Page units: 1/300 inch, origin bottom left, y upwards; every page is scaled by
// PAGE_UNIT_SCALE before anything is drawn on it. Font sizes are in page units too.
constexpr HPDF_REAL PAGE_UNIT_SCALE = 0.24f;

struct pdf_color_s {
    HPDF_REAL r, g, b;
};
constexpr pdf_color_s COLOR_BLACK{0.0f, 0.0f, 0.0f};
constexpr pdf_color_s COLOR_TITLE_GREY{0.118f, 0.118f, 0.118f};
constexpr pdf_color_s COLOR_SIGNATURE_BLUE{0.372f, 0.549f, 1.0f};

// Fill colour is graphics state: text drawn later keeps it until it is set again.
void set_fill_color(HPDF_Page page, pdf_color_s color);

// The library's error callback: prints "ERROR: error_no=0x%04x, detail_no=%d" and returns,
// leaving the document's error state for the save to report.
void haru_error_handler(HPDF_STATUS error_no, HPDF_STATUS detail_no, void* user_data);

// `text` as the bytes `font` expects (UTF-8 for a "UTF-8" font, otherwise WinAnsi).
QByteArray encode_for_font(HPDF_Font font, const QString& text);
// Unicode to WinAnsiEncoding (Windows-1252); characters outside it become "?".
QByteArray to_win_ansi(const QString& text);

// Shows `text` at the current text position in the current font (inside BeginText/EndText).
void show_text(HPDF_Page page, const QString& text);

// A label template with its "%1" filled: the value is inserted as it is, unpadded;
// integers in base 10.
QString fill_label(const QString& label, const QString& value);
QString fill_label(const QString& label, qlonglong value);

// "μ" in Font_FreeSerif 32, then "m" in Font_Helvetica 32, at the current position;
// Font_Helvetica 32 stays current.
void show_micrometre(HPDF_Page page);

// One block of lines in one text object: the first line at (x, y), each further line `step`
// below the one before. A line that is left out leaves no gap. The font and fill colour are
// whatever the caller set before or between the lines.
struct text_block_s {
    HPDF_Page page;
    HPDF_REAL step;
    bool has_line;
};
text_block_s begin_text_block(HPDF_Page page, HPDF_REAL x, HPDF_REAL y, HPDF_REAL step);
// Moves to the start of the next line (the first line is already in place); for lines that
// are drawn piece by piece, like the size-gating line.
void next_line(text_block_s& block);
void show_line(text_block_s& block, const QString& text);
// fill_label(label, value) on the next line; a label ending in "%1 " is followed by the
// micrometre suffix.
void show_labelled_line(text_block_s& block, const QString& label, const QString& value);
void show_labelled_line(text_block_s& block, const QString& label, qlonglong value);
void end_text_block(text_block_s& block);

// Embeds `image` with this build's loader (embed_picture, pdf/picture_embedding.h) and draws it
// scaled into the box at (x, y) of w × h page units; a picture still being deflated joins
// `pending` until complete_pictures.
void draw_raster(HPDF_Doc doc, HPDF_Page page, pending_pictures_t& pending, const QImage& image,
                 HPDF_REAL x, HPDF_REAL y, HPDF_REAL w, HPDF_REAL h);

// Embeds a JPEG file as it is (no decoding, no second compression) and draws it scaled into
// the box at (x, y) of w × h page units. For the program's own artwork, which was JPEG from
// the start; camera images and generated pictures stay lossless through draw_raster.
void draw_jpeg(HPDF_Doc doc, HPDF_Page page, const QString& path, HPDF_REAL x, HPDF_REAL y,
               HPDF_REAL w, HPDF_REAL h);
