// The register of devices that announced themselves during the current cycle, and the names they
// use. Safe to use from several threads: every operation takes the one (non-recursive) lock.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <string>

class devList {
public:
    // `path` is the file `save` writes; empty means the list is never saved.
    explicit devList(std::string path);
    devList(const devList&) = delete;
    devList& operator=(const devList&) = delete;

    // Registers `name` for the device `key` ("address,serial,version"). Returns true when the name
    // was free (the entry "key,name" is added), or when it is taken and some entry contains `key`
    // (the device keeps its name; nothing is added). Returns false when the name belongs to another
    // device: the caller tries another name.
    bool add(const std::string& key, std::string name);

    // Removes `entry` ("key,name") and the name after its last comma. Returns whether an entry was
    // removed.
    bool _delete(const std::string& entry);

    size_t count();
    void clear();

    // Every entry followed by "\n", in byte-wise order, NUL-terminated; its length (without the
    // NUL) goes to *length. Null when the list is empty.
    std::unique_ptr<char[]> entire(size_t* length);

    // Writes the list to the bound path; false when there is none or `_save` fails.
    bool save();

    // Ends a cycle: takes the entries and frees every name under one hold of the lock, then
    // writes what it took to the bound path as `_save` would. A device that announces while the
    // file is written (and synced, which may take a while) belongs to the next cycle instead of
    // being cleared unsaved. The list is emptied even when there is no path or the write fails
    // (false then).
    bool save_and_clear();

    // Replaces the file at `path` atomically with the list (an empty list gives an empty file):
    // the text goes to a new file created exclusively in the same folder, which is then renamed
    // over `path`. A link planted at `path` is replaced, never followed; a reader sees the old or
    // the new list, never a part. The file gets mode 0644. Returns true when all was written and
    // renamed; false leaves `path` as it was.
    bool _save(const std::string& path);

private:
    std::set<std::string> entries;
    std::set<std::string> names;
    std::mutex lock;
    std::string path;
};
