#pragma once
// Replacing a file whole. The new contents go to a temporary file in the target's folder, are
// flushed to disk and renamed over the target, so a crash, a kill or a full disk at any moment
// leaves either the old file or the new one, never a mixture or an empty file.

#include "core/fd.h"

#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace quorvane {

class FileReplacement {
public:
    // Creates the temporary file beside `target` (a hidden ".<name>.quorvane-<pid>.tmp"), `mode`
    // subject to the umask as for any new file, after removing those that processes since gone
    // (killed before their rename) left for the same target. `target` must not be a symbolic
    // link the caller wants kept: the rename replaces whatever the name is.
    FileReplacement(const std::string& target, mode_t mode);
    // Removes the temporary file unless the replacement was committed.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // False when the temporary file could not be created; error() tells why.
    bool ok() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    // The errno of the last failure, 0 when there was none.
    int error() const { return error_; }

    bool Write(const void* data, std::size_t size);
    // Whether a commit waits for the contents to reach the disk: a file that only has to outlive
    // its process (the kernel keeps what a killed process wrote), not a power cut, skips it.
    enum class Flush { ToDisk, No };
    // Flushes the contents to disk (as `flush` says), then renames them over the target. On
    // failure the target is untouched, the temporary file removed, and error() tells why.
    bool Commit(Flush flush = Flush::ToDisk);

    // Gives the new contents the mode of the file they replace (`old`, as stat read it) and, when
    // this process may (root), its owner and group: replacing a file must not change who may
    // read it. False, with error(), when that cannot be done.
    bool KeepOwnerAndModeOf(const struct stat& old);

private:
    bool Fail();

    std::string target_;
    std::string temp_;
    UniqueFd fd_;
    int error_ = 0;
};

// Whether this process may replace `target` through a FileReplacement, decided before anything
// is written. The rename needs only the folder's write permission, so the file's own is checked
// apart: a file the user may not write is not replaced either. Root passes the kernel's
// permission checks whatever the mode says, so for root a file or folder whose mode grants write
// to nobody (0444, 0555) counts as read-only; one that grants it to anyone is root's to write.
enum class ReplaceRight {
    Granted,
    FileReadOnly,   // the existing file may not be written (or is on a read-only file system)
    FolderReadOnly, // no file may be made in its folder
    NoFolder,       // its folder does not exist, or is no folder
};
struct ReplaceCheck {
    ReplaceRight right = ReplaceRight::Granted;
    int error = 0; // the errno behind a refusal
};
ReplaceCheck CheckReplaceRight(const std::string& target);

} // namespace quorvane
