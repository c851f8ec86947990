#include "app/pictures.h"

#include <QPainter>
#include <QRadialGradient>

namespace quorvane {

QString LampPictureName(const QColor& colour) {
    return QStringLiteral("lamp-") + colour.name(QColor::HexRgb).mid(1);
}

QString ProgramPictureName(int size) {
    return QStringLiteral("program-%1").arg(size);
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

QImage LampImage(const QColor& colour) {
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A highlight towards the top left makes the lamp read as lit at this small size.
    QRadialGradient glow(QPointF(6.0, 6.0), 8.0);
    glow.setColorAt(0.0, colour.lighter(170));
    glow.setColorAt(0.6, colour);
    glow.setColorAt(1.0, colour.darker(160));
    painter.setBrush(glow);
    painter.setPen(QPen(colour.darker(250), 1.0));
    painter.drawEllipse(QRectF(1.5, 1.5, 13.0, 13.0));
    painter.end();
    return image;
}

} // namespace quorvane
