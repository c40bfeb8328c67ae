// Loaded into sealprint with LD_PRELOAD by the save tests: makes one step of the save fail for
// the job's temporary files only (names beginning ".sealprint-"), as a full or misbehaving
// file system would. SEALPRINT_TEST_FAIL names the step:
//   fchmod          fchmod fails with EPERM
//   fchmod_ignored  fchmod reports success but changes nothing
//   rename          rename fails with EXDEV
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool failing(const char* step) {
    const char* which = getenv("SEALPRINT_TEST_FAIL");
    return which && strcmp(which, step) == 0;
}

bool temporary_name(const char* path) {
    return path && strstr(path, "/.sealprint-") != nullptr;
}

bool temporary_fd(int fd) {
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return false;
    target[n] = '\0';
    return temporary_name(target);
}

template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fchmod(int fd, mode_t mode) {
    static const auto real = next<int (*)(int, mode_t)>("fchmod");
    if (temporary_fd(fd)) {
        if (failing("fchmod")) {
            errno = EPERM;
            return -1;
        }
        if (failing("fchmod_ignored"))
            return 0;
    }
    return real(fd, mode);
}

extern "C" int rename(const char* from, const char* to) {
    static const auto real = next<int (*)(const char*, const char*)>("rename");
    if (failing("rename") && temporary_name(from)) {
        errno = EXDEV;
        return -1;
    }
    return real(from, to);
}
