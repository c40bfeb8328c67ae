#include "common/files.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

bool write_file(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

bool fresh_dir(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return std::filesystem::create_directories(path, ec);
}
