// Runs the built sealprint the way the installation's software starts it.
#pragma once

#include <string>
#include <vector>

#include "common/process.h"

#include <gtest/gtest.h>

// Gives each test a fresh, empty folder `dir_`, removed afterwards.
class SealprintTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string dir_;
};

// The 13 arguments with everything but the report path filled plausibly.
std::vector<std::string> job_args(const std::string& report_path);

// sealprint with `args`, SUMMONED_BY_FILELIST set (unless `summoned` is false), TZ=UTC and no
// display. `wrapper` goes in front (e.g. a shell that lowers a limit first).
run_result_s run_sealprint(const std::vector<std::string>& args, bool summoned = true,
                           const std::vector<std::string>& wrapper = {});

// stdout split into lines, each without its line feed.
std::vector<std::string> lines_of(const std::string& out);
// The lines that begin with `prefix`.
std::vector<std::string> lines_starting(const std::string& out, const std::string& prefix);

// Standard output of a shell command.
std::string shell_output(const std::string& command);
