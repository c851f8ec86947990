#include "accounting/alarm_queue.h"

#include <utility>

namespace quorvane {

AlarmQueue::AlarmQueue(Done done, WavPlayer player)
    : done_(std::move(done)), player_(std::move(player)) {}

AlarmQueue::~AlarmQueue() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

void AlarmQueue::Play(std::string fileName) {
    {
        const std::lock_guard lock(mutex_);
        waiting_.push_back(std::move(fileName));
        if (!thread_.joinable())
            thread_ = std::jthread([this](const std::stop_token& stop) { Serve(stop); });
    }
    wake_.notify_one();
}

void AlarmQueue::Serve(const std::stop_token& stop) {
    for (;;) {
        std::string fileName;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return !waiting_.empty(); }))
                return;
            fileName = std::move(waiting_.front());
            waiting_.pop_front();
        }
        const AlarmOutcome outcome = PlayWavAlarm(player_, fileName, stop);
        if (stop.stop_requested())
            return;
        done_(outcome);
    }
}

} // namespace quorvane
