// Picture files written byte by byte from their formats: the camera images a result folder
// holds (TIFF) and a report folder's own logo (PNG).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct pixel_s {
    unsigned char r, g, b, a;
};
using painter_f = std::function<pixel_s(int x, int y)>;  // x, y from the top left

// Baseline TIFF: one uncompressed strip of 8-bit RGB.
std::string tiff_rgb(int width, int height, const painter_f& paint);
// A little-endian baseline TIFF of 8-bit grey that declares width × height pixels but holds
// only 64 bytes of them: what a decompression bomb's header looks like to a decoder.
std::string tiff_declaring(uint32_t width, uint32_t height);
// PNG, 8-bit RGBA, its image data in stored (uncompressed) deflate blocks.
std::string png_rgba(int width, int height, const painter_f& paint);
