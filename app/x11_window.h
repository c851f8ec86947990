#pragma once
// What the main window needs of X11 beyond Qt: the legacy icon name, and requests that reach the
// X server as soon as they are made.

class QString;
class QWidget;

namespace quorvane {

// Sets WM_ICON_NAME of the window's native X11 window. Does nothing on other platforms or
// before the native window exists. Qt publishes a window's icon text only as
// _NET_WM_ICON_NAME; window managers and taskbars that predate the EWMH read WM_ICON_NAME.
void SetLegacyIconName(QWidget* window, const QString& text);

// From now on, for as long as `window` lives, every request made to the X server (a new icon,
// an icon name, a window state) is sent before the event loop next waits. Qt sends what it has
// queued only when it serves an X event, so a change made for a timer, the kernel's interfaces
// or D-Bus would otherwise wait for the next X event, which may be minutes away. Does nothing
// on other platforms.
void SendX11RequestsBeforeEachWait(QWidget* window);

} // namespace quorvane
