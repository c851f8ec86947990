#include "accounting/wav_player.h"

#include "accounting/alarm_queue.h"

#include "support/files.h"
#include <alsa/asoundlib.h>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

using test::ReadBytes;

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// Writes a sound file with libsndfile and hands back the bytes its frames take as 16-bit or
// 32-bit native samples, which is what the player must send to the device.
std::string WriteSound(const fs::path& path, int format, int channels, int frames) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<int> samples(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < samples.size(); ++i) // a full swing, negatives included
        samples[i] = static_cast<int>((i * 2654435761u) & 0xFFFF0000u);
    sf_writef_int(file, samples.data(), frames);
    sf_close(file);

    std::string bytes;
    const bool wide = (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24;
    for (int s : samples) {
        if (wide) {
            bytes.append(reinterpret_cast<const char*>(&s), sizeof s);
        } else {
            const auto s16 = static_cast<std::int16_t>(s >> 16);
            bytes.append(reinterpret_cast<const char*>(&s16), sizeof s16);
        }
    }
    return bytes;
}

class WavPlayerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The system's configuration for "null" and "hw", and ours for the capturing device.
        const char* data = std::getenv("QUORVANE_TEST_DATA");
        ASSERT_NE(data, nullptr) << "run through ctest, which names the test data folder";
        const std::string path =
            std::string(snd_config_topdir()) + "/alsa.conf:" + data + "/alsa-capture.conf";
        ::setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }

    void SetUp() override {
        std::string pattern = (fs::path(testing::TempDir()) / "wav-player-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        capture_ = dir_ / "played.raw";
    }
    void TearDown() override {
        fs::remove_all(dir_);
        ::setenv("QUORVANE_ALSA_PCM", "null", 1);
    }

    std::string CaptureDevice() const { return "quorvane_capture:'" + capture_.string() + "'"; }

    fs::path dir_;
    fs::path capture_;
};

TEST_F(WavPlayerTest, SendsEveryFrameToTheDevice) {
    const struct {
        const char* name;
        int format;
        int channels;
        int frames;
    } cases[] = {
        {"16-bit stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 10007},
        {"24-bit mono as 32-bit", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 5003},
        {"WAVE_FORMAT_EXTENSIBLE", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 1, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path wav = dir_ / "alarm.wav";
        const std::string frames = WriteSound(wav, c.format, c.channels, c.frames);
        WavPlayer player(CaptureDevice());
        const std::size_t descriptors = OpenDescriptors();

        const AlarmOutcome outcome = PlayWavAlarm(player, wav.string());

        EXPECT_EQ(outcome.result, AlarmResult::Played) << outcome.message;
        EXPECT_EQ(outcome.message, "");
        // Only a closed file plugin has flushed every frame.
        EXPECT_TRUE(ReadBytes(capture_) == frames) << ReadBytes(capture_).size() << " bytes";
        EXPECT_EQ(OpenDescriptors(), descriptors);
    }
}

TEST_F(WavPlayerTest, DeviceComesFromTheEnvironment) {
    EXPECT_EQ(WavPlayer().Device(), "null");
    EXPECT_EQ(WavPlayer("hw:0").Device(), "hw:0");
    ::unsetenv("QUORVANE_ALSA_PCM");
    EXPECT_EQ(WavPlayer().Device(), "default");

    ::setenv("QUORVANE_ALSA_PCM", CaptureDevice().c_str(), 1);
    const std::string frames =
        WriteSound(dir_ / "alarm.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 64);
    WavPlayer player;
    player.Play((dir_ / "alarm.wav").string());
    EXPECT_TRUE(ReadBytes(capture_) == frames);
}

TEST_F(WavPlayerTest, MissingFileGivesTheQuestion) {
    WavPlayer player(CaptureDevice());
    const std::pair<std::string, std::string> cases[] = {
        {"", "\"\" does not exist?"},
        {(dir_ / "gone.wav").string(), "\"" + (dir_ / "gone.wav").string() + "\" does not exist?"},
    };
    for (const auto& [name, message] : cases) {
        const AlarmOutcome outcome = PlayWavAlarm(player, name);
        EXPECT_EQ(outcome.result, AlarmResult::Missing);
        EXPECT_EQ(outcome.message, message);
        EXPECT_EQ(MissingAlarmMessage(name), message);
    }
    EXPECT_FALSE(fs::exists(capture_)) << "the device was opened for nothing";
}

// A file that is there but will not play: the library's own text, the device never left open.
TEST_F(WavPlayerTest, UnplayableFileReportsTheLibrarysText) {
    const fs::path text = dir_ / "notes.wav";
    std::ofstream(text) << "This is not a sound at all, only some words.\n";
    const fs::path aiff = dir_ / "alarm.aiff";
    WriteSound(aiff, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 100);
    const fs::path folder = dir_ / "folder.wav";
    fs::create_directory(folder);

    SNDFILE* probe = sf_open(text.c_str(), SFM_READ, std::make_unique<SF_INFO>().get());
    ASSERT_EQ(probe, nullptr);
    const std::string notSound = sf_strerror(nullptr);

    const struct {
        fs::path file;
        std::string message;
    } cases[] = {
        {text, "Cannot open \"" + text.string() + "\": " + notSound},
        {aiff, "Cannot play \"" + aiff.string() + "\": not a WAV file"},
        {folder, "Cannot open \"" + folder.string() + "\": "},
    };
    WavPlayer player(CaptureDevice());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::size_t descriptors = OpenDescriptors();
        const AlarmOutcome outcome = PlayWavAlarm(player, c.file.string());
        EXPECT_EQ(outcome.result, AlarmResult::Failed);
        EXPECT_EQ(outcome.message.substr(0, c.message.size()), c.message);
        EXPECT_GT(outcome.message.size(), c.message.size() - (c.file == folder ? 0 : 1));
        EXPECT_THROW(player.Play(c.file.string()), EMediaError);
        EXPECT_EQ(OpenDescriptors(), descriptors);
    }
    EXPECT_FALSE(fs::exists(capture_));
}

TEST_F(WavPlayerTest, NoSoundDeviceReportsAlsasText) {
    const fs::path wav = dir_ / "alarm.wav";
    WriteSound(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 100);
    ::setenv("QUORVANE_ALSA_PCM", "hw:77", 1);
    WavPlayer player;
    const std::size_t descriptors = OpenDescriptors();

    const AlarmOutcome outcome = PlayWavAlarm(player, wav.string());

    EXPECT_EQ(outcome.result, AlarmResult::Failed);
    const std::string prefix = "Cannot open the sound device \"hw:77\": ";
    ASSERT_EQ(outcome.message.substr(0, prefix.size()), prefix);
    const std::string alsaText = outcome.message.substr(prefix.size());
    bool isAlsaText = false;
    for (int err = 1; err < 200 && !isAlsaText; ++err)
        isAlsaText = alsaText == snd_strerror(-err);
    EXPECT_TRUE(isAlsaText) << alsaText;
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

// Files asked for one after another are played in that order on the queue's thread, each
// outcome told there, whatever the one before came to.
TEST_F(WavPlayerTest, TheQueuePlaysInTheOrderAskedAndTellsEachOutcome) {
    const fs::path wav = dir_ / "alarm.wav";
    const std::string frames = WriteSound(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 3000);
    const fs::path text = dir_ / "notes.wav";
    std::ofstream(text) << "not a sound";

    std::mutex mutex;
    std::condition_variable told;
    std::vector<AlarmOutcome> outcomes;
    std::vector<std::thread::id> threads;
    {
        AlarmQueue queue(
            [&](const AlarmOutcome& outcome) {
                const std::lock_guard lock(mutex);
                outcomes.push_back(outcome);
                threads.push_back(std::this_thread::get_id());
                told.notify_all();
            },
            WavPlayer(CaptureDevice()));
        for (const fs::path& file : {dir_ / "gone.wav", text, wav})
            queue.Play(file.string());
        std::unique_lock lock(mutex);
        told.wait(lock, [&] { return outcomes.size() == 3; });
    }
    EXPECT_EQ(outcomes[0].result, AlarmResult::Missing);
    EXPECT_EQ(outcomes[1].result, AlarmResult::Failed);
    EXPECT_EQ(outcomes[2].result, AlarmResult::Played) << outcomes[2].message;
    EXPECT_TRUE(ReadBytes(capture_) == frames);
    for (const std::thread::id& thread : threads)
        EXPECT_NE(thread, std::this_thread::get_id());
}

} // namespace
} // namespace quorvane
