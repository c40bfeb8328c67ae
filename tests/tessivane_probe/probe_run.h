// Running the built probe and reading what it prints.
#pragma once

#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "common/lines.h"
#include "common/process.h"

// Runs tessivane_probe with `args` (local time zone UTC); fails the test when it crashed or a
// sanitizer reported.
run_result_s probe(const std::vector<std::string>& args, double timeout_s = 30.0);
// Each line of `out` parsed as one JSON object.
std::vector<rapidjson::Document> json_lines(const std::string& out);
