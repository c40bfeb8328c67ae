// Output read line by line.
#pragma once

#include <string>
#include <vector>

// `text` split at line feeds, each line without its line feed; a last line without one counts.
std::vector<std::string> lines_of(const std::string& text);
// The lines that begin with `prefix`.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix);
// How often `what` occurs in `text`, overlapping occurrences included.
int count_of(const std::string& text, const std::string& what);
