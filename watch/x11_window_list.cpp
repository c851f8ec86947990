#include "watch/x11_window_list.h"

#include "core/text_codec.h"
#include "watch/xcb_handles.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace quorvane {

namespace {

// Enough 32-bit units for kMaxCaptionChars characters of four UTF-8 bytes each.
constexpr std::uint32_t kCaptionLongs = kMaxCaptionChars;
// The whole property, however long: the server sends what there is.
constexpr std::uint32_t kWholeProperty = UINT32_MAX / 4;

std::string_view PropertyText(const xcb_get_property_reply_t* reply) {
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply));
    const std::string_view text(data,
                                static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    // A caption ends at its first zero byte, as a C string would.
    return text.substr(0, text.find('\0'));
}

// The first kMaxCaptionChars characters, cut before a lead byte; nullopt when what is kept is
// not valid UTF-8 (a property cut off by the request's length can end inside a character, but
// never within the characters kept).
std::optional<std::string> Utf8Caption(std::string_view text) {
    std::size_t chars = 0, end = 0;
    for (; end < text.size(); ++end) {
        const bool lead = (static_cast<unsigned char>(text[end]) & 0xC0) != 0x80;
        if (lead && ++chars > kMaxCaptionChars)
            break;
    }
    text = text.substr(0, end);
    if (!IsValidUtf8(text))
        return std::nullopt;
    return std::string(text);
}

// ISO 8859-1: every byte is the code point of the same number.
std::string Latin1Caption(std::string_view text) {
    text = text.substr(0, kMaxCaptionChars);
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

// Reads both answers, whichever is used, so that none is left queued on the connection.
std::string Caption(const XcbDisplay& display, xcb_get_property_cookie_t netWmNameCookie,
                    xcb_get_property_cookie_t wmNameCookie) {
    // A window destroyed since the list was read answers both with BadWindow: no caption.
    const auto netWmName = XcbAnswer(display.xcb.get(), xcb_get_property_reply, netWmNameCookie);
    const auto wmName = XcbAnswer(display.xcb.get(), xcb_get_property_reply, wmNameCookie);

    if (netWmName && netWmName->type == display.utf8String && netWmName->format == 8) {
        if (auto caption = Utf8Caption(PropertyText(netWmName.get())))
            return std::move(*caption);
    }
    if (!wmName || wmName->format != 8)
        return {};
    const std::string_view text = PropertyText(wmName.get());
    if (wmName->type == XCB_ATOM_STRING)
        return Latin1Caption(text);
    if (wmName->type == display.utf8String)
        return Utf8Caption(text).value_or(std::string());
    // Compound text starts out as Latin-1 and only an escape sequence switches it to another
    // character set; such a window publishes _NET_WM_NAME anyway.
    if (wmName->type == display.compoundText && text.find('\x1b') == std::string_view::npos)
        return Latin1Caption(text);
    return {};
}

} // namespace

X11WindowTitles::X11WindowTitles() = default;
X11WindowTitles::X11WindowTitles(std::string display) : displayName_(std::move(display)) {}
X11WindowTitles::~X11WindowTitles() = default;

bool X11WindowTitles::Connect() {
    if (display_ && xcb_connection_has_error(display_->xcb.get()) == 0)
        return true;
    display_.reset();

    const char* name = displayName_ ? displayName_->c_str() : std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return false;
    if (auto display = XcbDisplay::Open(name))
        display_ = std::make_unique<XcbDisplay>(std::move(*display));
    return display_ != nullptr;
}

bool X11WindowTitles::CaptionsReadable() {
    return Connect();
}

std::vector<WindowTitle> X11WindowTitles::WindowTitles() {
    if (!Connect())
        return {};
    const XcbDisplay& d = *display_;
    xcb_connection_t* xcb = d.xcb.get();

    // Both lists are asked for at once; the root's children are only read when the window
    // manager publishes no stacking list.
    const xcb_get_property_cookie_t stackingCookie =
        xcb_get_property(xcb, 0, d.root, d.clientListStacking, XCB_ATOM_WINDOW, 0, kWholeProperty);
    const xcb_query_tree_cookie_t treeCookie = xcb_query_tree(xcb, d.root);

    std::vector<std::uint32_t> windows;
    const auto stacking = XcbAnswer(xcb, xcb_get_property_reply, stackingCookie);
    if (stacking && stacking->type == XCB_ATOM_WINDOW && stacking->format == 32) {
        xcb_discard_reply(xcb, treeCookie.sequence);
        const auto* first =
            static_cast<const xcb_window_t*>(xcb_get_property_value(stacking.get()));
        windows.assign(first, first + xcb_get_property_value_length(stacking.get()) / 4);
    } else {
        const auto tree = XcbAnswer(xcb, xcb_query_tree_reply, treeCookie);
        if (tree) {
            const xcb_window_t* first = xcb_query_tree_children(tree.get());
            windows.assign(first, first + xcb_query_tree_children_length(tree.get()));
        }
    }
    // Both lists run from the bottom of the stack to its top.
    std::reverse(windows.begin(), windows.end());

    if (BeforeCaptionRequests)
        BeforeCaptionRequests(windows);

    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> cookies;
    cookies.reserve(windows.size());
    for (const xcb_window_t window : windows) {
        cookies.emplace_back(
            xcb_get_property(xcb, 0, window, d.netWmName, d.utf8String, 0, kCaptionLongs),
            xcb_get_property(xcb, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
                             kCaptionLongs));
    }
    std::vector<WindowTitle> titles;
    titles.reserve(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i)
        titles.push_back({windows[i], Caption(d, cookies[i].first, cookies[i].second)});

    if (xcb_connection_has_error(xcb) != 0) {
        display_.reset();
        return {};
    }
    return titles;
}

WindowTitleSource& DesktopWindowTitles() {
    static X11WindowTitles desktop;
    return desktop;
}

} // namespace quorvane
