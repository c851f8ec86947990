#include "app/save_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>

namespace quorvane {

namespace {
FileDialogScript* g_script = nullptr;
} // namespace

FileDialogScript::FileDialogScript() {
    g_script = this;
}
FileDialogScript::~FileDialogScript() {
    g_script = nullptr;
}
FileDialogScript* FileDialogScript::Active() {
    return g_script;
}

TSaveFileDialog::TSaveFileDialog(QWidget* parent) : QFileDialog(parent) {
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    // The check in accept() only runs in Qt's own dialog, and a typed name has to be possible.
    setOption(QFileDialog::DontUseNativeDialog, true);
    // Naming an existing log file means "keep logging into it", not "replace it".
    setOption(QFileDialog::DontConfirmOverwrite, true);
}

void TSaveFileDialog::accept() {
    const QStringList files = selectedFiles();
    if (!files.isEmpty()) {
        const QFileInfo chosen(files.first());
        if (!chosen.isDir() && !chosen.absoluteDir().exists()) {
            QMessageBox::warning(this, windowTitle(),
                                 tr("The folder \"%1\" does not exist.\nPlease choose an "
                                    "existing folder.")
                                     .arg(QDir::toNativeSeparators(chosen.absolutePath())));
            return;
        }
    }
    QFileDialog::accept();
}

TSaveDialog::TSaveDialog(QObject* parent) : QObject(parent) {}

QString TSaveDialog::QtFilter() const {
    const QStringList parts = Filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts.at(i);
        const QString patterns =
            QString(parts.at(i + 1)).replace(QLatin1Char(';'), QLatin1Char(' '));
        // QFileDialog takes its patterns from the brackets of the description.
        filters << (description.contains(QLatin1Char('('))
                        ? description
                        : QStringLiteral("%1 (%2)").arg(description, patterns));
    }
    return filters.join(QStringLiteral(";;"));
}

TSaveFileDialog* TSaveDialog::CreateDialog(QWidget* parent) const {
    auto* dialog = new TSaveFileDialog(parent);
    dialog->setWindowTitle(Title);
    dialog->setNameFilter(QtFilter());
    dialog->setDefaultSuffix(DefaultExt);
    if (!FileName.isEmpty()) {
        const QFileInfo last(FileName);
        if (last.absoluteDir().exists())
            dialog->setDirectory(last.absolutePath());
        dialog->selectFile(last.fileName());
    }
    return dialog;
}

bool TSaveDialog::Execute(QWidget* parent) {
    if (g_script) {
        g_script->shown.push_back({Title, Filter, DefaultExt, FileName});
        std::optional<QString> answer;
        if (!g_script->answers.empty()) {
            answer = g_script->answers.front();
            g_script->answers.pop_front();
        }
        if (!answer)
            return false;
        FileName = *answer;
        return true;
    }
    // The parent may go away while the dialog runs its own event loop.
    QPointer<TSaveFileDialog> dialog = CreateDialog(parent);
    const bool confirmed =
        dialog->exec() == QDialog::Accepted && dialog && !dialog->selectedFiles().isEmpty();
    if (confirmed)
        FileName = QDir::toNativeSeparators(dialog->selectedFiles().first());
    delete dialog.data();
    return confirmed;
}

} // namespace quorvane
