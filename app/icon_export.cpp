// quorvane-icons FOLDER SIZE...: draws the program's icon as FOLDER/<N>x<N>/apps/quorvane.png
// for each size, the layout of the hicolor icon theme, for installation.
#include "app/icons.h"

#include <QDir>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorvane-icons FOLDER SIZE...\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        const QString file = dir + QStringLiteral("/quorvane.png");
        if (size <= 0 || !QDir().mkpath(dir) || !quorvane::ProgramImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "quorvane-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
