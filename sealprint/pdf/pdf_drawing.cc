#include "pdf/pdf_drawing.h"

#include <zlib.h>

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

namespace {

// One zlib stream over the rows packed tight, as the library writes an image stream: default
// level, no flush until the end. zlib's output does not depend on how the input is split, so
// the bytes are those the library would have written.
QByteArray deflate_rows(const QImage& image) {
    const QImage rgb = image.format() == QImage::Format_RGB888
                           ? image
                           : image.convertToFormat(QImage::Format_RGB888);
    z_stream z{};
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK)
        return {};
    QByteArray out;
    unsigned char chunk[1 << 16];
    const auto drain = [&](int flush) {
        int status = Z_OK;
        do {
            z.next_out = chunk;
            z.avail_out = sizeof chunk;
            status = deflate(&z, flush);
            if (status == Z_STREAM_ERROR)
                return false;
            out.append(reinterpret_cast<const char*>(chunk),
                       static_cast<int>(sizeof chunk - z.avail_out));
        } while (z.avail_out == 0);
        return flush != Z_FINISH || status == Z_STREAM_END;
    };
    // QImage pads rows to 32 bits; the stream holds exactly 3 × width bytes a row.
    const uInt row_bytes = static_cast<uInt>(rgb.width()) * 3;
    bool ok = true;
    for (int line = 0; ok && line < rgb.height(); ++line) {
        z.next_in = const_cast<Bytef*>(rgb.constScanLine(line));
        z.avail_in = row_bytes;
        ok = drain(Z_NO_FLUSH);
    }
    ok = ok && drain(Z_FINISH);
    deflateEnd(&z);
    return ok ? out : QByteArray();
}

// The stream is deflated already, so the library must copy it as it is (filter none) while
// the dictionary still names its filter; the library drops a "Filter" entry of an unfiltered
// stream, so the entry is written here, in the library's own spelling.
HPDF_STATUS write_flate_filter(HPDF_Dict dict, HPDF_Stream stream) {
    (void)dict;
    return HPDF_Stream_WriteStr(stream, "/Filter [ /FlateDecode ]\012");
}

// The image object HPDF_LoadRawImageFromMem makes, entries in the same order, with an empty
// stream that complete_pictures fills.
HPDF_Image new_rgb_image(HPDF_Doc doc, int width, int height) {
    HPDF_Dict image = HPDF_DictStream_New(doc->mmgr, doc->xref);
    if (!image)
        return nullptr;
    image->header.obj_class |= HPDF_OSUBCLASS_XOBJECT;
    HPDF_STATUS status = HPDF_Dict_AddName(image, "Type", "XObject");
    status += HPDF_Dict_AddName(image, "Subtype", "Image");
    status += HPDF_Dict_AddName(image, "ColorSpace", "DeviceRGB");
    status += HPDF_Dict_AddNumber(image, "Width", width);
    status += HPDF_Dict_AddNumber(image, "Height", height);
    status += HPDF_Dict_AddNumber(image, "BitsPerComponent", 8);
    if (status != HPDF_OK)
        return nullptr;
    image->write_fn = write_flate_filter;
    return image;
}

}  // namespace

void draw_raster(HPDF_Doc doc, HPDF_Page page, pending_pictures_t& pending, const QImage& image,
                 HPDF_REAL x, HPDF_REAL y, HPDF_REAL w, HPDF_REAL h) {
    HPDF_Image embedded = new_rgb_image(doc, image.width(), image.height());
    // Deferred instead of a thread when none can be started; get() then deflates in place.
    if (embedded) {
        pending.push_back({embedded, std::async(std::launch::async | std::launch::deferred,
                                                deflate_rows, image)});
    }
    // Without an image object (out of memory) the library reports the null image, as it did when
    // its own loader failed.
    HPDF_Page_DrawImage(page, embedded, x, y, w, h);
}

HPDF_STATUS complete_pictures(pending_pictures_t& pending) {
    HPDF_STATUS status = HPDF_OK;
    for (pending_picture_s& picture : pending) {
        const QByteArray flate = picture.flate.get();
        if (status != HPDF_OK)
            continue;  // every worker is still waited for
        status = flate.isEmpty()
                     ? HPDF_ZLIB_ERROR
                     : HPDF_Stream_Write(picture.image->stream,
                                         reinterpret_cast<const HPDF_BYTE*>(flate.constData()),
                                         static_cast<HPDF_UINT>(flate.size()));
        if (status != HPDF_OK)
            haru_error_handler(status, 0, nullptr);
    }
    pending.clear();
    return status;
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
