#pragma once
// Replacing a file whole. The new contents go to a temporary file in the target's folder, are
// flushed to disk and renamed over the target, so a crash, a kill or a full disk at any moment
// leaves either the old file or the new one, never a mixture or an empty file.

#include "core/fd.h"

#include <string>
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

private:
    bool Fail();

    std::string target_;
    std::string temp_;
    UniqueFd fd_;
    int error_ = 0;
};

} // namespace quorvane
