// The yardstick of bench_startup: the least a Qt Widgets program does to be on the desktop as
// Quorvane is at start, one label shown minimised, ended when its event loop first has nothing
// to do.
#include <QApplication>
#include <QLabel>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QLabel label(QStringLiteral("Quorvane"));
    label.showMinimized();
    QTimer::singleShot(0, &label, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}
