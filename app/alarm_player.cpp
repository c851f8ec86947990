#include "app/alarm_player.h"

#include "accounting/alarm_queue.h"

namespace quorvane {

TAlarmPlayer::TAlarmPlayer(QObject* parent)
    : QObject(parent), queue_(std::make_unique<AlarmQueue>([this](const AlarmOutcome& outcome) {
          const QString failure = outcome.result == AlarmResult::Played
                                      ? QString()
                                      : QString::fromStdString(outcome.message);
          // From the queue's thread to this object's: an object that is gone by then drops it.
          QMetaObject::invokeMethod(
              this, [this, failure] { emit Finished(failure); }, Qt::QueuedConnection);
      })) {}

TAlarmPlayer::~TAlarmPlayer() = default;

void TAlarmPlayer::Play(const QString& fileName) {
    queue_->Play(fileName.toStdString());
}

} // namespace quorvane
