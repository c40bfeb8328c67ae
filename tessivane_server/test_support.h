// Shared by the unit tests: a private folder per test and small file helpers.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

// A fresh folder of its own under the build tree, removed with everything in it afterwards.
class ScratchDir {
public:
    ScratchDir() {
        fs::create_directories(TEST_SCRATCH_DIR);
        std::string templ = std::string(TEST_SCRATCH_DIR) + "/t.XXXXXX";
        if (!::mkdtemp(templ.data()))
            ADD_FAILURE() << "mkdtemp failed";
        path = templ;
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// A product folder with the settings/, default/ and security/ folders the server expects.
struct ProductDir : ScratchDir {
    ProductDir() {
        dir = *this / "product";
        for (const char* sub : {"settings", "default", "security"})
            fs::create_directories(dir + "/" + sub);
    }
    std::string dir;
};

inline void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct Captured {
    std::string out, err;
};

// What `run` writes to standard output and standard error.
inline Captured capture(const std::function<void()>& run) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    run();
    Captured c;
    c.out = ::testing::internal::GetCapturedStdout();
    c.err = ::testing::internal::GetCapturedStderr();
    return c;
}
