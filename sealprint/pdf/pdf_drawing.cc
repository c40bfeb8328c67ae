#include "pdf/pdf_drawing.h"

#include <QFile>
#include <cstdio>
#include <cstring>

HPDF_Font Font_Helvetica = nullptr;
HPDF_Font Font_HelveticaBold = nullptr;
HPDF_Font Font_TimesItalic = nullptr;
HPDF_Font Font_FreeSerif = nullptr;
HPDF_Font Font_Arial = nullptr;

namespace {

// Windows-1252 bytes 0x80 to 0x9F; 0 where the code page has no character.
const char16_t win_ansi_80_9f[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char win_ansi_byte(uint code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return static_cast<char>(code);
    for (int i = 0; i < 32; ++i) {
        if (win_ansi_80_9f[i] != 0 && win_ansi_80_9f[i] == code)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

}  // namespace

void set_fill_color(HPDF_Page page, pdf_color_s color) {
    HPDF_Page_SetRGBFill(page, color.r, color.g, color.b);
}

void haru_error_handler(HPDF_STATUS error_no, HPDF_STATUS detail_no, void*) {
    printf("ERROR: error_no=0x%04x, detail_no=%d\n", static_cast<unsigned>(error_no),
           static_cast<int>(detail_no));
}

QByteArray to_win_ansi(const QString& text) {
    QByteArray out;
    for (uint code : text.toUcs4())
        out.append(win_ansi_byte(code));
    return out;
}

QByteArray encode_for_font(HPDF_Font font, const QString& text) {
    const char* encoding = font ? HPDF_Font_GetEncodingName(font) : nullptr;
    if (encoding && strcmp(encoding, "UTF-8") == 0)
        return text.toUtf8();
    return to_win_ansi(text);
}

void show_text(HPDF_Page page, const QString& text) {
    const QByteArray bytes = encode_for_font(HPDF_Page_GetCurrentFont(page), text);
    HPDF_Page_ShowText(page, bytes.constData());
}

QString fill_label(const QString& label, const QString& value) {
    return label.arg(value, 0, QLatin1Char(' '));
}

QString fill_label(const QString& label, qlonglong value) {
    return label.arg(value, 0, 10, QLatin1Char(' '));
}

void show_micrometre(HPDF_Page page) {
    HPDF_Page_SetFontAndSize(page, Font_FreeSerif, 32);
    show_text(page, QStringLiteral("\u03bc"));
    HPDF_Page_SetFontAndSize(page, Font_Helvetica, 32);
    show_text(page, QStringLiteral("m"));
}

text_block_s begin_text_block(HPDF_Page page, HPDF_REAL x, HPDF_REAL y, HPDF_REAL step) {
    HPDF_Page_BeginText(page);
    HPDF_Page_MoveTextPos(page, x, y);
    return text_block_s{page, step, false};
}

void next_line(text_block_s& block) {
    if (block.has_line)
        HPDF_Page_MoveTextPos(block.page, 0, -block.step);
    block.has_line = true;
}

void show_line(text_block_s& block, const QString& text) {
    next_line(block);
    show_text(block.page, text);
}

void show_labelled_line(text_block_s& block, const QString& label, const QString& value) {
    show_line(block, fill_label(label, value));
    if (label.endsWith(QLatin1String("%1 ")))
        show_micrometre(block.page);
}

void show_labelled_line(text_block_s& block, const QString& label, qlonglong value) {
    show_line(block, fill_label(label, value));
    if (label.endsWith(QLatin1String("%1 ")))
        show_micrometre(block.page);
}

void end_text_block(text_block_s& block) {
    HPDF_Page_EndText(block.page);
}

void draw_raster(HPDF_Doc doc, HPDF_Page page, const QImage& image, HPDF_REAL x, HPDF_REAL y,
                 HPDF_REAL w, HPDF_REAL h) {
    const QImage rgb = image.format() == QImage::Format_RGB888
                           ? image
                           : image.convertToFormat(QImage::Format_RGB888);
    const int row_bytes = rgb.width() * 3;
    const uchar* bits = rgb.constBits();
    QByteArray packed;
    // QImage pads rows to 32 bits; the library takes exactly 3 × width bytes a row.
    if (rgb.bytesPerLine() != row_bytes) {
        packed.resize(row_bytes * rgb.height());
        for (int line = 0; line < rgb.height(); ++line) {
            memcpy(packed.data() + line * row_bytes, rgb.constScanLine(line), row_bytes);
        }
        bits = reinterpret_cast<const uchar*>(packed.constData());
    }
    HPDF_Image embedded =
        HPDF_LoadRawImageFromMem(doc, bits, rgb.width(), rgb.height(), HPDF_CS_DEVICE_RGB, 8);
    HPDF_Page_DrawImage(page, embedded, x, y, w, h);
}

void draw_jpeg(HPDF_Doc doc, HPDF_Page page, const QString& path, HPDF_REAL x, HPDF_REAL y,
               HPDF_REAL w, HPDF_REAL h) {
    QFile file(path);
    QByteArray jpeg;
    if (file.open(QIODevice::ReadOnly))
        jpeg = file.readAll();
    HPDF_Image embedded =
        HPDF_LoadJpegImageFromMem(doc, reinterpret_cast<const HPDF_BYTE*>(jpeg.constData()),
                                  static_cast<HPDF_UINT>(jpeg.size()));
    HPDF_Page_DrawImage(page, embedded, x, y, w, h);
}
