#include "accounting/sound_library.h"

#include "accounting/wav_player.h"

#include <dlfcn.h>

#include <memory>
#include <mutex>
#include <string>

namespace quorvane {

namespace {

// The names the libraries have had since 2002: what the program was built against answers to
// them, as the packages' runtime libraries do (libsndfile1, libasound2).
constexpr const char* kSndfileName = "libsndfile.so.1";
constexpr const char* kAlsaName = "libasound.so.2";

struct LibraryCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

// One library and the calls looked up in it, loaded under a lock on first use.
template <class Calls> class LazyLibrary {
public:
    using Bind = bool (*)(void* handle, Calls& calls);
    LazyLibrary(const char* name, Bind bind) : name_(name), bind_(bind) {}

    const Calls& Get() {
        const std::lock_guard lock(mutex_);
        if (handle_)
            return calls_;
        ::dlerror();
        LibraryHandle handle(::dlopen(name_, RTLD_NOW | RTLD_LOCAL));
        Calls calls{};
        if (!handle || !bind_(handle.get(), calls)) {
            const char* why = ::dlerror();
            throw EMediaError(std::string("Cannot load the sound library ") + name_ + ": " +
                              (why ? why : "it lacks a function the player needs"));
        }
        calls_ = calls;
        handle_ = std::move(handle);
        return calls_;
    }

private:
    const char* name_;
    Bind bind_;
    std::mutex mutex_;
    LibraryHandle handle_;
    Calls calls_{};
};

template <class Function> bool Look(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    return function != nullptr;
}

bool BindSndfile(void* h, SndfileCalls& c) {
    return Look(h, "sf_open", c.sf_open) && Look(h, "sf_close", c.sf_close) &&
           Look(h, "sf_error", c.sf_error) && Look(h, "sf_strerror", c.sf_strerror) &&
           Look(h, "sf_command", c.sf_command) && Look(h, "sf_readf_short", c.sf_readf_short) &&
           Look(h, "sf_readf_int", c.sf_readf_int);
}

bool BindAlsa(void* h, AlsaCalls& c) {
    return Look(h, "snd_pcm_open", c.snd_pcm_open) && Look(h, "snd_pcm_close", c.snd_pcm_close) &&
           Look(h, "snd_pcm_set_params", c.snd_pcm_set_params) &&
           Look(h, "snd_pcm_writei", c.snd_pcm_writei) &&
           Look(h, "snd_pcm_recover", c.snd_pcm_recover) &&
           Look(h, "snd_pcm_drain", c.snd_pcm_drain) &&
           Look(h, "snd_strerror", c.snd_strerror) &&
           Look(h, "snd_lib_error_set_handler", c.snd_lib_error_set_handler);
}

} // namespace

const SndfileCalls& Sndfile() {
    static LazyLibrary<SndfileCalls> library(kSndfileName, BindSndfile);
    return library.Get();
}

const AlsaCalls& Alsa() {
    static LazyLibrary<AlsaCalls> library(kAlsaName, BindAlsa);
    return library.Get();
}

} // namespace quorvane
