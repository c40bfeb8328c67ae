#include "common/scratch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "common/files.h"

scratch_dir_s::scratch_dir_s(const std::string& prefix) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // Parameterised tests are named "Name/0": keep the name a single folder.
    std::string name = info ? info->name() : "outside_a_test";
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
    path_ = ::testing::TempDir() + prefix + "_" + name + "_" + std::to_string(getpid());
    ok_ = fresh_dir(path_);
}

scratch_dir_s::~scratch_dir_s() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}
