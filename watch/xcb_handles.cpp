#include "watch/xcb_handles.h"

#include <cstring>
#include <iterator>
#include <utility>

namespace quorvane {

bool XcbSync(xcb_connection_t* connection) {
    return XcbAnswer(connection, xcb_get_input_focus_reply, xcb_get_input_focus(connection)) !=
           nullptr;
}

std::optional<XcbDisplay> XcbDisplay::Open(const char* name) {
    XcbDisplay display;
    int screenNumber = 0;
    display.xcb.reset(xcb_connect(name, &screenNumber));
    xcb_connection_t* xcb = display.xcb.get();
    if (xcb_connection_has_error(xcb) != 0)
        return std::nullopt;

    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(xcb));
    for (int i = 0; i < screenNumber && screen.rem > 0; ++i)
        xcb_screen_next(&screen);
    if (screen.rem == 0)
        return std::nullopt;
    display.root = screen.data->root;

    const std::pair<const char*, xcb_atom_t*> atoms[] = {
        {"_NET_CLIENT_LIST_STACKING", &display.clientListStacking},
        {"_NET_WM_NAME", &display.netWmName},
        {"UTF8_STRING", &display.utf8String},
        {"COMPOUND_TEXT", &display.compoundText},
    };
    xcb_intern_atom_cookie_t cookies[std::size(atoms)];
    for (std::size_t i = 0; i < std::size(atoms); ++i)
        cookies[i] = xcb_intern_atom(xcb, 0, std::strlen(atoms[i].first), atoms[i].first);
    bool complete = true;
    for (std::size_t i = 0; i < std::size(atoms); ++i) {
        const auto reply = XcbAnswer(xcb, xcb_intern_atom_reply, cookies[i]);
        complete = complete && reply;
        if (reply)
            *atoms[i].second = reply->atom;
    }
    if (!complete)
        return std::nullopt;
    return display;
}

} // namespace quorvane
