// How sealprint replaces a file that other software reads (the instrument's PDF of a result).
//
// The promise of replace_file, kept in this one place:
//   1. The new contents go into a temporary file in the target's own folder, created
//      exclusively (O_CREAT | O_EXCL through mkstemp: mode 0600, a random part in its name)
//      and written only through the descriptor that created it. No name is opened twice and
//      no link is followed, so a link planted at any name one could predict is harmless.
//   2. The temporary file is fsynced before anything else happens to it.
//   3. It gets the permission bits of the file it replaces (0666 less the umask when there is
//      none); fchmod is checked and fstat must show exactly those bits.
//   4. It is renamed over the target, and the folder is fsynced so the rename is on disk.
//   5. A failure in steps 1 to 4 removes the temporary file; the target was never opened for
//      writing and stays byte for byte what it was. (Only a failed fsync of the folder, after
//      the rename, leaves the new file in place while reporting the failure.)
// Temporary names are "<prefix><pid>-XXXXXX": the process id tells a later run whether the
// file belongs to a process that is still running (remove_stale_temporaries).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

enum replace_step_e {
    REPLACE_DONE = 0,
    REPLACE_CREATE,       // the temporary file could not be created
    REPLACE_WRITE,        // the contents writer failed
    REPLACE_SYNC,         // fsync of the temporary file
    REPLACE_MODE,         // the permission bits could not be read, set or confirmed
    REPLACE_RENAME,       // rename over the target
    REPLACE_SYNC_FOLDER,  // fsync of the folder, after the rename
};

struct replace_outcome_s {
    replace_step_e failed = REPLACE_DONE;
    int error = 0;  // errno of the failed step
};

// Writes the whole contents into `fd`; returns 0, or an errno value.
using contents_writer_f = std::function<int(int fd)>;

// Replaces `target` with what `write_contents` writes, as promised above.
replace_outcome_s replace_file(const std::string& target, const std::string& prefix,
                               const contents_writer_f& write_contents);

// write(2) until every byte is out; 0, or the errno of the write that failed.
int write_all_or_errno(int fd, const char* data, size_t size);

// Removes the temporary files a killed run left in `folder`: regular files (never links,
// never folders) named "<prefix><pid>-..." or "<prefix><pid>.tmp" whose process no longer
// exists. Returns how many were removed.
int remove_stale_temporaries(const std::string& folder, const std::string& prefix);
