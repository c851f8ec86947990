#pragma once
// The application font's one change from Qt's: Latin, Greek, Cyrillic and the like are laid out
// without the OpenType shaper, from the font's character map (and its kerning table); scripts
// that need shaping to be legible are shaped as before. The window measures a few hundred texts
// while it starts (every caption and field of its seven pages), and shaping them was a fifth of
// all the work of a start. Set once the application object exists, before any window.

#include <QApplication>
#include <QFont>

namespace quorvane {

inline void UseProgramFont() {
    QFont font = QApplication::font();
    font.setStyleStrategy(QFont::PreferNoShaping);
    QApplication::setFont(font);
}

} // namespace quorvane
