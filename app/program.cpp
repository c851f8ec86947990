#include "app/program.h"

#include "app/icons.h"
#include "app/timer.h"
#include "core/regional.h"
#include "core/version.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace quorvane {

namespace {

bool IsSet(const char* value) {
    return value && *value;
}

bool NamesPlatform(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0 ||
            std::strncmp(argv[i], "-platform=", 10) == 0)
            return true;
    }
    return false;
}

// The resident set size from /proc, in kB; -1 when it cannot be read.
long ResidentKilobytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // Files in /proc report a size of 0, so the whole file is read rather than tested for its end.
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

} // namespace

std::optional<std::string> MissingDisplayMessage(int argc, char** argv,
                                                 const EnvironmentReader& environment) {
    if (IsSet(environment("QT_QPA_PLATFORM")) || NamesPlatform(argc, argv))
        return std::nullopt;
    if (IsSet(environment("WAYLAND_DISPLAY")))
        return std::nullopt;
    const char* display = environment("DISPLAY");
    if (!IsSet(display))
        return std::string("quorvane: no graphical display found (neither DISPLAY nor "
                           "WAYLAND_DISPLAY is set); Quorvane needs a desktop session to run.");
    // Qt would abort on a display it cannot open; a trial connection lets us say so plainly.
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (failed)
        return "quorvane: cannot open the X display \"" + std::string(display) +
               "\"; Quorvane needs a desktop session to run.";
    return std::nullopt;
}

int RunProgram(int argc, char** argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();

    if (const auto message =
            MissingDisplayMessage(argc, argv, [](const char* name) { return std::getenv(name); })) {
        std::fprintf(stderr, "%s\n", message->c_str());
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    // The installed desktop entry, so the desktop shows the window as that program's.
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvane"));
    QApplication::setWindowIcon(ProgramIcon());
    Regional() = RegionalSettings::FromLocale("").value_or(RegionalSettings{});

    TfrmTimer frmTimer;

    // A diagnostic switch for measuring start-up: report at the first idle moment and end.
    if (qEnvironmentVariableIsSet("QUORVANE_QUIT_WHEN_IDLE")) {
        QTimer::singleShot(0, &frmTimer, [&sinceStart] {
            std::fprintf(stderr, "quorvane: idle %lld ms after start, resident %ld kB\n",
                         static_cast<long long>(sinceStart.elapsed()), ResidentKilobytes());
            QCoreApplication::exit(0);
        });
    }
    return QApplication::exec();
}

} // namespace quorvane
