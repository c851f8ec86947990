#include "serial/comms_log.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <mutex>
#include <string.h>
#include <unistd.h>

namespace quorvane {

namespace {

constexpr std::size_t kBufferSize = 128;
constexpr char kLineBreak[] = "\r\n";

struct CommsLogState {
    std::mutex mutex;
    std::string name;
    int fd = -1;
    char buffer[kBufferSize];
    std::size_t used = 0;
};

CommsLogState& State() {
    static CommsLogState state;
    return state;
}

thread_local bool workerThread = false;

std::string IoErrorText(int code) {
    return "I/O error " + std::to_string(code) + ": " +
           (code == EBADF ? std::string("File not open") : std::string(std::strerror(code)));
}

// Writes the whole buffer out; errno is kept on failure.
bool FlushLocked(CommsLogState& s) {
    std::size_t done = 0;
    while (done < s.used) {
        const ssize_t n = ::write(s.fd, s.buffer + done, s.used - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            s.used = 0;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    s.used = 0;
    return true;
}

bool AppendLocked(CommsLogState& s, const char* data, std::size_t length) {
    if (s.fd < 0) {
        errno = EBADF;
        return false;
    }
    while (length > 0) {
        const std::size_t room = kBufferSize - s.used;
        const std::size_t part = length < room ? length : room;
        std::memcpy(s.buffer + s.used, data, part);
        s.used += part;
        data += part;
        length -= part;
        if (s.used == kBufferSize && !FlushLocked(s))
            return false;
    }
    return true;
}

locale_t EnglishLocale() {
    static const locale_t english = newlocale(LC_ALL_MASK, "C", nullptr);
    return english;
}

// The system's English text for an errno value; nullptr for a code the system does not know.
const char* SystemText(DWORD code) {
    if (code > 0x7fffffff || (code != 0 && strerrorname_np(static_cast<int>(code)) == nullptr))
        return nullptr;
    return strerror_l(static_cast<int>(code), EnglishLocale());
}

} // namespace

EInOutError::EInOutError(int code, const std::string& message)
    : std::runtime_error(message), ErrorCode(code) {}

void SetCommsLogName(const std::string& name) {
    CommsLogState& s = State();
    std::lock_guard lock(s.mutex);
    s.name = name;
}

std::string GetCommsLogName() {
    CommsLogState& s = State();
    std::lock_guard lock(s.mutex);
    return s.name;
}

void OpenCommsLog(const std::string& fileName) {
    CommsLogState& s = State();
    std::lock_guard lock(s.mutex);
    if (s.fd >= 0) {
        FlushLocked(s);
        ::close(s.fd);
        s.fd = -1;
    }
    s.used = 0;
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int code = errno;
        throw EInOutError(code, IoErrorText(code));
    }
    s.fd = fd;
}

void CloseCommsLog() {
    CommsLogState& s = State();
    std::lock_guard lock(s.mutex);
    if (s.fd < 0)
        throw EInOutError(EBADF, IoErrorText(EBADF));
    bool ok = FlushLocked(s);
    int code = errno;
    if (::close(s.fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    s.fd = -1;
    if (!ok)
        throw EInOutError(code, IoErrorText(code));
}

void WriteCommsLog(const char* text) {
    CommsLogState& s = State();
    std::unique_lock lock(s.mutex);
    if (s.name.empty())
        return;
    const bool ok = AppendLocked(s, text, std::strlen(text)) &&
                    AppendLocked(s, kLineBreak, sizeof kLineBreak - 1);
    if (!ok && !workerThread) {
        const int code = errno;
        lock.unlock();
        throw EInOutError(code, IoErrorText(code));
    }
}

void LogLastError(DWORD code, const char* prefix) {
    if (prefix == nullptr)
        prefix = "";
    char line[4096];
    if (char* text = FormatLastError(code, nullptr, 0)) {
        std::snprintf(line, sizeof line, "%sGetLastError returned: \"%s\"", prefix, text);
        LocalFree(text);
    } else {
        std::snprintf(line, sizeof line, "%sOut of memory", prefix);
    }
    WriteCommsLog(line);
}

char* FormatLastError(DWORD code, char* buffer, DWORD size) {
    DWORD lookupError;
    if (const char* text = SystemText(code)) {
        const std::size_t length = std::strlen(text);
        if (buffer == nullptr) {
            if (auto* block = static_cast<char*>(Ops().LocalAlloc(length + 1))) {
                std::memcpy(block, text, length + 1);
                return block;
            }
            lookupError = ENOMEM;
        } else if (length < size) {
            std::memcpy(buffer, text, length + 1);
            return buffer;
        } else {
            lookupError = ERANGE;
        }
    } else {
        lookupError = EINVAL;
    }
    char* out = buffer;
    if (out == nullptr) {
        size = 4096;
        out = static_cast<char*>(Ops().LocalAlloc(size));
        if (out == nullptr) {
            OutputDebugString("Out of memory trying to FormatLastError");
            return nullptr;
        }
    }
    if (size > 0)
        std::snprintf(out, size, "FormatMessage failed on error %u for the following reason: %u",
                      code, lookupError);
    return out;
}

void MarkCommsWorkerThread() {
    workerThread = true;
}

} // namespace quorvane
