#pragma once
// Where Quorvane keeps everything it remembers: $QUORVANE_HOME, else $XDG_DATA_HOME/quorvane,
// else ~/.local/share/quorvane. Tests point QUORVANE_HOME at a temporary folder.

#include <filesystem>

namespace quorvane {

std::filesystem::path StoreFolder();

// Creates the store folder (mode 0700) when it is missing; false when it cannot be created or
// the name is taken by something other than a folder. A folder that this program made for its
// store loses again any permission of group or others given to it by hand; any other folder
// (one the user named in QUORVANE_HOME, say /tmp, or one reached through a link) keeps its mode.
bool EnsureStoreFolder();

} // namespace quorvane
