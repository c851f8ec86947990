// The free-hours alarm on the real window, in a process of its own so that nothing else has
// played a sound in it before: the window's start loads none of the libraries that only a first
// use needs (the sound libraries, libnl, Qt's network module), the alarm plays the first time it
// is due, and the session's tick goes on meanwhile. The sound goes to ALSA's
// file plugin writing into a pipe that the test reads, so the test decides when the device has
// taken it.
#include "app/alarm_player.h"
#include "app/messages.h"
#include "app/timer.h"
#include "core/clock.h"
#include "core/fd.h"
#include "support/store_home.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorvane;

namespace {

namespace fs = std::filesystem;

// A safety net for a broken player, never a measure of speed: the wait ends at its event.
constexpr int kNoEventAfterMs = 120000;

// Whether a library whose file name starts so is mapped into this process.
bool Loaded(const std::string& name) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find("/" + name) != std::string::npos)
            return true;
    return false;
}

// 16-bit mono PCM at 8 kHz in a WAV container; answers the samples' bytes, which the player
// sends to the device as they are.
std::string WriteWav(const fs::path& path, std::uint32_t frames) {
    std::string samples;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto sample = static_cast<std::uint16_t>(i * 2654435761u >> 16);
        samples += static_cast<char>(sample & 0xFF);
        samples += static_cast<char>(sample >> 8);
    }
    const auto le = [](std::uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
        return out;
    };
    const auto size = static_cast<std::uint32_t>(samples.size());
    std::ofstream(path, std::ios::binary)
        << "RIFF" << le(36 + size, 4) << "WAVE" << "fmt " << le(16, 4) << le(1, 2) << le(1, 2)
        << le(8000, 4) << le(16000, 4) << le(2, 2) << le(16, 2) << "data" << le(size, 4)
        << samples;
    return samples;
}

// Reads what the pipe holds now, without waiting.
void Drain(int fd, std::string& heard) {
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        heard.append(buffer, static_cast<std::size_t>(n));
}

class Alarm : public test::OwnStoreTest {
protected:
    void SetUp() override {
        OwnStoreTest::SetUp();
        pipe_ = home_ / "device";
        ASSERT_EQ(::mkfifo(pipe_.c_str(), 0600), 0);
        // ALSA's own configuration is not needed: the device is the file plugin in front of
        // the null one, both built into the library.
        const fs::path config = home_ / "alsa.conf";
        std::ofstream(config) << "pcm.quorvane_pipe {\n  type file\n  slave.pcm { type null }\n"
                              << "  file \"" << pipe_.string() << "\"\n  format \"raw\"\n}\n";
        ::setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
        ::setenv("QUORVANE_ALSA_PCM", "quorvane_pipe", 1);
    }
    void TearDown() override {
        ::setenv("QUORVANE_ALSA_PCM", "null", 1);
        ::unsetenv("ALSA_CONFIG_PATH");
        OwnStoreTest::TearDown();
    }
    void Tick(TfrmTimer& w, double seconds) {
        clock_.AdvanceSeconds(seconds);
        w.tOnLineTimer();
    }

    fs::path pipe_;
    ManualClock clock_{EncodeDate(2026, 3, 7) + EncodeTime(10, 0, 0)};
    ModalScript boxes_;
};

TEST_F(Alarm, PlaysTheFirstTimeItIsDueWhileTheSessionGoesOnTicking) {
    // 200 kB of sound, beyond what the pipe (64 kB) and the device's buffer hold together: it
    // cannot have played to its end before the test reads the pipe.
    const std::string sound = WriteWav(home_ / "alarm.wav", 100000);
    TfrmTimer w;
    for (const char* library :
         {"libsndfile.so", "libasound.so", "libnl-3.so", "libnl-route-3.so", "libQt6Network.so"})
        EXPECT_FALSE(Loaded(library)) << library << " is loaded by the start";
    w.cbProvider->setEditText(QStringLiteral("Dial Net"));
    w.cbDetection->setCurrentIndex(2); // Manual
    w.ckEnableBilling->setChecked(true);
    w.eFreeHours->setText(QStringLiteral("5"));
    w.ePrice->setText(QStringLiteral("2.00"));
    w.eWavAlarm->setText(QString::fromStdString((home_ / "alarm.wav").string()));
    const UniqueFd device(::open(pipe_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(device) << std::strerror(errno);
    QSignalSpy played(w.mpWav, &TAlarmPlayer::Finished);

    w.Timers.TotalTime = 6 * 3600 - 2;
    w.sbManual->click();
    Tick(w, 1); // the first tick: 5:59:58
    EXPECT_FALSE(w.Timers.AlarmPlayed);
    Tick(w, 2); // 6:00:00: the free hours are used up
    EXPECT_TRUE(w.Timers.AlarmPlayed);
    // The alarm sounds now, and the session's ticks go on.
    for (int second = 1; second <= 3; ++second) {
        Tick(w, 1);
        EXPECT_EQ(w.Timers.TotalTime, 6 * 3600 + second);
    }
    EXPECT_EQ(played.count(), 0);

    std::string heard;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            Drain(device.get(), heard);
            return played.count() > 0;
        },
        kNoEventAfterMs));
    Drain(device.get(), heard);
    EXPECT_EQ(played.at(0).at(0).toString(), "");
    EXPECT_TRUE(heard == sound) << heard.size() << " of " << sound.size() << " bytes";
    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_TRUE(Loaded("libsndfile.so.1"));
    EXPECT_TRUE(Loaded("libasound.so.2"));
    w.sbManual->click();
}

} // namespace
