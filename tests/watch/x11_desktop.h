#pragma once
// Real top-level windows on the X server of $DISPLAY, made and changed through a connection of
// their own, as another program's windows would be. Every change is waited for (a round trip)
// before the call returns, so a walk that starts afterwards sees it. The windows, and a
// stacking list set on the root, are gone again when the desktop object ends.

#include "watch/xcb_handles.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane::test {

// The atom of `name`, interned; XCB_NONE when the server gives no answer.
inline xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
    const auto reply = XcbAnswer(connection, xcb_intern_atom_reply,
                                 xcb_intern_atom(connection, 0, std::strlen(name), name));
    return reply ? reply->atom : XCB_NONE;
}

// The bytes of a window's property (at most `longs` 32-bit units of them), of the type given
// or of any; "" when the window has no such property or is gone. One round trip.
inline std::string PropertyBytes(xcb_connection_t* connection, xcb_window_t window,
                                 xcb_atom_t property, xcb_atom_t type, std::uint32_t longs) {
    const auto reply = XcbAnswer(connection, xcb_get_property_reply,
                                 xcb_get_property(connection, 0, window, property, type, 0, longs));
    if (!reply)
        return {};
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

// The window manager's side of the X server, for a test or benchmark that takes that part.
// WM_STATE and the WM_HINTS initial state, after the ICCCM.
inline constexpr std::uint32_t kNormalState = 1, kIconicState = 3;

// Takes the window manager's part on the root window: map and configure requests of top-level
// windows come to this connection from now on. Throws when the server has no screen or another
// window manager has that part.
inline void BecomeWindowManager(xcb_connection_t* connection) {
    if (xcb_connection_has_error(connection) != 0)
        throw std::runtime_error("no X server on $DISPLAY");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const std::uint32_t mask =
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    const XcbReply<xcb_generic_error_t> refused(xcb_request_check(
        connection,
        xcb_change_window_attributes_checked(connection, root, XCB_CW_EVENT_MASK, &mask)));
    if (refused)
        throw std::runtime_error("another window manager runs on $DISPLAY");
}

// The process a window says it belongs to (_NET_WM_PID); none when it does not say.
inline std::optional<std::uint32_t> WindowPid(xcb_connection_t* connection, xcb_window_t window,
                                              xcb_atom_t netWmPid) {
    const std::string bytes = PropertyBytes(connection, window, netWmPid, XCB_ATOM_CARDINAL, 1);
    std::uint32_t pid = 0;
    if (bytes.size() != sizeof pid)
        return std::nullopt;
    std::memcpy(&pid, bytes.data(), sizeof pid);
    return pid;
}

// What a window manager sends a window when the user closes it (WM_DELETE_WINDOW), flushed.
inline void SendCloseRequest(xcb_connection_t* connection, xcb_window_t window,
                             xcb_atom_t wmProtocols, xcb_atom_t wmDeleteWindow) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = wmProtocols;
    message.data.data32[0] = wmDeleteWindow;
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

// The program's state lamp as a window's _NET_WM_ICON shows it (width, height, then ARGB pixels
// row by row, of the first picture): green or red when its opaque pixels are plainly that, none
// when the picture is something else or cannot be read.
enum class LampColour { None, Green, Red };
inline std::optional<LampColour> IconLamp(xcb_connection_t* connection, xcb_window_t window,
                                          xcb_atom_t netWmIcon) {
    const std::string bytes =
        PropertyBytes(connection, window, netWmIcon, XCB_ATOM_CARDINAL, 1 << 16);
    if (bytes.size() < 8)
        return std::nullopt;
    std::vector<std::uint32_t> longs(bytes.size() / 4);
    std::memcpy(longs.data(), bytes.data(), longs.size() * 4);
    if (longs.size() - 2 < std::uint64_t{longs[0]} * longs[1])
        return std::nullopt;
    std::uint64_t red = 0, green = 0;
    for (std::size_t i = 2; i < 2 + std::size_t{longs[0]} * longs[1]; ++i) {
        if ((longs[i] >> 24) < 0x80)
            continue;
        red += (longs[i] >> 16) & 0xFF;
        green += (longs[i] >> 8) & 0xFF;
    }
    return green > 2 * red ? LampColour::Green : red > 2 * green ? LampColour::Red : LampColour::None;
}

// Whether the window's WM_HINTS ask for it to start iconic. One round trip.
inline bool AsksToStartIconic(xcb_connection_t* connection, xcb_window_t window) {
    constexpr std::uint32_t kStateHint = 1u << 1; // WM_HINTS: initial_state is given
    const std::string hints =
        PropertyBytes(connection, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 9);
    std::uint32_t flags = 0, initial = 0;
    if (hints.size() >= 3 * sizeof flags) {
        std::memcpy(&flags, hints.data(), sizeof flags);
        std::memcpy(&initial, hints.data() + 2 * sizeof flags, sizeof initial);
    }
    return (flags & kStateHint) && initial == kIconicState;
}

// Hands each event the server has sent so far to `handle`, then sends the requests made.
template <class Handle> void ServeEvents(xcb_connection_t* connection, Handle&& handle) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
        handle(event);
        std::free(event);
    }
    xcb_flush(connection);
}

// Carries out a configure request as the window asked it.
inline void Configure(xcb_connection_t* connection, const xcb_configure_request_event_t& request) {
    const std::pair<std::uint16_t, std::uint32_t> fields[] = {
        {XCB_CONFIG_WINDOW_X, static_cast<std::uint32_t>(request.x)},
        {XCB_CONFIG_WINDOW_Y, static_cast<std::uint32_t>(request.y)},
        {XCB_CONFIG_WINDOW_WIDTH, request.width},
        {XCB_CONFIG_WINDOW_HEIGHT, request.height},
        {XCB_CONFIG_WINDOW_BORDER_WIDTH, request.border_width},
        {XCB_CONFIG_WINDOW_SIBLING, request.sibling},
        {XCB_CONFIG_WINDOW_STACK_MODE, request.stack_mode},
    };
    std::uint32_t values[7];
    std::uint32_t count = 0;
    for (const auto& [flag, value] : fields)
        if (request.value_mask & flag)
            values[count++] = value;
    xcb_configure_window(connection, request.window, request.value_mask, values);
}

class TestDesktop {
public:
    TestDesktop() : display_(XcbDisplay::Open(nullptr)) {
        if (!display_)
            throw std::runtime_error("no X server on $DISPLAY");
        xcb_ = display_->xcb.get();
    }
    ~TestDesktop() {
        xcb_delete_property(xcb_, display_->root, display_->clientListStacking);
        for (const xcb_window_t window : windows_)
            xcb_destroy_window(xcb_, window);
        XcbSync(xcb_);
    }
    TestDesktop(const TestDesktop&) = delete;
    TestDesktop& operator=(const TestDesktop&) = delete;

    xcb_atom_t utf8String() const { return display_->utf8String; }
    xcb_atom_t compoundText() const { return display_->compoundText; }

    // A new window on top of the stack, with each caption property that is given: _NET_WM_NAME
    // as UTF8_STRING, WM_NAME with the type given (STRING, that is Latin-1, by default).
    xcb_window_t MakeWindow(std::optional<std::string_view> netWmName,
                            std::optional<std::string_view> wmName = std::nullopt,
                            xcb_atom_t wmNameType = XCB_ATOM_STRING) {
        const xcb_window_t window = xcb_generate_id(xcb_);
        xcb_create_window(xcb_, XCB_COPY_FROM_PARENT, window, display_->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        if (netWmName)
            SetText(window, display_->netWmName, display_->utf8String, *netWmName);
        if (wmName)
            SetText(window, XCB_ATOM_WM_NAME, wmNameType, *wmName);
        windows_.push_back(window);
        XcbSync(xcb_);
        return window;
    }

    void Destroy(xcb_window_t window) {
        xcb_destroy_window(xcb_, window);
        std::erase(windows_, window);
        XcbSync(xcb_);
    }

    // XCB_STACK_MODE_ABOVE puts the window on top of its siblings, BELOW at the bottom.
    void Restack(xcb_window_t window, xcb_stack_mode_t mode) {
        const std::uint32_t value = mode;
        xcb_configure_window(xcb_, window, XCB_CONFIG_WINDOW_STACK_MODE, &value);
        XcbSync(xcb_);
    }

    // What a window manager publishes: its clients from the bottom of the stack to the top.
    void SetStackingList(const std::vector<xcb_window_t>& bottomToTop) {
        xcb_change_property(xcb_, XCB_PROP_MODE_REPLACE, display_->root,
                            display_->clientListStacking, XCB_ATOM_WINDOW, 32,
                            static_cast<std::uint32_t>(bottomToTop.size()), bottomToTop.data());
        XcbSync(xcb_);
    }
    void RemoveStackingList() {
        xcb_delete_property(xcb_, display_->root, display_->clientListStacking);
        XcbSync(xcb_);
    }

    // A window id that names no window: one of ours, destroyed.
    xcb_window_t VanishedWindow() {
        const xcb_window_t window = MakeWindow(std::string_view("gone"));
        Destroy(window);
        return window;
    }

    const std::vector<xcb_window_t>& windows() const { return windows_; }

private:
    void SetText(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, std::string_view text) {
        xcb_change_property(xcb_, XCB_PROP_MODE_REPLACE, window, property, type, 8,
                            static_cast<std::uint32_t>(text.size()), text.data());
    }

    std::optional<XcbDisplay> display_;
    xcb_connection_t* xcb_ = nullptr;
    std::vector<xcb_window_t> windows_;
};

} // namespace quorvane::test
