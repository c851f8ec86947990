#include "app/x11_icon_name.h"

#include <QGuiApplication>
#include <QString>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

namespace quorvane {

void SetLegacyIconName(QWidget* window, const QString& text) {
    if (!window || !window->windowHandle() || !window->testAttribute(Qt::WA_WState_Created))
        return;
    // The offscreen platform answers the X11 interface too, with no connection behind it.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    // WM_ICON_NAME is a STRING property: Latin-1.
    const QByteArray latin1 = text.toLatin1();
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window->winId()), XCB_ATOM_WM_ICON_NAME,
                        XCB_ATOM_STRING, 8, static_cast<uint32_t>(latin1.size()),
                        latin1.constData());
    xcb_flush(connection);
}

} // namespace quorvane
