#pragma once
// TReadThread: the receiving half of the serial port. It keeps a read of up to 2 048 bytes and a
// line-error wait pending on the port together, waits on both and on CloseEvent, and posts every
// block of received bytes, and every line error as a line of text, to the component's window as
// WM_COMMDATA. A fatal error makes it post WM_COMMHANGUP and end. It never touches the component.

#include "serial/posix_notify.h"
#include "serial/posix_overlapped.h"
#include "serial/posix_thread.h"

#include <memory>
#include <string>

namespace quorvane {

inline constexpr DWORD WM_COMMDATA = WM_USER + 1;   // wParam: count; lParam: block (count + 1)
inline constexpr DWORD WM_COMMHANGUP = WM_USER + 2; // no parameters

inline constexpr char kInvalidHandleText[] =
    "ERROR_INVALID_HANDLE, Likely that the Service Provider has closed the port.";

// The line-error report for the error flags: "Comm Event: " and the errors found ("NULL Error",
// "CE_FRAME", "CE_OVERRUN", "CE_RXPARITY", "EV_ERR Unknown EvtMask" for any other bit) joined by
// " and ", then ", EvtMask = " and the flags in decimal.
std::string CommEventReport(DWORD errors);

class TReadThread : public TThread {
public:
    // Set by the component before Start: copies of its handles.
    int CommFile = -1;
    int CloseEvent = -1;
    std::shared_ptr<TNotifyWindow> NotifyWindow;
    // Keeps the port and CloseEvent open for as long as the thread may use them.
    std::shared_ptr<const void> Handles;

protected:
    void Execute() override;

private:
    bool SetupReadEvent();
    bool HandleReadEvent();
    bool HandleReadData(const unsigned char* buffer, DWORD count);
    bool SetupCommEvent();
    bool HandleCommEvent(TCommEventOverlapped* record, DWORD eventMask, bool retrieve);
    bool PostReceiveData(void* block, DWORD count);
    bool PostHangupRequest();

    // The state of one run, the thread's own.
    TReadOverlapped readRecord_;
    TCommEventOverlapped commRecord_;
    TCommLine line_;
    unsigned char readBuffer_[2048];
    DWORD eventMask_ = 0;
    DWORD bytesRead_ = 0;
};

} // namespace quorvane
