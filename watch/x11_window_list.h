#pragma once
// The top-level windows of an X11 desktop and their captions, read through xcb.
//
// Z-order: the window manager's _NET_CLIENT_LIST_STACKING when it publishes one, else the root
// window's children; either way read topmost first. Caption: _NET_WM_NAME (UTF-8), else WM_NAME
// (Latin-1, or UTF-8 when typed so), up to its first zero byte and at most kMaxCaptionChars
// characters, cut between characters. A walk asks for every caption before it reads the first
// answer, so it costs two round trips to the server whatever the number of windows.

#include "watch/windows_list.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

struct XcbDisplay;

class X11WindowTitles final : public WindowTitleSource {
public:
    // The display named by $DISPLAY when a connection is made.
    X11WindowTitles();
    // The display of that name ("" for none).
    explicit X11WindowTitles(std::string display);
    ~X11WindowTitles() override;
    X11WindowTitles(const X11WindowTitles&) = delete;
    X11WindowTitles& operator=(const X11WindowTitles&) = delete;

    // A window that vanishes during the walk gives an empty caption. The connection is kept
    // between walks; one that has failed (the server went away) is dropped, and the next walk
    // connects afresh.
    std::vector<WindowTitle> WindowTitles() override;
    // Connects when not connected; false when the display is not set or cannot be reached.
    bool CaptionsReadable() override;

    // Called in each walk between reading the list of windows and asking for their captions,
    // with that list: lets a test change the desktop at that moment.
    std::function<void(const std::vector<std::uint32_t>& windows)> BeforeCaptionRequests;

private:
    bool Connect();

    std::optional<std::string> displayName_;
    std::unique_ptr<XcbDisplay> display_;
};

} // namespace quorvane
