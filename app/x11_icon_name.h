#pragma once
// The legacy X11 icon name. Qt publishes a window's icon text only as _NET_WM_ICON_NAME; window
// managers and taskbars that predate the EWMH read WM_ICON_NAME instead.

class QString;
class QWidget;

namespace quorvane {

// Sets WM_ICON_NAME of the window's native X11 window. Does nothing on other platforms or
// before the native window exists.
void SetLegacyIconName(QWidget* window, const QString& text);

} // namespace quorvane
