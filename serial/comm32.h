#pragma once
// TComm32: a non-visual component that owns one serial port. StartComm opens the port
// exclusively, sets its speed and starts a reader and a writer thread; StopComm stops both and
// closes the port. The threads reach the component only by posting messages to its hidden
// notification window: the owner's main loop watches NotifyHandle() and calls ProcessMessages,
// which raises OnReceiveData and OnRequestHangup on that thread in posting order.
//
// Qt-free: a GUI wraps NotifyHandle() in a QSocketNotifier; a plain loop polls it.

#include "serial/comms_log.h"
#include "serial/posix_notify.h"
#include "serial/read_thread.h"
#include "serial/write_thread.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace quorvane {

class TPortHandles;
class TOpenerWatch;

// The serial component's own failures; only the message text.
class ECommsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A port that is not there or cannot be used (no such device, nothing behind its node, no
// permission, not a terminal), as against one that another process holds. Same texts as its
// base class, which is what callers that only ask "could it be opened" catch.
class ECommsNotPresent : public ECommsError {
public:
    using ECommsError::ECommsError;
};

class TObject {
public:
    virtual ~TObject() = default;
};

// Received bytes (or a line-error report): Buffer holds BufferLength bytes and a zero byte; it
// is released when the handler returns, so a handler that keeps the bytes copies them.
using TReceiveDataEvent = std::function<void(void* Buffer, std::uint16_t BufferLength)>;
using TNotifyEvent = std::function<void(TObject* Sender)>;

class TComm32 : public TObject {
public:
    // CommPort "COM2", BaudRate 0, no log name (the program-wide one is emptied too), closed.
    // Throws std::system_error when the notification window cannot be created.
    TComm32();
    // Destroys the notification window; does not stop the port (StopComm first).
    ~TComm32() override;
    TComm32(const TComm32&) = delete;
    TComm32& operator=(const TComm32&) = delete;

    // Opens the port and starts both threads: true. False only when CloseEvent cannot be
    // created (the port is closed again). Throws ECommsError: "Already have a comm file open",
    // "Error opening com port" (held by another process; as ECommsNotPresent when missing or
    // unusable), "File handle is not a comm handle. " (as ECommsNotPresent), "Unable to create
    // Read thread", "Unable to create Write thread" (the last two leave it half-open: StopComm
    // closes it); EInOutError when the log cannot be created.
    bool StartComm();
    // Stops the threads (up to 10 000 ms each), closes the port and the log; nothing when
    // closed. The port is let go for others as soon as the threads are told to stop, before
    // they have ended. EInOutError when the log cannot be written or closed.
    void StopComm();

    std::int32_t GetBaudRate() const { return BaudRate; }
    void SetBaudRate(std::int32_t Value) { BaudRate = Value; }
    const std::string& GetCommPort() const { return CommPort; }
    void SetCommPort(const std::string& Value) { CommPort = Value; }
    const std::string& GetCommsLogFileName() const { return CommsLogFileName; }
    // Sets the program-wide log name and this component's. Opens and closes nothing.
    void SetCommsLogFileName(const std::string& Value);
    TReceiveDataEvent GetOnReceiveData() const { return OnReceiveData; }
    void SetOnReceiveData(TReceiveDataEvent Value) { OnReceiveData = std::move(Value); }
    TNotifyEvent GetOnRequestHangup() const { return OnRequestHangup; }
    void SetOnRequestHangup(TNotifyEvent Value) { OnRequestHangup = std::move(Value); }

    // The notification window's eventfd: readable while messages may be waiting.
    int NotifyHandle() const { return NotifyWindow->Handle(); }
    // Delivers the waiting messages through CommWndProc on the calling thread; answers how many.
    int ProcessMessages() { return NotifyWindow->ProcessMessages(); }
    // The window procedure: WM_COMMDATA raises ReceiveData and then releases the block,
    // WM_COMMHANGUP raises RequestHangup, anything else is ignored (result 0).
    void CommWndProc(TMessage& Msg);

    // The open port's descriptor (-1 while closed: this alone says whether it is open).
    int GetCommFile() const { return CommFile; }
    bool IsOpen() const { return CommFile != -1; }
    TReadThread* GetReadThread() const { return ReadThread; }
    TWriteThread* GetWriteThread() const { return WriteThread; }

    // A send request for the writer: the bytes are copied into a block and posted as
    // WM_COMMWRITE. False when there is no writer or no memory. (The connection probe never
    // sends; this exists for other users of the component.)
    bool WriteCommData(const void* Buffer, DWORD BufferLength);

protected:
    void ReceiveData(void* Buffer, std::uint16_t BufferLength);
    void RequestHangup();

private:
    // Gives a new thread object the session's handles and makes its thread, not running yet;
    // nullptr (the object deleted, `error` set) when there is no object or no thread.
    template <class Thread>
    Thread* Prepare(Thread* thread, DWORD& error, TThreadPriority priority);
    void CloseReadThread();
    void CloseWriteThread();
    void ClosePort();

    TReadThread* ReadThread = nullptr;
    TWriteThread* WriteThread = nullptr;
    std::string CommsLogFileName;
    std::string CommPort = "COM2";
    int CommFile = -1;
    int CloseEvent = -1;
    TReceiveDataEvent OnReceiveData;
    TNotifyEvent OnRequestHangup;
    std::shared_ptr<TNotifyWindow> NotifyWindow;
    std::int32_t BaudRate = 0;
    // The port, its locks and CloseEvent, shared with the threads while they run.
    std::shared_ptr<TPortHandles> Handles;
    // Who else has the port's device open, kept between sessions.
    std::unique_ptr<TOpenerWatch> OpenerWatch;
};

} // namespace quorvane
