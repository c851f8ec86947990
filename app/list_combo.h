#pragma once
// A combo box whose list is read afresh each time the user comes to it (it drops down, or takes
// the focus for the arrow keys), not before: what it lists can change meanwhile (interfaces come
// and go, dial-up connections are made), and reading it may cost a look into the store or the
// system that a window which stays minimised never needs.

#include <QComboBox>

#include <functional>
#include <utility>

namespace quorvane {

class TListOnUseCombo : public QComboBox {
public:
    explicit TListOnUseCombo(QWidget* parent) : QComboBox(parent) {}
    void SetFill(std::function<void()> fill) { fill_ = std::move(fill); }

    void showPopup() override {
        Fill();
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

} // namespace quorvane
