#include "device_list.h"

#include <cstring>

#include "files.h"

namespace {

// The list as saved: one entry a line, in the set's (byte-wise) order.
std::string joined(const std::set<std::string>& entries) {
    std::string text;
    text.reserve(128);
    for (const std::string& entry : entries) {
        text += entry;
        text += '\n';
    }
    return text;
}

}  // namespace

devList::devList(std::string path) : path(std::move(path)) {}

bool devList::add(const std::string& key, std::string name) {
    std::lock_guard<std::mutex> guard(lock);
    if (names.insert(name).second) {
        entries.insert(key + "," + name);
        return true;
    }
    // Taken: it is still this device's name when the device is already listed.
    for (const std::string& entry : entries)
        if (entry.find(key) != std::string::npos)
            return true;
    return false;
}

bool devList::_delete(const std::string& entry) {
    std::lock_guard<std::mutex> guard(lock);
    const size_t comma = entry.rfind(',');
    if (comma != std::string::npos && comma + 1 < entry.size())
        names.erase(entry.substr(comma + 1));
    return entries.erase(entry) > 0;
}

size_t devList::count() {
    std::lock_guard<std::mutex> guard(lock);
    return entries.size();
}

void devList::clear() {
    std::lock_guard<std::mutex> guard(lock);
    entries.clear();
    names.clear();
}

std::unique_ptr<char[]> devList::entire(size_t* length) {
    std::string text;
    {
        std::lock_guard<std::mutex> guard(lock);
        text = joined(entries);
    }
    if (length)
        *length = text.size();
    if (text.empty())
        return nullptr;
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

bool devList::save() {
    if (path.empty())
        return false;
    return _save(path);
}

namespace {

bool write_list(const std::string& path, const char* text, size_t length) {
    // Other software on the PC reads the list.
    return replace_file_atomically(path, 0644, [&](int fd) { return write_all(fd, text, length); });
}

}  // namespace

bool devList::_save(const std::string& path) {
    size_t length = 0;
    const std::unique_ptr<char[]> text = entire(&length);
    return write_list(path, text.get(), length);
}

bool devList::save_and_clear() {
    std::set<std::string> taken;
    {
        std::lock_guard<std::mutex> guard(lock);
        taken.swap(entries);
        names.clear();
    }
    if (path.empty())
        return false;
    const std::string text = joined(taken);
    return write_list(path, text.data(), text.size());
}
