// Each device's protocol file and counting options, as its announcement reply carries them.
//
// Files, for a device `serial` (read up to its 32-byte width from the wire field):
//   <product_dir>/settings/<serial>.json                        protocol file (read only)
//   <product_dir>/settings/<serial>_cellcounting_settings.json  the device's settings
//   <product_dir>/default/cellcounting_settings.json            default settings (read only)
// A serial that is not one safe path component (is_safe_path_component) names no file: its files
// count as missing, and nothing is read, created or written for it.
#pragma once

#include <cstdint>
#include <string>

#include "paths.h"
#include "wire.h"

// Summary of the protocol file, which must hold the object groups "BF_TOTAL_CELL_COUNTING",
// "BF_CELL_COUNTING_VIABILITY", "FL_CELL_LINES_PRIMARY_CELLS" and "FL_ADVANCED".
// On success returns the file's modification time (seconds since 1970) and sets
// bf = (members of BF_TOTAL_CELL_COUNTING << 16) | (members of BF_CELL_COUNTING_VIABILITY & FFFF),
// fl = the same for FL_CELL_LINES_PRIMARY_CELLS and FL_ADVANCED.
// Otherwise returns -1, leaves bf and fl untouched and prints one line to standard output:
// "stat fail: <path>", "file size fail", "fopen fail", "json fail: <path>: <problem>",
// "Threre are no [<group>] protocols " for the first missing group, or
// "json fail: <path>: [<key>] is not an object".
int64_t protocol_json_parser(const char* serial, int& bf, int& fl,
                             const std::string& product_dir = default_product_dir);

// When settings->source is not 0 returns 0 and does nothing. Otherwise makes sure the device's
// settings file exists, copying the default file when it does not (like cp -p: contents, mode,
// owner where permitted, access and modification times; atomically, so a half-copied file is
// never read), and returns -1. A failed copy is silent: the following read reports the missing file.
int settings_mem_to_json(const char* serial, cellcounting_setting_s* settings,
                         const std::string& product_dir = default_product_dir);

// Fills *settings from the device's settings file, taking a key the file lacks from the default
// file. `new_format` is 1 for devices at 1.8.4 or newer ("Autofocusing channel in FL" goes to
// `channel`: BF 0, GF 1, RF 2, other 0), 0 for older ones ("Staining option": Trypan 0, other 1).
// Other bytes: slide_type and selected_chamber = atoi of "Slide type" / "Selected chamber", low 8
// bits; chamber_area = "Chamber area" Current 0, All 1, other 2; combine_result = 1 when slide_type
// is 3 and "Combine result" is "On"; autofocused_counting, autofocus_upon_slide_insertion = 1 for
// "On". Text comparisons are exact. source and spare become 0.
// Returns 1 when it filled the record; -1 otherwise, with the record unchanged.
// Standard output: "settings_json_parser, from dev " (source 1), "settings_json_parser, stat fail ",
// "settings_json_parser, file size fail ", "settings_json_parser, fopen fail" (either file).
// Standard error: per key taken from the defaults
// "settings_json_parser, WARN: No - <key> in <device file>, taking from defaults"; on failure
// "settings_json_parser, ERROR: No - <key> in default settings!",
// "Unknown cellcounting settings version!", "settings_json_parser, json fail: <path>: <problem>"
// (not valid JSON, not an object, or "<key>" is not a string).
// When `took_defaults` is given, it is set to whether any key came from the default file.
int settings_json_parser(const char* serial, cellcounting_setting_s* settings, int new_format,
                         const std::string& product_dir = default_product_dir,
                         bool* took_defaults = nullptr);
