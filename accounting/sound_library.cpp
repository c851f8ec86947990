#include "accounting/sound_library.h"

#include "accounting/wav_player.h"
#include "core/lazy_library.h"

namespace quorvane {

namespace {

bool BindSndfile(void* h, SndfileCalls& c) {
    return LookUp(h, "sf_open", c.sf_open) && LookUp(h, "sf_close", c.sf_close) &&
           LookUp(h, "sf_error", c.sf_error) && LookUp(h, "sf_strerror", c.sf_strerror) &&
           LookUp(h, "sf_command", c.sf_command) &&
           LookUp(h, "sf_readf_short", c.sf_readf_short) &&
           LookUp(h, "sf_readf_int", c.sf_readf_int);
}

bool BindAlsa(void* h, AlsaCalls& c) {
    return LookUp(h, "snd_pcm_open", c.snd_pcm_open) &&
           LookUp(h, "snd_pcm_close", c.snd_pcm_close) &&
           LookUp(h, "snd_pcm_set_params", c.snd_pcm_set_params) &&
           LookUp(h, "snd_pcm_writei", c.snd_pcm_writei) &&
           LookUp(h, "snd_pcm_recover", c.snd_pcm_recover) &&
           LookUp(h, "snd_pcm_drain", c.snd_pcm_drain) &&
           LookUp(h, "snd_strerror", c.snd_strerror) &&
           LookUp(h, "snd_lib_error_set_handler", c.snd_lib_error_set_handler);
}

template <class Calls> const Calls& Load(LazyLibrary<Calls>& library) {
    try {
        return library.Get();
    } catch (const ELibraryNotLoaded& e) {
        throw EMediaError(std::string("Cannot load the sound library ") + e.what());
    }
}

} // namespace

// The names the libraries have had since 2002: what the program was built against answers to
// them, as the packages' runtime libraries do (libsndfile1, libasound2).
const SndfileCalls& Sndfile() {
    static LazyLibrary<SndfileCalls> library("libsndfile.so.1", BindSndfile);
    return Load(library);
}

const AlsaCalls& Alsa() {
    static LazyLibrary<AlsaCalls> library("libasound.so.2", BindAlsa);
    return Load(library);
}

} // namespace quorvane
