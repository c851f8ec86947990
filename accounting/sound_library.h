#pragma once
// libsndfile and ALSA, loaded when the first sound is played rather than with the program:
// libsndfile brings its codecs (FLAC, Vorbis, Opus, MPEG) with it, and all of it would be
// mapped and relocated at every start for an alarm that most sessions never sound. Only what
// the WAV player uses is looked up. Once loaded, a library stays for the life of the process.

#include <alsa/asoundlib.h>
#include <sndfile.h>

namespace quorvane {

struct SndfileCalls {
    decltype(&::sf_open) sf_open;
    decltype(&::sf_close) sf_close;
    decltype(&::sf_error) sf_error;
    decltype(&::sf_strerror) sf_strerror;
    decltype(&::sf_command) sf_command;
    decltype(&::sf_readf_short) sf_readf_short;
    decltype(&::sf_readf_int) sf_readf_int;
};

struct AlsaCalls {
    decltype(&::snd_pcm_open) snd_pcm_open;
    decltype(&::snd_pcm_close) snd_pcm_close;
    decltype(&::snd_pcm_set_params) snd_pcm_set_params;
    decltype(&::snd_pcm_writei) snd_pcm_writei;
    decltype(&::snd_pcm_recover) snd_pcm_recover;
    decltype(&::snd_pcm_drain) snd_pcm_drain;
    decltype(&::snd_strerror) snd_strerror;
    decltype(&::snd_lib_error_set_handler) snd_lib_error_set_handler;
};

// The library's functions, loading it on the first call (from any thread). Throws EMediaError
// (wav_player.h) naming the library and the loader's reason when it cannot be loaded whole;
// a later call tries again.
const SndfileCalls& Sndfile();
const AlsaCalls& Alsa();

} // namespace quorvane
