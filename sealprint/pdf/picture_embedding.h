// How camera pictures and histograms enter a document: lossless, 8-bit DeviceRGB, FlateDecode.
//
// The library would deflate every picture one after another while saving, half the time of a
// report; deflated on worker threads while the rest of the pages is drawn, they use the
// machine's other core. Handing the library a stream deflated elsewhere takes its internal
// object functions and fields, which no release promises to keep: that loader is built only
// against the libharu it was written for (2.3.0), and every other build uses the library's own
// HPDF_LoadRawImageFromMem. Both loaders give the same document, byte for byte.
#pragma once

#include <hpdf.h>

#include <QByteArray>
#include <QImage>
#include <future>
#include <vector>

enum class picture_loader_e {
    worker,   // deflated on a worker thread, handed to the document by complete_pictures
    library,  // HPDF_LoadRawImageFromMem on the calling thread, deflated during the save
};

// worker in a build against the libharu version the worker loader was written for, otherwise
// library.
extern const picture_loader_e kBuildPictureLoader;

// A picture whose stream is still being deflated on a worker.
struct pending_picture_s {
    HPDF_Image image;
    std::future<QByteArray> flate;  // the rows deflated; empty when zlib failed
};
using pending_pictures_t = std::vector<pending_picture_s>;

// `image` as an image object of `doc`, converted to RGB888 and its rows packed tight whatever
// its width; the stream is the one the library itself writes (zlib's default level). Null
// when the library could not make the object (its error handler has been called).
// The worker loader adds the picture to `pending`: its worker holds its own copy of the image,
// and the object is incomplete until complete_pictures. A loader this build lacks falls back
// to the library's.
HPDF_Image embed_picture(HPDF_Doc doc, pending_pictures_t& pending, const QImage& image,
                         picture_loader_e loader = kBuildPictureLoader);

// Waits for every pending picture and hands its stream to the document; before the save, and
// `pending` is empty afterwards. HPDF_ZLIB_ERROR, after haru_error_handler's line, when a
// picture could not be deflated.
HPDF_STATUS complete_pictures(pending_pictures_t& pending);
