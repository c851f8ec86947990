#include "app/icons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPointer>
#include <QRadialGradient>
#include <QWidget>

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

namespace {

// Stands in for the style's icon and asks the style for it at the first use.
class TStandardIconEngine final : public QIconEngine {
public:
    TStandardIconEngine(QStyle::StandardPixmap which, const QWidget* widget)
        : which_(which), widget_(widget) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        Icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        return Icon().pixmap(size, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return Icon().availableSizes(mode, state);
    }
    QString iconName() override { return Icon().name(); }
    // Asked when a button is measured, which must not cost the look-up: every standard picture
    // the window uses is one that the style draws itself.
    bool isNull() override { return looked_ && icon_.isNull(); }
    QString key() const override { return QStringLiteral("quorvane-standard-icon"); }
    QIconEngine* clone() const override {
        auto* copy = new TStandardIconEngine(which_, widget_);
        copy->icon_ = icon_;
        copy->looked_ = looked_;
        return copy;
    }

private:
    const QIcon& Icon() {
        if (!looked_) {
            const QStyle* style = widget_ ? widget_->style() : QApplication::style();
            icon_ = style->standardIcon(which_, nullptr, widget_);
            looked_ = true;
        }
        return icon_;
    }

    QStyle::StandardPixmap which_;
    QPointer<const QWidget> widget_;
    QIcon icon_;
    bool looked_ = false;
};

} // namespace

QIcon LazyStandardIcon(QStyle::StandardPixmap which, const QWidget* widget) {
    return QIcon(new TStandardIconEngine(which, widget));
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
