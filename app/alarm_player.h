#pragma once
// The window's WAV alarm: played beside the window's thread (accounting/alarm_queue.h), its end
// told back on that thread.

#include <QObject>
#include <QString>

#include <memory>

namespace quorvane {

class AlarmQueue;

class TAlarmPlayer : public QObject {
    Q_OBJECT
public:
    explicit TAlarmPlayer(QObject* parent = nullptr);
    ~TAlarmPlayer() override;

    // Starts playing an existing file and returns at once; Finished follows.
    void Play(const QString& fileName);

signals:
    // A file has played to its end (`failure` empty) or could not be played (why, ready to be
    // shown to the user).
    void Finished(const QString& failure);

private:
    std::unique_ptr<AlarmQueue> queue_;
};

} // namespace quorvane
