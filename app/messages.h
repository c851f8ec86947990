#pragma once
// The program's two message boxes. Every message of the program's own goes through one of them.
// A test installs a ModalScript to see what would be shown and to give the answers; the boxes
// are then never put on screen.

#include <QString>

class QWidget;

#include <deque>
#include <exception>
#include <functional>
#include <vector>

namespace quorvane {

// The answer codes of AskConfirm.
enum ConfirmAnswer : int { mrYes = 6, mrNo = 7, mrCancel = 2 };

// A modal box captioned "Information" with an information icon, the text and one "OK" button.
void ShowInformation(const QString& text);

// The same box, but one that leaves the window behind it free: a field check's note, which must
// not keep the user from exiting, closing or minimising the window or changing the page while
// it is up. Returns at once; a note still up shows the new text instead of a second box.
void ShowInformationModeless(const QString& text, QWidget* parent);

// A modal box captioned "Warning" with a warning icon, the text and one "OK" button: what ends a
// start before it has a window (another Quorvane runs on the store).
void ShowWarning(const QString& text);

// A box captioned "Warning" with a warning icon, the text and one "OK" button, of its own on the
// desktop (not over the main window, which may be minimised) and modeless: what a start found
// wrong, which must hold up neither the start nor a program that nobody watches. Returns at
// once; it goes when the user dismisses it or the program ends.
void ShowWarningModeless(const QString& text);

// A modal box captioned "Confirm" with a question icon, the text and "&Yes" (default), "&No"
// and "Cancel". Escape or closing the box answers mrCancel.
int AskConfirm(const QString& text);

// The box that reports an error that ended a user action (a stored value of the wrong type, a
// sound that cannot be played): captioned "Error", with a critical icon and one "OK" button.
void ShowError(const QString& text);

// Runs a user action (a click, a tick); an error inside it (a stored value of the wrong type, a
// store that refuses a write) ends that action and is shown in the error box: it must not
// unwind through Qt's event loop. False when an error ended it.
template <class Action> bool Guarded(Action&& action) {
    try {
        action();
        return true;
    } catch (const std::exception& error) {
        ShowError(QString::fromStdString(error.what()));
        return false;
    }
}

// While one exists, the boxes record what they would show and AskConfirm answers from the
// queue (mrCancel once the queue is empty). `whileShown` stands for what a modal box's own event
// loop serves while it waits for its answer (timer ticks, a click in the tray).
class ModalScript {
public:
    struct Shown {
        QString caption;
        QString text;
    };

    ModalScript();
    ~ModalScript();
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    void Answer(int answer) { answers.push_back(answer); }

    std::vector<Shown> shown;
    std::deque<int> answers;
    std::function<void(const Shown&)> whileShown;

    static ModalScript* Active();
};

} // namespace quorvane
