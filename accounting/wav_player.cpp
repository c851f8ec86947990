#include "accounting/wav_player.h"

#include "accounting/alsa_output.h"
#include "accounting/sound_library.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace quorvane {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* file) const { Sndfile().sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

bool IsWavContainer(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
        return true;
    default:
        return false;
    }
}

// Samples deeper than 16 bits go to the device as 32-bit ones, so nothing is lost to the
// conversion; the rest as 16-bit, which every device takes.
bool NeedsWideSamples(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
        return true;
    default:
        return false;
    }
}

// False when `stop` cut the sound short.
template <typename Sample, typename Read>
bool Stream(SNDFILE* file, int channels, SoundOutput& out, const std::string& fileName, Read read,
            const std::stop_token& stop) {
    constexpr sf_count_t kFrames = 4096;
    std::vector<Sample> buffer(static_cast<std::size_t>(kFrames * channels));
    for (;;) {
        if (stop.stop_requested())
            return false;
        const sf_count_t got = read(file, buffer.data(), kFrames);
        if (got <= 0)
            break;
        out.Write(buffer.data(), static_cast<std::size_t>(got));
    }
    const SndfileCalls& sf = Sndfile();
    if (sf.sf_error(file) != SF_ERR_NO_ERROR)
        throw EMediaError("Cannot read " + Quoted(fileName) + ": " + sf.sf_strerror(file));
    return true;
}

} // namespace

WavPlayer::WavPlayer(std::string device) : device_(std::move(device)) {}

std::string WavPlayer::Device() const {
    if (!device_.empty())
        return device_;
    const char* env = std::getenv("QUORVANE_ALSA_PCM");
    return env && *env ? env : "default";
}

void WavPlayer::Play(const std::string& fileName, const std::stop_token& stop) {
    const SndfileCalls& sf = Sndfile();
    SF_INFO info{};
    SndfileHandle file(sf.sf_open(fileName.c_str(), SFM_READ, &info));
    if (!file)
        throw EMediaError("Cannot open " + Quoted(fileName) + ": " + sf.sf_strerror(nullptr));
    if (!IsWavContainer(info.format))
        throw EMediaError("Cannot play " + Quoted(fileName) + ": not a WAV file");
    if (info.channels <= 0 || info.samplerate <= 0)
        throw EMediaError("Cannot play " + Quoted(fileName) + ": no sound in the file");

    const bool wide = NeedsWideSamples(info.format);
    if (wide)
        sf.sf_command(file.get(), SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    PcmFormat format;
    format.sample = wide ? SampleFormat::S32 : SampleFormat::S16;
    format.channels = info.channels;
    format.sampleRate = info.samplerate;

    const std::unique_ptr<SoundOutput> out = OpenAlsaOutput(Device(), format);
    const bool whole =
        wide ? Stream<int>(file.get(), info.channels, *out, fileName, sf.sf_readf_int, stop)
             : Stream<short>(file.get(), info.channels, *out, fileName, sf.sf_readf_short, stop);
    // A sound cut short is dropped with the device, not played to its end.
    if (whole)
        out->Drain();
}

std::string MissingAlarmMessage(const std::string& fileName) {
    return Quoted(fileName) + " does not exist?";
}

bool AlarmMissing(const std::string& fileName) {
    std::error_code ec;
    // A name that cannot even be looked at (a folder without search permission) is not
    // "missing": Play reports the system's reason.
    return fileName.empty() || (!std::filesystem::exists(fileName, ec) && !ec);
}

AlarmOutcome PlayWavAlarm(WavPlayer& player, const std::string& fileName,
                          const std::stop_token& stop) {
    if (AlarmMissing(fileName))
        return {AlarmResult::Missing, MissingAlarmMessage(fileName)};
    try {
        player.Play(fileName, stop);
    } catch (const EMediaError& e) {
        return {AlarmResult::Failed, e.what()};
    }
    return {};
}

} // namespace quorvane
