#pragma once
// The program's version texts, all here. They differ on purpose: the build's version (from the
// project's CMake version) names this program, while the texts with 4.8 are the ones users and
// their stored data know from the Windows program and must stay as they are: the store's product
// key (so profiles brought over are found), the starting taskbar title and the About box.

#ifndef QUORVANE_VERSION
#error "QUORVANE_VERSION comes from the build (quorvane_core's compile definitions)"
#endif

namespace quorvane {

inline constexpr char kVersion[] = QUORVANE_VERSION;
// The main window's caption.
inline constexpr char kWindowCaption[] = "Quorvane v" QUORVANE_VERSION;
// The taskbar text the program starts with, before the minimised caption takes over.
inline constexpr char kApplicationTitle[] = "Quorvane v.48";
// The About box's version line.
inline constexpr char kAboutVersion[] = "Version 4.8   08/24/1996";
// The key below the machine-wide hive that holds everything the program keeps.
inline constexpr char kProductKey[] = "Software\\Morvath Software\\Quorvane v4.8\\";

} // namespace quorvane
