#pragma once
// Program entry: everything main() does, in a library so tests can reach the pieces.

#include <functional>
#include <optional>
#include <string>

namespace quorvane {

// Reads one environment variable; nullptr when it is not set.
using EnvironmentReader = std::function<const char*(const char*)>;

// Why the program cannot show a window here, as one line for standard error, or nullopt when a
// display (or a platform chosen with QT_QPA_PLATFORM or -platform) is there. Checked before the
// application object exists, because Qt aborts when it finds no display.
std::optional<std::string> MissingDisplayMessage(int argc, char** argv,
                                                 const EnvironmentReader& environment);

// Sets up the application object, creates the main window (which starts minimised) and runs the
// message loop until the program ends. Answers the process's exit status. One Quorvane runs per
// store folder (so per user), held by a lock in the store folder: a start that finds one running
// asks it to show its window, restored and raised, and ends with status 0; one that cannot reach
// it, or cannot have the store's lock, says why and ends with status 1.
int RunProgram(int argc, char** argv);

} // namespace quorvane
