#include "pdf/picture_embedding.h"

#include "pdf/pdf_drawing.h"

// The worker loader reaches into the library: its object functions (HPDF_DictStream_New,
// HPDF_Dict_Add*, HPDF_Stream_Write*) and the fields of its document and dictionary records,
// as 2.3.0 lays them out. Any other version gets the library's loader, which is slower only.
#if defined(HPDF_MAJOR_VERSION) && HPDF_MAJOR_VERSION == 2 && HPDF_MINOR_VERSION == 3 && \
    HPDF_BUGFIX_VERSION == 0
#define SEALPRINT_WORKER_PICTURES 1
#include <zlib.h>
#else
#define SEALPRINT_WORKER_PICTURES 0
#endif

const picture_loader_e kBuildPictureLoader =
    SEALPRINT_WORKER_PICTURES ? picture_loader_e::worker : picture_loader_e::library;

namespace {

QImage as_rgb888(const QImage& image) {
    return image.format() == QImage::Format_RGB888 ? image
                                                   : image.convertToFormat(QImage::Format_RGB888);
}

HPDF_Image load_with_library(HPDF_Doc doc, const QImage& image) {
    const QImage rgb = as_rgb888(image);
    // QImage pads rows to 32 bits; the library takes exactly 3 × width bytes a row.
    const int row_bytes = rgb.width() * 3;
    const uchar* rows = rgb.constBits();
    QByteArray tight;
    if (rgb.bytesPerLine() != row_bytes) {
        tight.reserve(row_bytes * rgb.height());
        for (int line = 0; line < rgb.height(); ++line)
            tight.append(reinterpret_cast<const char*>(rgb.constScanLine(line)), row_bytes);
        rows = reinterpret_cast<const uchar*>(tight.constData());
    }
    return HPDF_LoadRawImageFromMem(doc, rows, static_cast<HPDF_UINT>(rgb.width()),
                                    static_cast<HPDF_UINT>(rgb.height()), HPDF_CS_DEVICE_RGB, 8);
}

#if SEALPRINT_WORKER_PICTURES

// One zlib stream over the rows packed tight, as the library writes an image stream: default
// level, no flush until the end. zlib's output does not depend on how the input is split, so
// the bytes are those the library would have written.
QByteArray deflate_rows(const QImage& image) {
    const QImage rgb = as_rgb888(image);
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

HPDF_Image load_on_worker(HPDF_Doc doc, pending_pictures_t& pending, const QImage& image) {
    HPDF_Image embedded = new_rgb_image(doc, image.width(), image.height());
    // Deferred instead of a thread when none can be started; get() then deflates in place.
    if (embedded) {
        pending.push_back({embedded, std::async(std::launch::async | std::launch::deferred,
                                                deflate_rows, image)});
    }
    return embedded;
}

HPDF_STATUS write_stream(HPDF_Image image, const QByteArray& flate) {
    if (flate.isEmpty())
        return HPDF_ZLIB_ERROR;
    return HPDF_Stream_Write(image->stream, reinterpret_cast<const HPDF_BYTE*>(flate.constData()),
                             static_cast<HPDF_UINT>(flate.size()));
}

#else

HPDF_Image load_on_worker(HPDF_Doc doc, pending_pictures_t&, const QImage& image) {
    return load_with_library(doc, image);
}

HPDF_STATUS write_stream(HPDF_Image, const QByteArray&) {
    return HPDF_OK;  // nothing is ever pending
}

#endif

}  // namespace

HPDF_Image embed_picture(HPDF_Doc doc, pending_pictures_t& pending, const QImage& image,
                         picture_loader_e loader) {
    return loader == picture_loader_e::worker ? load_on_worker(doc, pending, image)
                                              : load_with_library(doc, image);
}

HPDF_STATUS complete_pictures(pending_pictures_t& pending) {
    HPDF_STATUS status = HPDF_OK;
    for (pending_picture_s& picture : pending) {
        const QByteArray flate = picture.flate.get();
        if (status != HPDF_OK)
            continue;  // every worker is still waited for
        status = write_stream(picture.image, flate);
        if (status != HPDF_OK)
            haru_error_handler(status, 0, nullptr);
    }
    pending.clear();
    return status;
}
