#pragma once
// A combo box whose list is read afresh each time the user comes to it (it drops down, or takes
// the focus for the arrow keys), not before: what it lists can change meanwhile (interfaces come
// and go, dial-up connections are made), and reading it may cost a look into the store or the
// system that a window which stays minimised never needs. Without a fill it is a plain box. Its
// drop-down list lays out with the shaper: it lists names in any script (see caption_font.h).

#include "app/caption_font.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>

#include <functional>
#include <utility>

namespace quorvane {

class TListOnUseCombo : public QComboBox {
public:
    explicit TListOnUseCombo(QWidget* parent) : QComboBox(parent) {}
    void SetFill(std::function<void()> fill) { fill_ = std::move(fill); }

    void showPopup() override {
        Fill();
        UseShaper(view(), true);
        QComboBox::showPopup();
    }

protected:
    void focusInEvent(QFocusEvent* event) override {
        Fill();
        QComboBox::focusInEvent(event);
    }

private:
    void Fill() {
        if (fill_)
            fill_();
    }

    std::function<void()> fill_;
};

// Makes `combo` a box whose typed text is the value itself (a provider name, a seek text, an
// interface): Enter does not add it to the list, and no completion turns it into another entry's
// text. The line edit is given directly rather than through setEditable(true), which would also
// build the drop-down list's popup at once: a window that stays minimised never opens it.
inline void MakeEditableCombo(QComboBox* combo) {
    combo->setLineEdit(new QLineEdit(combo));
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->setCurrentIndex(-1);
    combo->setEditText(QString());
}

} // namespace quorvane
