// Small file helpers for black-box tests.
#pragma once

#include <string>

bool write_file(const std::string& path, const std::string& bytes);
// Empty string when the file cannot be read; use file_exists to tell the two apart.
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
// Removes path recursively (if present) and creates it empty; returns false on failure.
bool fresh_dir(const std::string& path);
