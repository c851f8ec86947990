#pragma once
// Where Quorvane keeps everything it remembers: $QUORVANE_HOME, else $XDG_DATA_HOME/quorvane,
// else ~/.local/share/quorvane. Tests point QUORVANE_HOME at a temporary folder.

#include <filesystem>

namespace quorvane {

std::filesystem::path StoreFolder();

// Creates the store folder (mode 0700) when it is missing, and takes from an existing one any
// permission of group or others; false when it cannot be created.
bool EnsureStoreFolder();

} // namespace quorvane
