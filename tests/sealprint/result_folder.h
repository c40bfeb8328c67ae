// A bright-field result folder as the instrument leaves it, written from the documented file
// formats: the CSV result file, the instrument's own PDF and the two camera images.
#pragma once

#include <string>

extern const char* const kInstrumentPdfBytes;

struct result_paths_s {
    std::string folder, pdf, csv, tag;
};

// Writes `folder`/`stem`.{csv,pdf}, `stem`_01_RAW_BF.tif and `stem`_01_TAG.tif (64 × 48 grey).
// Use inside ASSERT_NO_FATAL_FAILURE.
result_paths_s write_bright_field_result(const std::string& folder, const std::string& stem);
