#pragma once
// The save-file dialog of the browse buttons. A test installs a FileDialogScript to see what
// would be asked and to give the answer; the dialog is then never put on screen.

#include <QFileDialog>
#include <QObject>
#include <QString>

#include <deque>
#include <optional>
#include <vector>

namespace quorvane {

// The folder-must-exist check that QFileDialog's save mode lacks: a name in a missing folder is
// refused with a note and the dialog stays open.
class TSaveFileDialog : public QFileDialog {
    Q_OBJECT
public:
    explicit TSaveFileDialog(QWidget* parent = nullptr);
    void accept() override;
};

class TSaveDialog : public QObject {
    Q_OBJECT
public:
    explicit TSaveDialog(QObject* parent = nullptr);

    QString Title;
    // Pairs of description and pattern joined by "|": "Wav Files (*.WAV)|*.WAV".
    QString Filter;
    // Added to a typed name that has no suffix, without the dot: "WAV".
    QString DefaultExt;
    // Offered when the dialog opens; after a confirmed run, the chosen file's full path.
    QString FileName;

    // Shows the dialog modally over `parent`. True when the user confirmed a name (now in
    // FileName); false on cancel, with FileName unchanged.
    bool Execute(QWidget* parent);

    // Filter in QFileDialog's form: "Wav Files (*.WAV)".
    QString QtFilter() const;

    // A dialog set up as Execute would show it (for callers that drive it themselves).
    TSaveFileDialog* CreateDialog(QWidget* parent) const;
};

// While one exists, TSaveDialog::Execute records what it would show and answers from the queue:
// a file name confirms, nullopt cancels, an empty queue cancels.
class FileDialogScript {
public:
    struct Shown {
        QString title;
        QString filter;
        QString defaultExt;
        QString fileName;
    };

    FileDialogScript();
    ~FileDialogScript();
    FileDialogScript(const FileDialogScript&) = delete;
    FileDialogScript& operator=(const FileDialogScript&) = delete;

    void Answer(std::optional<QString> answer) { answers.push_back(std::move(answer)); }

    std::vector<Shown> shown;
    std::deque<std::optional<QString>> answers;

    static FileDialogScript* Active();
};

} // namespace quorvane
