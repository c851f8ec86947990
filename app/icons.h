#pragma once
// Pictures the program draws itself, so it needs no image files beside the executable.

#include "app/pictures.h"

#include <QIcon>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QStyle>

namespace quorvane {

// A round lamp of the given colour, 16 by 16 (LampImage), and the program's own icon (a
// stopwatch) at the given size (ProgramImage): the build's drawing where it drew that picture
// (the lamps of kLampOnline and kLampOffline, the icon at kProgramIconSizes), else drawn now;
// each made once a process.
QPixmap LampPixmap(const QColor& colour);
QPixmap ProgramPixmap(int size = 32);
QIcon ProgramIcon();

// The style's standard picture `which`, looked up in the style of `widget` (the application's
// once that is gone) only when it is first drawn or measured. The look-up reads the desktop's
// icon theme and loads Qt's image readers, which a window that starts minimised does not need
// before the user first restores it.
QIcon LazyStandardIcon(QStyle::StandardPixmap which, const QWidget* widget);

// A small list of same-sized images addressed by index, owned by a window like its controls.
class TImageList : public QObject {
    Q_OBJECT
public:
    explicit TImageList(QObject* parent = nullptr) : QObject(parent) {}

    void Add(const QPixmap& image) { images_.append(image); }
    int Count() const { return static_cast<int>(images_.size()); }
    // A null pixmap/icon for an index outside the list.
    QPixmap Pixmap(int index) const;
    QIcon Icon(int index) const;

private:
    QList<QPixmap> images_;
};

} // namespace quorvane
