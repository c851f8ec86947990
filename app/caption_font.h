#pragma once
// The main window lays its texts out without the OpenType shaper, from the font's character map:
// it measures a few hundred of them while it starts (the English captions of its seven pages),
// and shaping them was a fifth of all the work of a start. A text that needs the shaper to be
// legible keeps it: with the shaper off, Qt lays out even Arabic letters unjoined. So a field or
// a label that shows the user's, the locale's or the system's text (a provider's name, a
// currency, an interface) takes the shaper back as soon as its text holds anything beyond the
// Latin letters.

#include <QFont>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace quorvane {

// Whether `text` needs the shaper: anything beyond Latin-1 and the Latin Extended blocks
// (combining marks, Greek, Cyrillic, Hebrew, Arabic, the Indic scripts, …) is given it.
inline bool NeedsShaper(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() > 0x024F)
            return true;
    }
    return false;
}

// Lays out `widget`'s text (and that of its children, unless they say otherwise) with the
// shaper or without it.
inline void UseShaper(QWidget* widget, bool shaper) {
    QFont font = widget->font();
    const QFont::StyleStrategy strategy = shaper ? QFont::PreferDefault : QFont::PreferNoShaping;
    if (font.styleStrategy() == strategy)
        return;
    font.setStyleStrategy(strategy);
    widget->setFont(font);
}

// Shows `text` in `label`, with the shaper where the text needs it.
inline void ShowText(QLabel* label, const QString& text) {
    UseShaper(label, NeedsShaper(text));
    label->setText(text);
}

} // namespace quorvane
