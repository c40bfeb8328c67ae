#include "sealprint_run.h"

#include <cstdlib>

std::vector<std::string> job_args(const std::string& report_path) {
    return {"jdoe", "4a6f686e20446f65", "user", report_path, "_", "_", "", "_", "_", "", "_", "_",
            ""};
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
    if (summoned)
        opt.set_env.push_back({"SUMMONED_BY_FILELIST", "1"});
    return run_program(argv, opt);
}
