#include "serial/posix_thread.h"

#include "serial/comms_log.h"
#include "serial/posix_ops.h"

#include <cerrno>
#include <chrono>
#include <sys/resource.h>
#include <unistd.h>

namespace quorvane {

int TThread::CreateSuspended() {
    const int error = Ops().CreateThread(&handle_, &TThread::ThreadProc, this);
    started_ = error == 0;
    return error;
}

void TThread::Resume() {
    std::lock_guard lock(mutex_);
    running_ = true;
    resumed_.notify_all();
}

int TThread::Start() {
    const int error = CreateSuspended();
    if (error == 0)
        Resume();
    return error;
}

void* TThread::ThreadProc(void* self) {
    auto* thread = static_cast<TThread*>(self);
    {
        std::unique_lock lock(thread->mutex_);
        thread->resumed_.wait(lock, [thread] { return thread->running_ || thread->cancelled_; });
        if (!thread->running_)
            return nullptr; // its owner joins it
    }
    MarkCommsWorkerThread();
    if (thread->Priority != tpNormal) {
        const id_t tid = static_cast<id_t>(::gettid());
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, tid);
        if (errno == 0)
            ::setpriority(PRIO_PROCESS, tid, nice - static_cast<int>(thread->Priority));
    }
    thread->Execute();
    bool abandoned;
    {
        std::lock_guard lock(thread->mutex_);
        thread->finished_ = true;
        abandoned = thread->abandoned_;
        thread->ended_.notify_all();
    }
    if (abandoned)
        delete thread;
    return nullptr;
}

bool TThread::WaitFor(int timeoutMs) {
    if (!started_)
        return true;
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return finished_; });
}

void TThread::Release(TThread* thread) {
    if (thread == nullptr)
        return;
    if (thread->started_) {
        std::unique_lock lock(thread->mutex_);
        if (!thread->running_) {
            thread->cancelled_ = true;
            thread->resumed_.notify_all();
            lock.unlock();
            ::pthread_join(thread->handle_, nullptr);
            delete thread;
            return;
        }
        if (!thread->finished_) {
            thread->abandoned_ = true;
            ::pthread_detach(thread->handle_);
            return; // the thread deletes itself; it must not be touched any more
        }
        lock.unlock();
        ::pthread_join(thread->handle_, nullptr);
    }
    delete thread;
}

} // namespace quorvane
