#include "pdf/pdf_drawing.h"

#include <QFile>
#include <QTextCodec>
#include <cstdio>
#include <cstring>

HPDF_Font Font_Helvetica = nullptr;
HPDF_Font Font_HelveticaBold = nullptr;
HPDF_Font Font_TimesItalic = nullptr;
HPDF_Font Font_FreeSerif = nullptr;
HPDF_Font Font_Arial = nullptr;

void set_fill_color(HPDF_Page page, pdf_color_s color) {
    HPDF_Page_SetRGBFill(page, color.r, color.g, color.b);
}

void haru_error_handler(HPDF_STATUS error_no, HPDF_STATUS detail_no, void*) {
    printf("ERROR: error_no=0x%04x, detail_no=%d\n", static_cast<unsigned>(error_no),
           static_cast<int>(detail_no));
}

namespace {

// One character as a string; QString::fromUcs4 would take a leading U+FEFF or U+FFFE for a byte
// order mark and drop it.
QString one_character(uint code) {
    if (!QChar::requiresSurrogates(code))
        return QString(QChar(static_cast<ushort>(code)));
    const QChar pair[2] = {QChar(QChar::highSurrogate(code)), QChar(QChar::lowSurrogate(code))};
    return QString(pair, 2);
}

}  // namespace

QByteArray to_win_ansi(const QString& text) {
    static QTextCodec* const codec = QTextCodec::codecForName("Windows-1252");
    // The codec maps the five bytes the code page leaves undefined to the C1 controls and
    // drops the characters Unicode calls ignorable (zero-width space, byte order mark, ...);
    // the pages show "?" for those as for every other character the code page lacks.
    QString shown;
    shown.reserve(text.size());
    for (uint code : text.toUcs4()) {
        const QString one = one_character(code);
        const bool c1_control = code >= 0x80 && code <= 0x9F;
        const bool kept = code < 0x80 || (!c1_control && codec && codec->canEncode(one));
        shown += kept ? one : QStringLiteral("?");
    }
    return codec ? codec->fromUnicode(shown) : shown.toLatin1();
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

void draw_raster(HPDF_Doc doc, HPDF_Page page, pending_pictures_t& pending, const QImage& image,
                 HPDF_REAL x, HPDF_REAL y, HPDF_REAL w, HPDF_REAL h) {
    // Without an image object (out of memory) the library reports the null image, as it does
    // when its own loader fails.
    HPDF_Page_DrawImage(page, embed_picture(doc, pending, image), x, y, w, h);
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
