#pragma once
// What the program learns of the machine it runs on and of this run: the boot it runs in, the
// user's runtime folder, and the debug output channel.

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvane {

// The kernel's id of the running boot (/proc/sys/kernel/random/boot_id); "" when unreadable.
std::string BootId();

// The user's own folder for what lives only as long as the login ($XDG_RUNTIME_DIR, a tmpfs on
// a systemd desktop), else the store folder.
std::filesystem::path RuntimeFolder();

// The debug output channel: standard error, one line, only when QUORVANE_DEBUG is set.
void DebugOutput(std::string_view text);

} // namespace quorvane
