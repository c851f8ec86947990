// quorvane-icons FOLDER SIZE...: draws the program's icon as FOLDER/<N>x<N>/apps/quorvane.png
// for each size, the layout of the hicolor icon theme, for installation.
// quorvane-icons --source FILE: writes the pictures the program shows at start (the icon at the
// window icon's sizes, the two lamps) as a C++ table of their pixels (drawn_pictures.h).
#include "app/pictures.h"

#include <QDir>
#include <QSaveFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Named {
    QString name;
    QImage image;
};

QByteArray Table(const std::vector<Named>& pictures) {
    QByteArray out = "// Written by quorvane-icons --source at build time: do not edit.\n"
                     "#include \"app/drawn_pictures.h\"\n\n"
                     "namespace quorvane {\n\nnamespace {\n\n";
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const QImage image = pictures[i].image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        out += "const std::uint32_t kPixels" + QByteArray::number(qulonglong(i)) + "[] = {";
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                out += (x + y * image.width()) % 8 == 0 ? "\n    " : " ";
                out += "0x" + QByteArray::number(row[x], 16).rightJustified(8, '0') + "u,";
            }
        }
        out += "\n};\n\n";
    }
    out += "const DrawnPicture kPictures[] = {\n";
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        out += "    {\"" + pictures[i].name.toLatin1() + "\", " +
               QByteArray::number(pictures[i].image.width()) + ", " +
               QByteArray::number(pictures[i].image.height()) + ", kPixels" +
               QByteArray::number(qulonglong(i)) + "},\n";
    }
    out += "};\n\n} // namespace\n\nstd::span<const DrawnPicture> DrawnPictures() {\n"
           "    return kPictures;\n}\n\n} // namespace quorvane\n";
    return out;
}

int WriteSource(const QString& file) {
    std::vector<Named> pictures;
    for (int size : quorvane::kProgramIconSizes)
        pictures.push_back({quorvane::ProgramPictureName(size), quorvane::ProgramImage(size)});
    for (const QColor& colour : {quorvane::kLampOnline, quorvane::kLampOffline})
        pictures.push_back({quorvane::LampPictureName(colour), quorvane::LampImage(colour)});
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(Table(pictures)) < 0 || !out.commit()) {
        std::fprintf(stderr, "quorvane-icons: cannot write %s\n", qPrintable(file));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--source") == 0)
        return WriteSource(QString::fromLocal8Bit(argv[2]));
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorvane-icons FOLDER SIZE...\n"
                             "       quorvane-icons --source FILE\n");
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
