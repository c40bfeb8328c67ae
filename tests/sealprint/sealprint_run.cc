#include "sealprint_run.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/files.h"

void SealprintTest::SetUp() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = ::testing::TempDir() + "sealprint_" + info->name() + "_" + std::to_string(getpid());
    ASSERT_TRUE(fresh_dir(dir_)) << dir_;
}

void SealprintTest::TearDown() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::vector<std::string> job_args(const std::string& report_path) {
    return {"jdoe", "4a6f686e20446f65", "user", report_path, "_", "_", "", "_", "_", "", "_", "_", ""};
}

run_result_s run_sealprint(const std::vector<std::string>& args, bool summoned,
                           const std::vector<std::string>& wrapper) {
    std::vector<std::string> argv = wrapper;
    argv.push_back(SEALPRINT_PROGRAM);
    argv.insert(argv.end(), args.begin(), args.end());
    run_options_s opt;
    opt.set_env = {{"TZ", "UTC"}};
    // In the sanitizer builds: this toolchain's LeakSanitizer can crash reading the dynamic TLS
    // of the libraries that the image plug-ins load (a TIFF decoded, some environments), unless
    // it leaves __tls_get_addr alone. Plain builds ignore the variable.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string earlier = asan && *asan ? std::string(asan) + ":" : "";
    opt.set_env.push_back({"ASAN_OPTIONS", earlier + "intercept_tls_get_addr=0"});
    opt.unset_env = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "SUMMONED_BY_FILELIST"};
    if (summoned) opt.set_env.push_back({"SUMMONED_BY_FILELIST", "1"});
    return run_program(argv, opt);
}

std::vector<std::string> lines_of(const std::string& out) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        lines.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> lines_starting(const std::string& out, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : lines_of(out)) {
        if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    }
    return found;
}

std::string shell_output(const std::string& command) {
    return run_program({"/bin/sh", "-c", command}).out;
}
