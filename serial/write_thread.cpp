#include "serial/write_thread.h"

#include "serial/comms_log.h"
#include "serial/read_thread.h"

#include <cerrno>
#include <new>
#include <string>
#include <unistd.h>

namespace quorvane {

namespace {
void ReleaseRequest(const TMessage& message) {
    if (message.Msg == WM_COMMWRITE)
        LocalFree(reinterpret_cast<void*>(message.LParam));
}
} // namespace

TWriteThread::TWriteThread(int queueEvent) : queue_(queueEvent, &ReleaseRequest) {}

TWriteThread* TWriteThread::Create() {
    const int queueEvent = Ops().CreateEventFd();
    if (queueEvent < 0) {
        SetLastError(static_cast<DWORD>(errno));
        return nullptr;
    }
    auto* thread = new (std::nothrow) TWriteThread(queueEvent);
    if (thread == nullptr) {
        ::close(queueEvent);
        SetLastError(ENOMEM);
    }
    return thread;
}

bool TWriteThread::PostThreadMessage(DWORD msg, std::uintptr_t wParam, std::intptr_t lParam) {
    return queue_.Post(TMessage{msg, wParam, lParam, 0});
}

void TWriteThread::Execute() {
    TWriteOverlapped record;
    [&] {
        if (!CreateRecordEvent()) {
            LogLastError(GetLastError(), "Unable to CreateEvent: ");
            PostHangupRequest();
            return;
        }
        for (;;) {
            TMessage message;
            if (!queue_.Take(message)) {
                const DWORD result = WaitForEvents(CloseEvent, queue_.Handle());
                switch (result) {
                case WAIT_FAILED:
                    LogLastError(GetLastError(), "Write WAIT_FAILED: ");
                    PostHangupRequest();
                    return;
                case WAIT_OBJECT_0:
                    return;
                case WAIT_OBJECT_0 + 1:
                    queue_.ClearSignal();
                    continue;
                default:
                    WriteCommsLog(
                        ("Unexpected Wait return value " + std::to_string(result)).c_str());
                    PostHangupRequest();
                    return;
                }
            }
            if (PollEvent(CloseEvent) != WAIT_TIMEOUT) {
                ReleaseRequest(message); // not handled: the stop came first
                return;
            }
            // Only thread messages reach this queue: no window lives on the writer's thread.
            if (message.Msg == WM_COMMWRITE) {
                WriteCommsLog("Writing to comm port");
                auto* bytes = reinterpret_cast<unsigned char*>(message.LParam);
                const bool written =
                    HandleWriteData(record, bytes, static_cast<DWORD>(message.WParam));
                LocalFree(bytes);
                if (!written)
                    return;
            } else {
                WriteCommsLog(("Unexpected message posted to Write thread: " +
                               std::to_string(message.Msg))
                                  .c_str());
            }
        }
    }();
    // Shutdown, the one way out.
    WriteCommsLog("Write thread shutting down");
    PurgeComm(CommFile, PURGE_TXABORT | PURGE_TXCLEAR);
}

bool TWriteThread::HandleWriteData(TWriteOverlapped& record, const unsigned char* bytes,
                                   DWORD count) {
    DWORD position = 0;
    auto remaining = static_cast<std::int32_t>(count);
    do {
        DWORD written = 0;
        if (!WriteFile(CommFile, bytes + position, static_cast<DWORD>(remaining), &written,
                       record)) {
            const DWORD error = GetLastError();
            if (IsInvalidHandleError(error)) {
                WriteCommsLog(kInvalidHandleText);
                return false;
            }
            if (!IsPendingError(error)) {
                LogLastError(error, "Error to writing to CommFile");
                WriteCommsLog("Closing TAPI");
                PostHangupRequest();
                return false;
            }
            const DWORD result = WaitForPort(CloseEvent, CommFile, {&record});
            if (result == WAIT_FAILED) {
                LogLastError(GetLastError(), "Write WAIT_FAILED: ");
                PostHangupRequest();
                return false;
            }
            if (result == WAIT_OBJECT_0)
                return false; // the stop: the pending write is left to the purge
            if (result != WAIT_OBJECT_0 + 1) {
                WriteCommsLog(("Unexpected Wait return value " + std::to_string(result)).c_str());
                PostHangupRequest();
                return false;
            }
            if (!GetOverlappedResult(record, &written)) {
                const DWORD failure = GetLastError();
                if (IsInvalidHandleError(failure)) {
                    WriteCommsLog(kInvalidHandleText);
                } else {
                    LogLastError(failure, "Error writing to CommFile while waiting");
                    WriteCommsLog("Closing TAPI");
                    PostHangupRequest();
                }
                return false;
            }
        }
        remaining -= static_cast<std::int32_t>(written);
        position += written;
    } while (remaining > 0);
    return true;
}

bool TWriteThread::PostHangupRequest() {
    return NotifyWindow->PostMessage(WM_COMMHANGUP, 0, 0);
}

} // namespace quorvane
