#pragma once
// Sound output to an ALSA PCM device. The rest of the program sees only this interface and
// knows nothing of ALSA.

#include <cstddef>
#include <memory>
#include <string>

namespace quorvane {

// Interleaved sample layout of the frames handed to SoundOutput::Write.
enum class SampleFormat {
    S16, // signed 16-bit, native byte order
    S32, // signed 32-bit, native byte order
};

struct PcmFormat {
    SampleFormat sample = SampleFormat::S16;
    int channels = 2;
    int sampleRate = 44100;
};

// One open playback stream; the device is closed when the object goes.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Blocks until every frame has been accepted by the device. Throws EMediaError.
    virtual void Write(const void* frames, std::size_t frameCount) = 0;
    // Blocks until the device has played everything written. Throws EMediaError.
    virtual void Drain() = 0;
};

// Opens the ALSA PCM `device` ("default", "hw:0", a name from the ALSA configuration) for
// blocking playback of `format`. Throws EMediaError with ALSA's own text for the failure.
std::unique_ptr<SoundOutput> OpenAlsaOutput(const std::string& device, const PcmFormat& format);

} // namespace quorvane
