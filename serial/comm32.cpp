#include "serial/comm32.h"

#include "serial/posix_port.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace quorvane {

namespace {

constexpr int kThreadWaitMs = 10000;

void ReleaseData(const TMessage& message) {
    if (message.Msg == WM_COMMDATA)
        LocalFree(reinterpret_cast<void*>(message.LParam));
}

} // namespace

TComm32::TComm32()
    : NotifyWindow(std::make_shared<TNotifyWindow>([this](TMessage& Msg) { CommWndProc(Msg); },
                                                   &ReleaseData)),
      OpenerWatch(std::make_unique<TOpenerWatch>()) {
    SetCommsLogName("");
}

TComm32::~TComm32() {
    NotifyWindow->Destroy();
}

void TComm32::SetCommsLogFileName(const std::string& Value) {
    SetCommsLogName(Value);
    CommsLogFileName = Value;
}

template <class Thread>
Thread* TComm32::Prepare(Thread* thread, DWORD& error, TThreadPriority priority) {
    if (thread == nullptr)
        return nullptr;
    thread->CommFile = CommFile;
    thread->CloseEvent = CloseEvent;
    thread->NotifyWindow = NotifyWindow;
    thread->Handles = Handles;
    thread->Priority = priority;
    error = static_cast<DWORD>(thread->CreateSuspended());
    if (error == 0)
        return thread;
    delete thread;
    return nullptr;
}

bool TComm32::StartComm() {
    if (CommFile != -1)
        throw ECommsError("Already have a comm file open");
    if (!CommsLogFileName.empty())
        OpenCommsLog(CommsLogFileName);

    std::unique_ptr<TPortHandles> port;
    switch (TPortHandles::Open(CommPort, *OpenerWatch, port)) {
    case TOpenResult::Opened:
        break;
    case TOpenResult::CannotOpen:
        throw ECommsError("Error opening com port");
    case TOpenResult::NotPresent:
        throw ECommsNotPresent("Error opening com port");
    case TOpenResult::NotACommHandle:
        throw ECommsNotPresent("File handle is not a comm handle. ");
    }
    CommFile = port->Port();

    const int event = Ops().CreateEventFd();
    if (event < 0) {
        LogLastError(static_cast<DWORD>(errno), "Unable to CreateEvent: ");
        CommFile = -1;
        return false; // the port is closed again with `port`
    }
    port->CloseEvent = event;
    CloseEvent = event;
    Handles = std::move(port);

    // The threads are made before the port is taken and run only once it is: a dialer that
    // starts while they are made finds nothing of ours in its way.
    DWORD readError = ENOMEM;
    DWORD writeError = 0;
    ReadThread = Prepare(new (std::nothrow) TReadThread, readError, tpHighest);
    if (ReadThread != nullptr) {
        TWriteThread* writer = TWriteThread::Create();
        if (writer == nullptr)
            writeError = GetLastError();
        WriteThread = Prepare(writer, writeError, tpAboveNormal);
    }
    if (!Handles->Claim(*OpenerWatch)) {
        // Another process came for the port meanwhile: as if it had held it all along.
        TThread::Release(ReadThread);
        TThread::Release(WriteThread);
        ReadThread = nullptr;
        WriteThread = nullptr;
        ClosePort();
        throw ECommsError("Error opening com port");
    }
    // The line settings: only the speed changes; time-outs are the reader's read interval.
    Handles->SetBaudRate(BaudRate);

    if (ReadThread == nullptr) {
        LogLastError(readError, "Unable to create Read thread");
        throw ECommsError("Unable to create Read thread");
    }
    ReadThread->Resume();
    if (WriteThread == nullptr) {
        LogLastError(writeError, "Unable to create Write thread");
        throw ECommsError("Unable to create Write thread");
    }
    WriteThread->Resume();
    return true;
}

void TComm32::StopComm() {
    if (CommFile == -1)
        return;
    WriteCommsLog("Stopping the Comm");
    CloseReadThread();
    CloseWriteThread();
    ClosePort();
    if (!CommsLogFileName.empty())
        CloseCommsLog();
}

void TComm32::CloseReadThread() {
    if (ReadThread == nullptr)
        return;
    WriteCommsLog("Closing Read Thread ");
    // The port goes now, not once the threads have ended, and before they are told to stop:
    // woken, the reader (of higher priority) would run first. From here on their reads and
    // writes of it do nothing.
    Handles->LetGo();
    SetEvent(CloseEvent);
    PurgeComm(CommFile, PURGE_RXABORT | PURGE_RXCLEAR);
    if (!ReadThread->WaitFor(kThreadWaitMs)) {
        WriteCommsLog("Read thread not exiting.  Terminating it.");
        ReadThread->Terminate();
    }
    TThread::Release(ReadThread);
    ReadThread = nullptr;
}

void TComm32::CloseWriteThread() {
    if (WriteThread == nullptr)
        return;
    WriteCommsLog("Closing Write Thread");
    Handles->LetGo();
    SetEvent(CloseEvent);
    PurgeComm(CommFile, PURGE_TXABORT | PURGE_TXCLEAR);
    if (!WriteThread->WaitFor(kThreadWaitMs)) {
        WriteCommsLog("Write thread not exiting.  Terminating it.");
        WriteThread->Terminate();
    }
    TThread::Release(WriteThread);
    WriteThread = nullptr;
}

void TComm32::ClosePort() {
    // Closes CloseEvent, then the port, unless a thread that would not end still uses them.
    Handles.reset();
    CloseEvent = -1;
    CommFile = -1;
}

void TComm32::CommWndProc(TMessage& Msg) {
    Msg.Result = 0;
    switch (Msg.Msg) {
    case WM_COMMDATA: {
        void* block = reinterpret_cast<void*>(Msg.LParam);
        struct Release {
            void* block;
            ~Release() { LocalFree(block); }
        } release{block};
        ReceiveData(block, static_cast<std::uint16_t>(Msg.WParam & 0xFFFF));
        break;
    }
    case WM_COMMHANGUP:
        RequestHangup();
        break;
    default:
        break;
    }
}

void TComm32::ReceiveData(void* Buffer, std::uint16_t BufferLength) {
    if (OnReceiveData)
        OnReceiveData(Buffer, BufferLength);
}

void TComm32::RequestHangup() {
    if (OnRequestHangup)
        OnRequestHangup(this);
}

bool TComm32::WriteCommData(const void* Buffer, DWORD BufferLength) {
    if (WriteThread == nullptr)
        return false;
    void* block = LocalAlloc(BufferLength);
    if (block == nullptr)
        return false;
    std::memcpy(block, Buffer, BufferLength);
    if (WriteThread->PostThreadMessage(WM_COMMWRITE, BufferLength,
                                       reinterpret_cast<std::intptr_t>(block)))
        return true;
    LocalFree(block);
    return false;
}

} // namespace quorvane
