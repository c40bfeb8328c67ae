// Runs the built sealprint the way the installation's software starts it.
#pragma once

#include <string>
#include <vector>

#include "common/lines.h"
#include "common/process.h"
#include "common/scratch.h"

#include <gtest/gtest.h>

// Gives each test a fresh, empty folder `dir_`, removed afterwards.
class SealprintTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.ok()) << dir_; }
    scratch_dir_s scratch_{"sealprint"};
    const std::string dir_ = scratch_.path();
};

// The 13 arguments with everything but the report path filled plausibly.
std::vector<std::string> job_args(const std::string& report_path);

// sealprint with `args`, SUMMONED_BY_FILELIST set (unless `summoned` is false), TZ=UTC and no
// display. `wrapper` goes in front (e.g. a shell that lowers a limit first).
run_result_s run_sealprint(const std::vector<std::string>& args, bool summoned = true,
                           const std::vector<std::string>& wrapper = {});
