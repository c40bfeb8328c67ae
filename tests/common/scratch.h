// A scratch folder for one test: fresh and empty at the start, gone with everything in it at
// the end, so that no test sees what another left behind.
#pragma once

#include <string>

class scratch_dir_s {
public:
    // <test temporary folder>/<prefix>_<test name>_<process id>; ok() tells whether it was made.
    explicit scratch_dir_s(const std::string& prefix);
    ~scratch_dir_s();
    scratch_dir_s(const scratch_dir_s&) = delete;
    scratch_dir_s& operator=(const scratch_dir_s&) = delete;

    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    bool ok_ = false;
};
