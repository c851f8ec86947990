#pragma once
// The alarm played beside the caller: a thread of its own plays the files asked for, one after
// another in the order asked, so that whoever asks goes on at once. The session's tick that finds
// the free hours used up is not held up while the sound plays, nor the first time by loading the
// sound libraries.

#include "accounting/wav_player.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quorvane {

class AlarmQueue {
public:
    // `done` gets each file's outcome, on the queue's thread, once it has played or failed.
    using Done = std::function<void(const AlarmOutcome& outcome)>;
    explicit AlarmQueue(Done done, WavPlayer player = WavPlayer());
    // Cuts the sound that plays short, drops those waiting, and waits for the thread.
    ~AlarmQueue();
    AlarmQueue(const AlarmQueue&) = delete;
    AlarmQueue& operator=(const AlarmQueue&) = delete;

    // Returns at once; the thread is made by the first file asked for.
    void Play(std::string fileName);

private:
    void Serve(const std::stop_token& stop);

    Done done_;
    WavPlayer player_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::string> waiting_;
    std::jthread thread_; // last: it stops and ends before the rest goes
};

} // namespace quorvane
