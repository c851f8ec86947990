#include "app/x11_window.h"

#include <QAbstractEventDispatcher>
#include <QGuiApplication>
#include <QString>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

namespace quorvane {

namespace {

// Qt's own connection to the X server; nullptr on other platforms. The offscreen platform
// answers the X11 interface too, with no connection behind it.
xcb_connection_t* QtConnection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

} // namespace

void SetLegacyIconName(QWidget* window, const QString& text) {
    if (!window || !window->windowHandle() || !window->testAttribute(Qt::WA_WState_Created))
        return;
    xcb_connection_t* connection = QtConnection();
    if (!connection)
        return;
    // WM_ICON_NAME is a STRING property: Latin-1. Sent with the rest before the loop waits.
    const QByteArray latin1 = text.toLatin1();
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE,
                        static_cast<xcb_window_t>(window->winId()), XCB_ATOM_WM_ICON_NAME,
                        XCB_ATOM_STRING, 8, static_cast<uint32_t>(latin1.size()),
                        latin1.constData());
}

void SendX11RequestsBeforeEachWait(QWidget* window) {
    xcb_connection_t* connection = QtConnection();
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(window->thread());
    if (!connection || !dispatcher)
        return;
    // Sends nothing, and makes no system call, when nothing is queued.
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, window,
                     [connection] { xcb_flush(connection); });
}

} // namespace quorvane
