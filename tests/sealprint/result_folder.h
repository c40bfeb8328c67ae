// Result folders as the instrument leaves them, written byte by byte from the result file's
// format: the CSV result file, the instrument's own PDF and the camera images.
#pragma once

#include <string>
#include <vector>

#include "picture_files.h"

// The instrument's own PDF, which a written report replaces.
extern const char* const kInstrumentPdf;

// A result file: "key,value" lines under their section titles, then the histograms and the
// volume. Starts as a bright-field total count with every line the report reads; a test names
// only the lines it changes.
class result_file_s {
public:
    result_file_s();
    // Replaces the value of every line with `key`. "Counting mode" takes "mode,method" and writes
    // the method on a continuation line of its own; histograms take their counts.
    result_file_s& set(const std::string& key, const std::string& value);
    result_file_s& drop(const std::string& key);
    std::string csv() const;

private:
    struct line_s {
        int section;  // index into the section titles
        std::string key, value;
    };
    std::vector<line_s> lines_;
};

// `n` histogram counts of `value` each, comma-separated.
std::string counts(int n, int value);
std::string join(const std::vector<int>& counts);

// The camera images of a result, by the suffix after its stem.
struct camera_images_s {
    std::vector<std::string> suffixes;
    // Tag images hold tag_picture(), the raw images only have to be there. Without pictures every
    // file is empty: a tag image that does not decode leaves its frames on page 1 empty.
    bool pictures = true;
};
extern const camera_images_s kBrightFieldImages;       // raw bright field, tag
extern const camera_images_s kFluorescenceImages;      // raw bright field, green, red, tag of all
extern const camera_images_s kEmptyBrightFieldImages;  // the same names, every file empty

// A 1280 × 960 tag image: blue, its central quarter (the part the zoom enlarges) green.
const std::string& tag_picture();
constexpr pixel_s kTagBlue{0, 0, 255, 255};
constexpr pixel_s kTagGreen{0, 128, 0, 255};

// Makes `folder` afresh with <stem>.pdf (kInstrumentPdf), <stem>.csv and the camera images
// <stem><suffix>. Fails the test when a file cannot be written.
void add_result(const std::string& folder, const result_file_s& result = {},
                const camera_images_s& images = kBrightFieldImages, const std::string& stem = "r");

// The files of a bright-field result written by add_result.
struct result_paths_s {
    std::string folder, pdf, csv, tag;
};
// Writes a bright-field result <stem> in `folder` (add_result) and names its files.
result_paths_s add_bright_field_result(const std::string& folder, const std::string& stem);
