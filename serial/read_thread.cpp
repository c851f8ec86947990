#include "serial/read_thread.h"

#include "serial/comms_log.h"

#include <cstring>
#include <string>

namespace quorvane {

void TReadThread::Execute() {
    readRecord_ = TReadOverlapped{};
    commRecord_ = TCommEventOverlapped{};
    [&] {
        if (!CreateRecordEvent() || !CreateRecordEvent()) {
            LogLastError(GetLastError(), "Unable to CreateEvent: ");
            PostHangupRequest();
            return;
        }
        if (!SetCommMask(CommFile, EV_ERR, line_)) {
            LogLastError(GetLastError(), "Unable to SetCommMask: ");
            PostHangupRequest();
            return;
        }
        if (!SetupCommEvent()) {
            LogLastError(GetLastError(), "Unable to SetupCommEvent1: ");
            PostHangupRequest();
            return;
        }
        if (!SetupReadEvent()) {
            LogLastError(GetLastError(), "Unable to SetupReadEvent: ");
            PostHangupRequest();
            return;
        }
        for (;;) {
            const DWORD result = WaitForPort(CloseEvent, CommFile, {&commRecord_, &readRecord_});
            switch (result) {
            case WAIT_FAILED:
                LogLastError(GetLastError(), "Read WAIT_FAILED: ");
                PostHangupRequest();
                return;
            case WAIT_OBJECT_0:
                OutputDebugString("Time to Exit");
                return;
            case WAIT_OBJECT_0 + 1:
                if (!HandleCommEvent(&commRecord_, eventMask_, true)) {
                    PostHangupRequest();
                    LogLastError(GetLastError(), "Unable HandleCommEvent: ");
                    return;
                }
                if (!SetupCommEvent()) {
                    PostHangupRequest();
                    LogLastError(GetLastError(), "Unable to SetupCommEvent2: ");
                    return;
                }
                break;
            case WAIT_OBJECT_0 + 2:
                if (!HandleReadEvent()) {
                    PostHangupRequest();
                    LogLastError(GetLastError(), "Unable to HandleReadEvent: ");
                    return;
                }
                if (!SetupReadEvent()) {
                    PostHangupRequest();
                    return;
                }
                break;
            default:
                WriteCommsLog(("Unexpected Wait return value " + std::to_string(result)).c_str());
                PostHangupRequest();
                return;
            }
        }
    }();
    // Shutdown, the one way out.
    WriteCommsLog("Read thread shutting down");
    PurgeComm(CommFile, PURGE_RXABORT | PURGE_RXCLEAR);
}

bool TReadThread::SetupReadEvent() {
    for (;;) {
        if (PollEvent(CloseEvent) != WAIT_TIMEOUT)
            return false;
        if (ReadFile(CommFile, readBuffer_, sizeof readBuffer_, &bytesRead_, readRecord_)) {
            WriteCommsLog("Data waiting for ReadFile: ");
            if (!HandleReadData(readBuffer_, bytesRead_))
                return false;
            continue;
        }
        const DWORD error = GetLastError();
        if (IsPendingError(error)) {
            WriteCommsLog("Waiting for data from comm connection.");
            return true;
        }
        if (IsInvalidHandleError(error)) {
            WriteCommsLog(kInvalidHandleText);
            return false;
        }
        LogLastError(error, "Unexpected ReadFile error: ");
        PostHangupRequest();
        return false;
    }
}

bool TReadThread::HandleReadEvent() {
    if (GetOverlappedResult(readRecord_, &bytesRead_))
        return HandleReadData(readBuffer_, bytesRead_);
    const DWORD error = GetLastError();
    if (IsInvalidHandleError(error)) {
        WriteCommsLog(kInvalidHandleText);
    } else {
        LogLastError(error, "Unexpected GetOverlappedResult Read Error: ");
        PostHangupRequest();
    }
    return false;
}

bool TReadThread::HandleReadData(const unsigned char* buffer, DWORD count) {
    if (count == 0)
        return false;
    WriteCommsLog("Got something from Comm port!!!");
    void* block = LocalAlloc(count + 1);
    if (block == nullptr) {
        LogLastError(GetLastError(), "LocalAlloc: ");
        return false;
    }
    std::memcpy(block, buffer, count);
    return PostReceiveData(block, count);
}

bool TReadThread::SetupCommEvent() {
    for (;;) {
        if (PollEvent(CloseEvent) != WAIT_TIMEOUT)
            return false;
        if (WaitCommEvent(CommFile, &eventMask_, commRecord_, line_)) {
            WriteCommsLog("Event (Error) waiting before WaitCommEvent.");
            if (!HandleCommEvent(nullptr, eventMask_, false))
                return false;
            continue;
        }
        const DWORD error = GetLastError();
        if (IsPendingError(error)) {
            WriteCommsLog("Waiting for a CommEvent (Error) to occur.");
            return true;
        }
        if (IsInvalidHandleError(error))
            WriteCommsLog(kInvalidHandleText);
        else
            LogLastError(error, "Unexpected WaitCommEvent error: ");
        return false;
    }
}

bool TReadThread::HandleCommEvent(TCommEventOverlapped* record, DWORD eventMask, bool retrieve) {
    constexpr std::size_t kBlockSize = 256;
    auto* block = static_cast<char*>(LocalAlloc(kBlockSize));
    if (block == nullptr) {
        LogLastError(GetLastError(), "LocalAlloc: ");
        return false;
    }
    auto fail = [&](const char* prefix) {
        const DWORD error = GetLastError();
        if (IsInvalidHandleError(error))
            WriteCommsLog(kInvalidHandleText);
        else
            LogLastError(error, prefix);
        LocalFree(block);
        return false;
    };
    if (retrieve && !GetOverlappedResult(*record))
        return fail("Unexpected GetOverlappedResult for WaitCommEvent: ");
    if (!(eventMask & EV_ERR)) {
        WriteCommsLog(("Unexpected comm event " + std::to_string(eventMask)).c_str());
        LocalFree(block);
        return false;
    }
    DWORD errors = 0;
    if (!ClearCommError(CommFile, &errors, line_))
        return fail("ClearCommError: ");
    const std::string report = CommEventReport(errors);
    const std::size_t length = report.size() < kBlockSize ? report.size() : kBlockSize - 1;
    std::memcpy(block, report.data(), length);
    const auto count = static_cast<DWORD>(length);
    PostReceiveData(block, count);
    return true;
}

std::string CommEventReport(DWORD errors) {
    std::string list;
    auto add = [&list](const char* item) {
        if (!list.empty())
            list += " and ";
        list += item;
    };
    if (errors == 0)
        add("NULL Error");
    if (errors & CE_FRAME)
        add("CE_FRAME");
    if (errors & CE_OVERRUN)
        add("CE_OVERRUN");
    if (errors & CE_RXPARITY)
        add("CE_RXPARITY");
    if (errors & 0xFFFFFFF1u)
        add("EV_ERR Unknown EvtMask");
    return "Comm Event: " + list + ", EvtMask = " + std::to_string(errors);
}

bool TReadThread::PostReceiveData(void* block, DWORD count) {
    if (NotifyWindow->PostMessage(WM_COMMDATA, count, reinterpret_cast<std::intptr_t>(block)))
        return true;
    LocalFree(block); // nobody will receive it
    return false;
}

bool TReadThread::PostHangupRequest() {
    return NotifyWindow->PostMessage(WM_COMMHANGUP, 0, 0);
}

} // namespace quorvane
