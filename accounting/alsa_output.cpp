#include "accounting/alsa_output.h"

#include "accounting/sound_library.h"
#include "accounting/wav_player.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace quorvane {

namespace {

// alsa-lib prints its own diagnostics to stderr; every failure already reaches the caller as an
// EMediaError, so they are only wanted when debugging.
void AlsaDiagnostics(const char* file, int line, const char* function, int err, const char* fmt,
                     ...) {
    if (!std::getenv("QUORVANE_DEBUG"))
        return;
    std::fprintf(stderr, "ALSA %s:%d (%s) ", file, line, function);
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    if (err)
        std::fprintf(stderr, ": %s", Alsa().snd_strerror(err));
    std::fputc('\n', stderr);
}

void QuietAlsaDiagnostics() {
    static std::once_flag once;
    std::call_once(once, [] { Alsa().snd_lib_error_set_handler(AlsaDiagnostics); });
}

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { Alsa().snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

[[noreturn]] void Fail(const std::string& step, int err) {
    throw EMediaError(step + ": " + Alsa().snd_strerror(err));
}

class AlsaOutput final : public SoundOutput {
public:
    AlsaOutput(PcmHandle pcm, std::size_t frameBytes)
        : pcm_(std::move(pcm)), frameBytes_(frameBytes) {}

    void Write(const void* frames, std::size_t frameCount) override {
        auto* at = static_cast<const unsigned char*>(frames);
        while (frameCount > 0) {
            const snd_pcm_sframes_t n = Alsa().snd_pcm_writei(pcm_.get(), at, frameCount);
            if (n < 0) {
                // An underrun (the program was busy) or a suspend is not worth losing the
                // alarm over: recover and carry on where we were.
                const int err = Alsa().snd_pcm_recover(pcm_.get(), static_cast<int>(n), 1);
                if (err < 0)
                    Fail("Cannot play on the sound device", err);
                continue;
            }
            at += static_cast<std::size_t>(n) * frameBytes_;
            frameCount -= static_cast<std::size_t>(n);
        }
    }

    void Drain() override {
        const int err = Alsa().snd_pcm_drain(pcm_.get());
        if (err < 0)
            Fail("Cannot finish playing on the sound device", err);
    }

private:
    PcmHandle pcm_;
    std::size_t frameBytes_;
};

} // namespace

std::unique_ptr<SoundOutput> OpenAlsaOutput(const std::string& device, const PcmFormat& format) {
    const AlsaCalls& alsa = Alsa();
    QuietAlsaDiagnostics();
    snd_pcm_t* raw = nullptr;
    const int openErr = alsa.snd_pcm_open(&raw, device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (openErr < 0)
        Fail("Cannot open the sound device \"" + device + "\"", openErr);
    PcmHandle pcm(raw);

    const bool wide = format.sample == SampleFormat::S32;
    const snd_pcm_format_t alsaFormat = wide ? SND_PCM_FORMAT_S32 : SND_PCM_FORMAT_S16;
    // Half a second of buffer: plenty against a busy main thread, and drain waits for it anyway.
    const int err = alsa.snd_pcm_set_params(pcm.get(), alsaFormat, SND_PCM_ACCESS_RW_INTERLEAVED,
                                       static_cast<unsigned>(format.channels),
                                       static_cast<unsigned>(format.sampleRate), 1, 500000);
    if (err < 0)
        Fail("Cannot set up the sound device \"" + device + "\"", err);

    const std::size_t frameBytes = static_cast<std::size_t>(format.channels) *
                                   (wide ? sizeof(std::int32_t) : sizeof(std::int16_t));
    return std::make_unique<AlsaOutput>(std::move(pcm), frameBytes);
}

} // namespace quorvane
