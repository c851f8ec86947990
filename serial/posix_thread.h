#pragma once
// The run-time library's thread class on POSIX threads: made without running its body, then
// started, given a priority, waited for with a bound, and released by its owner.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <pthread.h>

namespace quorvane {

// Steps above normal; on Linux the thread's nice value is lowered by as many steps (which needs
// the right to raise priorities; without it the thread runs at normal priority).
enum TThreadPriority : int { tpNormal = 0, tpAboveNormal = 1, tpHighest = 2 };

class TThread {
public:
    TThread() = default;
    virtual ~TThread() = default;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Set before Start; the thread takes it on as its first step.
    TThreadPriority Priority = tpNormal;

    // Makes the thread without running its body: 0, or the error number when no thread can be
    // made. The body runs once Resume is called; released before, the thread ends without it.
    int CreateSuspended();
    void Resume();
    // CreateSuspended and Resume.
    int Start();
    // Waits until Execute has returned, at most timeoutMs; true when it has.
    bool WaitFor(int timeoutMs);
    // The termination request. Nothing in the serial threads consults it.
    void Terminate() { terminated_.store(true, std::memory_order_relaxed); }
    bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }

    // Releases the object: a thread that has ended is joined and deleted at once; one that is
    // still running is detached and deletes itself when its body returns.
    static void Release(TThread* thread);

protected:
    virtual void Execute() = 0;

private:
    static void* ThreadProc(void* self);

    pthread_t handle_{};
    bool started_ = false; // the thread exists
    std::mutex mutex_;
    std::condition_variable resumed_, ended_;
    bool running_ = false;   // Resume was called
    bool cancelled_ = false; // released before Resume
    bool finished_ = false;
    bool abandoned_ = false;
    std::atomic<bool> terminated_{false};
};

} // namespace quorvane
