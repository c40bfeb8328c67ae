// Reader of the instrument's CSV result file: one lookup per call, by section and key.
#pragma once

#include <cstdint>

// Section numbers; also the row index into csv_category.
enum csv_category_e : int32_t {
    CSV_CELL_COUNT_REPORT = 0,
    CSV_DEVICE_SETTING = 1,  // titled "Instrument setting" in files that lack "Device setting"
    CSV_PROTOCOL = 2,
    CSV_CELL_COUNT_RESULTS = 3,
    CSV_GRAPH = 4,
    CSV_VOLUME = 5,         // no key column: the first data line is the value
    CSV_END_OF_ITEMS = -1,  // category of the row that ends `items`
};

constexpr int CSV_VALUE_SIZE = 512;  // the caller's value buffer, and the line buffer

struct csv_category_s {
    char title[64];      // the whole title line
    char underline[64];  // found anywhere in the underline line
};

struct csv_item_s {
    int32_t category;
    char key[64];
};

extern const csv_category_s csv_category[6];
// Every lookup of a report, in the order the job makes it; ends with a CSV_END_OF_ITEMS row.
extern const csv_item_s items[57];

// Finds the value of `key` in section `category` of the file at `path` and copies it,
// NUL-terminated, into `value` (CSV_VALUE_SIZE bytes).
// Returns 1 when found; 0 when "Counting mode" is the file's last line (no continuation);
// -1 when the file cannot be opened, the section number is unknown, the section or the key
// is missing. On 0 and -1 `value` holds nothing usable. Prints nothing; keeps no state.
int search_value_by_key(const char* path, csv_category_e category, const char* key, char* value);
