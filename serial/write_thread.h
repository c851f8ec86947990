#pragma once
// TWriteThread: the sending half of the serial port. It waits on its own message queue and on
// CloseEvent; each WM_COMMWRITE taken from the queue is written to the port completely, with
// waits that CloseEvent can interrupt. A fatal port error makes it post WM_COMMHANGUP and end.

#include "serial/posix_notify.h"
#include "serial/posix_overlapped.h"
#include "serial/posix_thread.h"

#include <memory>

namespace quorvane {

// A send request: wParam the number of bytes, lParam a block from LocalAlloc holding them. The
// writer owns the block once the message is posted and releases it after the write (or when
// the request is dropped because the writer stops).
inline constexpr DWORD WM_COMMWRITE = WM_USER + 1;

class TWriteThread : public TThread {
public:
    // A writer with its message queue, not yet started; nullptr with the last error set when
    // the queue cannot be created.
    static TWriteThread* Create();

    // Set by the component before Start: copies of its handles.
    int CommFile = -1;
    int CloseEvent = -1;
    std::shared_ptr<TNotifyWindow> NotifyWindow;
    std::shared_ptr<const void> Handles;

    // PostThreadMessage: queues a message for the writer; never blocks.
    bool PostThreadMessage(DWORD msg, std::uintptr_t wParam, std::intptr_t lParam);

protected:
    void Execute() override;

private:
    explicit TWriteThread(int queueEvent);
    bool HandleWriteData(TWriteOverlapped& record, const unsigned char* bytes, DWORD count);
    bool PostHangupRequest();

    TMessageQueue queue_;
};

} // namespace quorvane
