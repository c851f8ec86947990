#include "app/icons.h"

#include <QPainter>
#include <QRadialGradient>

namespace quorvane {

QPixmap LampPixmap(const QColor& colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // A highlight towards the top left makes the lamp read as lit at this small size.
    QRadialGradient glow(QPointF(6.0, 6.0), 8.0);
    glow.setColorAt(0.0, colour.lighter(170));
    glow.setColorAt(0.6, colour);
    glow.setColorAt(1.0, colour.darker(160));
    painter.setBrush(glow);
    painter.setPen(QPen(colour.darker(250), 1.0));
    painter.drawEllipse(QRectF(1.5, 1.5, 13.0, 13.0));
    return pixmap;
}

QImage ProgramImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    // Stopwatch: crown, dial, two hands.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(60, 60, 60));
    painter.drawRect(QRectF(13.0, 1.0, 6.0, 4.0));
    painter.setPen(QPen(QColor(40, 40, 40), 2.0));
    painter.setBrush(QColor(250, 250, 235));
    painter.drawEllipse(QRectF(3.0, 5.0, 26.0, 26.0));
    painter.setPen(QPen(QColor(200, 30, 30), 2.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(16.0, 18.0), QPointF(16.0, 9.0));
    painter.setPen(QPen(QColor(40, 40, 40), 2.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(16.0, 18.0), QPointF(22.0, 21.0));
    painter.end();
    return image;
}

QPixmap ProgramPixmap(int size) {
    return QPixmap::fromImage(ProgramImage(size));
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addPixmap(ProgramPixmap(size));
    return icon;
}

QPixmap TImageList::Pixmap(int index) const {
    if (index < 0 || index >= images_.size())
        return {};
    return images_.at(index);
}

QIcon TImageList::Icon(int index) const {
    const QPixmap image = Pixmap(index);
    return image.isNull() ? QIcon() : QIcon(image);
}

} // namespace quorvane
