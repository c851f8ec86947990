#pragma once
// Owning handles for what xcb hands over: the connection, and the replies and errors that the
// caller must free.

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
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

} // namespace quorvane
