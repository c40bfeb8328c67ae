#include "seal_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "log_file.h"

namespace {

constexpr char kFirstKeyLabel[] = "tessivane_log sealing key";
constexpr char kNextKeyLabel[] = "tessivane_log next key";
constexpr char kKeyFileTitle[] = "tessivane_log sealing key";
constexpr char kHex[] = "0123456789abcdef";

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Exactly 2 * size hex digits.
bool from_hex(const std::string& text, uint8_t* bytes, size_t size) {
    if (text.size() != 2 * size)
        return false;
    for (size_t i = 0; i < size; ++i) {
        const int hi = hex_value(text[2 * i]), lo = hex_value(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

// Decimal digits only, at most 18 of them (no overflow, no sign).
bool parse_count(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 18)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::string errno_text() {
    return std::strerror(errno);
}

constexpr char kTemporaryTag[] = ".tmp-";

struct fd_closer {
    int fd = -1;
    ~fd_closer() {
        if (fd >= 0)
            close(fd);
    }
};

}  // namespace

std::string hex_of(const uint8_t* bytes, size_t size) {
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 15];
    }
    return out;
}

int64_t period_of(int64_t time, int64_t start, int64_t interval) {
    return time <= start || interval <= 0 ? 0 : (time - start) / interval;
}

digest_t first_key(sha256_s& sha, const seed_t& seed) {
    sha.begin();
    sha.add(kFirstKeyLabel, sizeof kFirstKeyLabel - 1);
    sha.add(seed.data(), seed.size());
    return sha.end();
}

digest_t next_key(sha256_s& sha, const digest_t& key) {
    sha.begin();
    sha.add(kNextKeyLabel, sizeof kNextKeyLabel - 1);
    sha.add(key.data(), key.size());
    return sha.end();
}

bool evolve_key(sha256_s& sha, seal_key_s& key, int64_t period) {
    for (; key.period < period; ++key.period)
        key.key = next_key(sha, key.key);
    return sha.ok();
}

std::string key_file_path(const std::string& db_path) {
    return db_path + ".sealkey";
}

std::string format_key_file(const seal_key_s& key) {
    return std::string(kKeyFileTitle) + "\nsetup " + std::to_string(key.setup) + "\nstart " +
           std::to_string(key.start) + "\ninterval " + std::to_string(key.interval) + "\nperiod " +
           std::to_string(key.period) + "\nkey " + hex_of(key.key.data(), key.key.size()) + "\n";
}

bool parse_key_file(const std::string& text, seal_key_s& key) {
    const char* names[] = {"setup", "start", "interval", "period", "key"};
    int64_t* numbers[] = {&key.setup, &key.start, &key.interval, &key.period};
    size_t at = text.find('\n');
    if (at == std::string::npos || text.compare(0, at, kKeyFileTitle) != 0)
        return false;
    ++at;
    for (int i = 0; i < 5; ++i) {
        const size_t end = text.find('\n', at);
        const std::string name = std::string(names[i]) + " ";
        if (end == std::string::npos || text.compare(at, name.size(), name) != 0)
            return false;
        const std::string value = text.substr(at + name.size(), end - at - name.size());
        const bool ok = i < 4 ? parse_count(value, *numbers[i])
                              : from_hex(value, key.key.data(), key.key.size());
        if (!ok)
            return false;
        at = end + 1;
    }
    return at == text.size() && key.interval >= 1 && key.setup >= 1;
}

bool read_key_file(const std::string& path, seal_key_s& key, std::string& why) {
    fd_closer f{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)};
    if (f.fd < 0) {
        why = errno == ENOENT ? "missing" : "unreadable: " + errno_text();
        return false;
    }
    // The file is a few lines; anything much longer is not a key file.
    char buf[512];
    std::string text;
    ssize_t n;
    while ((n = read(f.fd, buf, sizeof buf)) > 0 && text.size() < 4096)
        text.append(buf, static_cast<size_t>(n));
    if (n < 0) {
        why = "unreadable: " + errno_text();
        return false;
    }
    if (!parse_key_file(text, key)) {
        why = "not a sealing key file";
        return false;
    }
    return true;
}

bool replace_key_file(const std::string& path, const seal_key_s& key, std::string& why) {
    replacement_file_s::remove_stale(path, kTemporaryTag);
    replacement_file_s file(path, kTemporaryTag);
    const std::string text = format_key_file(key);
    if (!file.ok() || !write_all(file.fd(), text.data(), text.size())) {
        why = file.ok() ? errno_text() : file.why();
        return false;
    }
    fd_closer old{open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW)};
    if (!file.commit(0600)) {
        why = file.why();
        return false;
    }
    struct stat st {};
    if (old.fd >= 0 && fstat(old.fd, &st) == 0 && st.st_size > 0) {
        const std::string zeros(static_cast<size_t>(st.st_size), '\0');
        if (write_all(old.fd, zeros.data(), zeros.size()))
            fdatasync(old.fd);
    }
    return true;
}

std::string format_verification_key(const verification_key_s& key) {
    const std::string hex = hex_of(key.seed.data(), key.seed.size());
    return hex.substr(0, 8) + "-" + hex.substr(8, 8) + "-" + hex.substr(16, 8) + "-" +
           hex.substr(24, 8) + "/" + std::to_string(key.start) + "/" + std::to_string(key.interval);
}

bool parse_verification_key(const std::string& text, verification_key_s& key) {
    const size_t first = text.find('/');
    const size_t second = first == std::string::npos ? first : text.find('/', first + 1);
    if (second == std::string::npos)
        return false;
    std::string hex;
    for (char c : text.substr(0, first)) {
        if (c != '-')
            hex += c;
    }
    return from_hex(hex, key.seed.data(), key.seed.size()) &&
           parse_count(text.substr(first + 1, second - first - 1), key.start) &&
           parse_count(text.substr(second + 1), key.interval) && key.interval >= 1;
}
