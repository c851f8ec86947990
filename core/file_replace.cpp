#include "core/file_replace.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace quorvane {

FileReplacement::FileReplacement(const std::string& target, mode_t mode) : target_(target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        temp_ = folder + "." + base + "." + suffix + ".tmp";
        fd_.reset(::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (fd_ || errno != EEXIST)
            break;
    }
    if (!fd_) {
        error_ = errno;
        temp_.clear();
    }
}

FileReplacement::~FileReplacement() {
    if (!temp_.empty())
        ::unlink(temp_.c_str());
}

bool FileReplacement::Fail() {
    error_ = errno;
    return false;
}

bool FileReplacement::Write(const void* data, std::size_t size) {
    return fd_ && (WriteAll(fd_.get(), data, size) || Fail());
}

bool FileReplacement::Commit() {
    if (!fd_)
        return false;
    // On disk before it replaces the old file, or a power cut could leave an empty one.
    if (::fdatasync(fd_.get()) != 0 || !fd_.Close())
        return Fail();
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        return Fail();
    temp_.clear();
    return true;
}

} // namespace quorvane
