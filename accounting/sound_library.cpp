#include "accounting/sound_library.h"

#include "accounting/wav_player.h"

namespace quorvane {

namespace {

bool BindSndfile(void* handle, SndfileCalls& calls) {
    return true QUORVANE_SNDFILE_CALLS(QUORVANE_CALL_LOOK_UP);
}

bool BindAlsa(void* handle, AlsaCalls& calls) {
    return true QUORVANE_ALSA_CALLS(QUORVANE_CALL_LOOK_UP);
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
