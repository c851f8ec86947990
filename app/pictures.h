#pragma once
// The program's own pictures, drawn with QPainter: the build draws them once into the program
// (drawn_pictures.h) and into the icon theme's files, so a start paints nothing.

#include <QColor>
#include <QImage>
#include <QString>

namespace quorvane {

// The lamps' colours: green while a session runs, red otherwise.
inline const QColor kLampOnline{0, 200, 0};
inline const QColor kLampOffline{220, 0, 0};
// The sizes of the program's icon kept in the program, the ones window icons ask for.
inline constexpr int kProgramIconSizes[] = {16, 32, 48};

// The program's icon (a stopwatch), `size` by `size`.
QImage ProgramImage(int size);
// A round lamp of the given colour, 16 by 16.
QImage LampImage(const QColor& colour);

// The names under which the build keeps those pictures in the program.
QString ProgramPictureName(int size);
QString LampPictureName(const QColor& colour);

} // namespace quorvane
