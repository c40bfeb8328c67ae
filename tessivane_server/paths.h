// Fixed locations of the installation (set at configure time) and the guard for names that come
// from the network before they become part of a path.
#pragma once

#include <string>

// The product directory, holding settings/, default/, security/ and users/. Functions that use it
// take it as a parameter defaulting to this, so tests can run on a private copy.
constexpr const char* default_product_dir = PRODUCT_DIR;
// The device list the server publishes for other software on the PC.
constexpr const char* default_devlist_file = DEVLIST_FILE;

// True when `name` can stand as exactly one file-name component inside a folder: not empty, not "."
// or "..", no "/" and no control character. A device serial is joined into a path only then.
inline bool is_safe_path_component(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (unsigned char c : name)
        if (c == '/' || c < 0x20 || c == 0x7f)
            return false;
    return true;
}
