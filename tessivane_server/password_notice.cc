#include "password_notice.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "files.h"

namespace {

std::string notice_path(const std::string& product_dir) {
    return product_dir + "/users/pw_changed.txt";
}

}  // namespace

bool write_password_notice(const std::string& user_name, const std::string& product_dir) {
    // Only the server reads it back: owner-only.
    return replace_file_atomically(notice_path(product_dir), 0600, [&](int fd) {
        return write_all(fd, user_name.data(), user_name.size());
    });
}

bool claim_password_notice(std::string& user_name, const std::string& product_dir) {
    const std::string path = notice_path(product_dir);
    const std::string claimed = path + ".claimed";
    if (std::rename(path.c_str(), claimed.c_str()) != 0)
        return false;
    char line[32] = {};
    if (const unique_file file = open_for_reading(claimed)) {
        if (!std::fgets(line, sizeof line, file.get()))
            line[0] = '\0';
    }
    ::unlink(claimed.c_str());
    line[std::strcspn(line, "\r\n")] = '\0';
    user_name = line;
    return true;
}
