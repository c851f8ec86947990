#pragma once
// The serial component's diagnostic log, one for the whole program and shared by every TComm32
// and its threads: the text file CommsLog, the log name, and the three operations that write it.
// Lines are written only while the log name is not empty; each ends in CR LF; lines of the main
// thread, the reader and the writer never interleave. Output goes through a 128-byte buffer and
// reaches the file when the buffer fills and, at the latest, when the log is closed.

#include "serial/posix_ops.h"

#include <stdexcept>
#include <string>

namespace quorvane {

// The run-time library's input/output error: a log file that cannot be created, written or
// closed. ErrorCode is the errno value.
class EInOutError : public std::runtime_error {
public:
    EInOutError(int code, const std::string& message);
    int ErrorCode;
};

// The program-wide log name; WriteCommsLog writes only while it is not empty.
void SetCommsLogName(const std::string& name);
std::string GetCommsLogName();

// Binds CommsLog to `fileName` and creates it anew (an existing file is emptied; other programs
// may read it meanwhile). A log that was still open is closed first. Throws EInOutError.
void OpenCommsLog(const std::string& fileName);
// Writes out what is buffered and closes CommsLog. Throws EInOutError, also when it is not open.
void CloseCommsLog();

// Appends `text` and CR LF when the log name is set. On the main thread a failed write throws
// EInOutError; on the reader and writer threads the line is dropped (they never raise).
void WriteCommsLog(const char* text);

// Writes the line: prefix (none = empty), "GetLastError returned: ", '"', the system's English
// text for `code`, '"'; or prefix and "Out of memory" when there is no text. At most 4 095
// characters.
void LogLastError(DWORD code, const char* prefix);

// The system's English text for `code`. Without a buffer the text is in a block from LocalAlloc
// that the caller releases with LocalFree; with one, at most `size` characters (with the closing
// zero) go into it and it is returned. A failed look-up (an unknown code, a buffer too small, no
// memory for the text) gives "FormatMessage failed on error <code> for the following reason:
// <the look-up's own error code>". nullptr only when not even that text has room: then "Out of
// memory trying to FormatLastError" goes to the debug output.
char* FormatLastError(DWORD code, char* buffer, DWORD size);

// Marks the calling thread as one of the component's worker threads (see WriteCommsLog).
void MarkCommsWorkerThread();

} // namespace quorvane
