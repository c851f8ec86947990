#pragma once
// A shared library loaded when it is first needed rather than with the program, with the calls
// that are looked up in it: one that most runs never use costs a start nothing. Once loaded
// whole, it stays for the life of the process.

#include <dlfcn.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace quorvane {

// A library that cannot be loaded, or lacks a call: what() names it and the loader's reason.
class ELibraryNotLoaded : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Looks `name` up in the library (and those it depends on); false when it is not there.
template <class Function> bool LookUp(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    return function != nullptr;
}

// A library's calls are listed once, as a macro taking a macro: QUORVANE_CALL_MEMBER makes of
// the list the members of the calls struct, QUORVANE_CALL_LOOK_UP the look-ups of a bind
// function whose parameters are named `handle` and `calls`:
//   #define SOME_CALLS(X) X(some_open) X(some_close)
//   struct SomeCalls { SOME_CALLS(QUORVANE_CALL_MEMBER) };
//   bool Bind(void* handle, SomeCalls& calls) { return true SOME_CALLS(QUORVANE_CALL_LOOK_UP); }
#define QUORVANE_CALL_MEMBER(name) decltype(&::name) name;
#define QUORVANE_CALL_LOOK_UP(name) &&::quorvane::LookUp(handle, #name, calls.name)

// `Calls` is a struct of function pointers that `bind` fills with LookUp, false when one is
// missing.
template <class Calls> class LazyLibrary {
public:
    using Bind = bool (*)(void* handle, Calls& calls);
    LazyLibrary(const char* name, Bind bind) : name_(name), bind_(bind) {}

    // The calls, loading the library on the first call (from any thread); a failed load throws
    // ELibraryNotLoaded, and the next call tries again.
    const Calls& Get() {
        if (loaded_.load(std::memory_order_acquire))
            return calls_;
        const std::lock_guard lock(mutex_);
        if (handle_)
            return calls_;
        ::dlerror();
        Handle handle(::dlopen(name_, RTLD_NOW | RTLD_LOCAL));
        Calls calls{};
        if (!handle || !bind_(handle.get(), calls)) {
            // The loader's text mostly begins with the library's name already.
            const char* error = ::dlerror();
            const std::string why = error ? error : "";
            const std::string name = std::string(name_) + ": ";
            throw ELibraryNotLoaded(why.rfind(name, 0) == 0 ? why
                                    : name + (why.empty() ? "a function is missing" : why));
        }
        calls_ = calls;
        handle_ = std::move(handle);
        loaded_.store(true, std::memory_order_release);
        return calls_;
    }

private:
    struct Closer {
        void operator()(void* handle) const { ::dlclose(handle); }
    };
    using Handle = std::unique_ptr<void, Closer>;

    const char* name_;
    Bind bind_;
    std::mutex mutex_;
    std::atomic<bool> loaded_{false};
    Handle handle_;
    Calls calls_{};
};

} // namespace quorvane
