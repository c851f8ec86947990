#include "app/icons.h"

#include "app/drawn_pictures.h"

#include <QApplication>
#include <QIconEngine>
#include <QPointer>
#include <QWidget>

#include <map>

namespace quorvane {

namespace {

// The picture the build drew under `name` (see drawn_pictures.h), else a null image.
QImage BuiltPicture(const QString& name) {
    for (const DrawnPicture& picture : DrawnPictures()) {
        if (name == QLatin1String(picture.name))
            return QImage(reinterpret_cast<const uchar*>(picture.pixels), picture.width,
                          picture.height, QImage::Format_ARGB32_Premultiplied);
    }
    return {};
}

// `name`'s picture as the build drew it, or as `draw` draws it now; once a process.
template <class Draw> QPixmap Picture(const QString& name, Draw draw) {
    // The GUI thread alone asks for pictures.
    static std::map<QString, QPixmap> made;
    auto [found, added] = made.try_emplace(name);
    if (added) {
        const QImage built = BuiltPicture(name);
        found->second = QPixmap::fromImage(built.isNull() ? draw() : built);
    }
    return found->second;
}

} // namespace

QPixmap LampPixmap(const QColor& colour) {
    return Picture(LampPictureName(colour), [&] { return LampImage(colour); });
}

QPixmap ProgramPixmap(int size) {
    return Picture(ProgramPictureName(size), [&] { return ProgramImage(size); });
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : kProgramIconSizes)
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
