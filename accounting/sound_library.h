#pragma once
// libsndfile and ALSA, loaded when the first sound is played rather than with the program:
// libsndfile brings its codecs (FLAC, Vorbis, Opus, MPEG) with it, and all of it would be
// mapped and relocated at every start for an alarm that most sessions never sound. Only what
// the WAV player uses is looked up. Once loaded, a library stays for the life of the process.

#include "core/lazy_library.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

namespace quorvane {

// What the WAV player calls in each library.
#define QUORVANE_SNDFILE_CALLS(X)                                                                \
    X(sf_open) X(sf_close) X(sf_error) X(sf_strerror) X(sf_command) X(sf_readf_short)            \
    X(sf_readf_int)
#define QUORVANE_ALSA_CALLS(X)                                                                   \
    X(snd_pcm_open) X(snd_pcm_close) X(snd_pcm_set_params) X(snd_pcm_writei) X(snd_pcm_recover) \
    X(snd_pcm_drain) X(snd_strerror) X(snd_lib_error_set_handler)

struct SndfileCalls {
    QUORVANE_SNDFILE_CALLS(QUORVANE_CALL_MEMBER)
};

struct AlsaCalls {
    QUORVANE_ALSA_CALLS(QUORVANE_CALL_MEMBER)
};

// The library's functions, loading it on the first call (from any thread). Throws EMediaError
// (wav_player.h) naming the library and the loader's reason when it cannot be loaded whole;
// a later call tries again.
const SndfileCalls& Sndfile();
const AlsaCalls& Alsa();

} // namespace quorvane
