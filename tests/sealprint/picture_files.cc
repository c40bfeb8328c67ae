#include "picture_files.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

void put16le(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void put32le(std::string& s, uint32_t v) {
    put16le(s, v & 0xFFFF);
    put16le(s, v >> 16);
}
void put32be(std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        s += static_cast<char>((v >> shift) & 0xFF);
}

uint32_t crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t adler32(const std::string& bytes) {
    uint32_t a = 1, b = 0;
    for (unsigned char c : bytes) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

std::string png_chunk(const std::string& type, const std::string& data) {
    std::string chunk;
    put32be(chunk, static_cast<uint32_t>(data.size()));
    chunk += type + data;
    put32be(chunk, crc32(type + data));
    return chunk;
}

struct tiff_entry_s {
    unsigned tag, type;  // type 3 SHORT, 4 LONG
    uint32_t count, value;
};

// A little-endian TIFF's header and its one directory, which ends the chain of directories;
// what follows the directory (at 8 + 2 + 12 × entries + 4) is the caller's.
std::string tiff_head(const std::vector<tiff_entry_s>& entries) {
    std::string tiff = "II";
    put16le(tiff, 42);
    put32le(tiff, 8);
    put16le(tiff, static_cast<unsigned>(entries.size()));
    for (const tiff_entry_s& e : entries) {
        put16le(tiff, e.tag);
        put16le(tiff, e.type);
        put32le(tiff, e.count);
        if (e.type == 3 && e.count == 1) {
            put16le(tiff, e.value);
            put16le(tiff, 0);
        } else {
            put32le(tiff, e.value);
        }
    }
    put32le(tiff, 0);  // no further image
    return tiff;
}

}  // namespace

std::string tiff_rgb(int width, int height, const painter_f& paint) {
    const uint32_t entry_count = 10;
    const uint32_t bits_at = 8 + 2 + entry_count * 12 + 4;
    const uint32_t pixels_at = bits_at + 6;
    const uint32_t pixel_bytes = static_cast<uint32_t>(width) * height * 3;
    std::string tiff = tiff_head({
        {256, 4, 1, static_cast<uint32_t>(width)},   // ImageWidth
        {257, 4, 1, static_cast<uint32_t>(height)},  // ImageLength
        {258, 3, 3, bits_at},                        // BitsPerSample: 8, 8, 8 at bits_at
        {259, 3, 1, 1},                              // no compression
        {262, 3, 1, 2},                              // RGB
        {273, 4, 1, pixels_at},                      // StripOffsets
        {277, 3, 1, 3},                              // SamplesPerPixel
        {278, 4, 1, static_cast<uint32_t>(height)},  // RowsPerStrip
        {279, 4, 1, pixel_bytes},                    // StripByteCounts
        {284, 3, 1, 1},                              // chunky planes
    });
    for (int k = 0; k < 3; ++k)
        put16le(tiff, 8);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const pixel_s p = paint(x, y);
            tiff += static_cast<char>(p.r);
            tiff += static_cast<char>(p.g);
            tiff += static_cast<char>(p.b);
        }
    }
    return tiff;
}

std::string png_rgba(int width, int height, const painter_f& paint) {
    std::string header;
    put32be(header, static_cast<uint32_t>(width));
    put32be(header, static_cast<uint32_t>(height));
    header +=
        std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter, no interlace

    std::string rows;
    for (int y = 0; y < height; ++y) {
        rows += '\0';  // filter: none
        for (int x = 0; x < width; ++x) {
            const pixel_s p = paint(x, y);
            rows += {static_cast<char>(p.r), static_cast<char>(p.g), static_cast<char>(p.b),
                     static_cast<char>(p.a)};
        }
    }
    std::string zlib = "\x78\x01";
    for (size_t at = 0; at < rows.size() || at == 0; at += 65535) {
        const size_t n = std::min<size_t>(65535, rows.size() - at);
        zlib += static_cast<char>(at + n >= rows.size() ? 1 : 0);  // last block?
        put16le(zlib, static_cast<unsigned>(n));
        put16le(zlib, static_cast<unsigned>(~n & 0xFFFF));
        zlib += rows.substr(at, n);
    }
    put32be(zlib, adler32(rows));

    return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", header) +
           png_chunk("IDAT", zlib) + png_chunk("IEND", "");
}

// A little-endian baseline TIFF of 8-bit grey, one uncompressed strip, that declares
// width × height pixels but holds only 64 bytes of them.
std::string tiff_declaring(uint32_t width, uint32_t height) {
    const uint32_t data_at = 8 + 2 + 9 * 12 + 4;
    std::string t = tiff_head({
        {256, 4, 1, width},
        {257, 4, 1, height},
        {258, 3, 1, 8},
        {259, 3, 1, 1},
        {262, 3, 1, 1},
        {273, 4, 1, data_at},
        {277, 3, 1, 1},
        {278, 4, 1, height},
        {279, 4, 1,
         static_cast<uint32_t>(uint64_t(width) * height > 0xFFFFFFFFu ? 0xFFFFFFFFu
                                                                      : width * height)},
    });
    t += std::string(64, '\x80');
    return t;
}
