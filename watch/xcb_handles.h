#pragma once
// Owning handles for what xcb hands over (the connection, and the replies and errors that the
// caller must free), and a connection to a display with the few names the caption walk uses.

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <type_traits>

namespace quorvane {

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

struct XcbFree {
    void operator()(void* block) const { std::free(block); }
};
// A reply (xcb_get_property_reply_t, ...) or an xcb_generic_error_t.
template <class T> using XcbReply = std::unique_ptr<T, XcbFree>;

// The reply to one request through its xcb_*_reply function, e.g.
// XcbAnswer(connection, xcb_get_property_reply, cookie); null when the request failed. The
// error is always taken and freed here: left to xcb, it would pile up in the event queue.
template <class ReplyFunction, class Cookie>
auto XcbAnswer(xcb_connection_t* connection, ReplyFunction reply, Cookie cookie) {
    xcb_generic_error_t* error = nullptr;
    using Reply = std::remove_pointer_t<decltype(reply(connection, cookie, &error))>;
    XcbReply<Reply> answer(reply(connection, cookie, &error));
    const XcbReply<xcb_generic_error_t> dropped(error);
    return answer;
}

// One round trip: when it returns, the server has carried out every request sent before it on
// this connection. False when the connection has failed.
bool XcbSync(xcb_connection_t* connection);

// A connection to an X display, the root window of its screen, and the atoms of the names that
// window captions and a window manager's stacking list are published under.
struct XcbDisplay {
    XcbConnection xcb;
    xcb_window_t root = XCB_NONE;
    xcb_atom_t clientListStacking = XCB_NONE; // _NET_CLIENT_LIST_STACKING
    xcb_atom_t netWmName = XCB_NONE;          // _NET_WM_NAME
    xcb_atom_t utf8String = XCB_NONE;         // UTF8_STRING
    xcb_atom_t compoundText = XCB_NONE;       // COMPOUND_TEXT

    // The display of that name (null: $DISPLAY); nullopt when it cannot be reached.
    static std::optional<XcbDisplay> Open(const char* name);
};

} // namespace quorvane
