#pragma once
// The WAV alarm: a file decoded with libsndfile and played to its end on an ALSA device while
// the caller waits. Both libraries are loaded by the first play (sound_library.h).

#include <stdexcept>
#include <stop_token>
#include <string>

namespace quorvane {

// A sound that cannot be played. what() carries the library's own text after a short note of
// the step that failed, ready to be shown to the user as it is.
class EMediaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class WavPlayer {
public:
    // Plays on the ALSA PCM named by $QUORVANE_ALSA_PCM, else "default" (read at every Play).
    WavPlayer() = default;
    // Plays on the given ALSA PCM whatever the environment says.
    explicit WavPlayer(std::string device);

    // Plays the WAV file to its end and returns when the device has drained, or soon after
    // `stop` is asked for, dropping the rest. Throws EMediaError for a sound library that cannot
    // be loaded, a file that cannot be read or is not a WAV container, a device that cannot be
    // opened or set up, and a failed write; the device is closed on every path.
    void Play(const std::string& fileName, const std::stop_token& stop = {});

    // The ALSA PCM the next Play will use.
    std::string Device() const;

private:
    std::string device_;
};

// The message for an alarm file that does not exist: the name in double quotes followed by
// " does not exist?" (an empty name gives `"" does not exist?`).
std::string MissingAlarmMessage(const std::string& fileName);

enum class AlarmResult {
    Played,
    Missing, // no such file; message is MissingAlarmMessage, for the information box
    Failed,  // the file exists but did not play; message is the EMediaError text, for the error box
};

struct AlarmOutcome {
    AlarmResult result = AlarmResult::Played;
    std::string message; // empty when Played
};

// Whether the alarm file is missing: no name, or a name of nothing. Cheap, and decided without
// the sound libraries.
bool AlarmMissing(const std::string& fileName);

// Plays the alarm file, or says why not; never throws. The play button shows `message` when
// the result is not Played. For the free-hours alarm the window passes FormatCharges (charges.h)
// a playAlarm that does the same: FormatCharges sets AlarmPlayed before it calls playAlarm, so
// the alarm counts as played whatever the outcome, and the ticks that come while the message
// box waits for its answer neither play nor report again. A failure is thus reported once.
AlarmOutcome PlayWavAlarm(WavPlayer& player, const std::string& fileName,
                          const std::stop_token& stop = {});

} // namespace quorvane
