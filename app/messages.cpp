#include "app/messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace quorvane {

namespace {

ModalScript* g_script = nullptr;

// A modal box of the script: recorded, and up until what comes meanwhile has been served.
void ShownModal(const QString& caption, const QString& text) {
    g_script->shown.push_back({caption, text});
    if (g_script->whileShown)
        g_script->whileShown(ModalScript::Shown{caption, text});
}

} // namespace

ModalScript::ModalScript() {
    g_script = this;
}
ModalScript::~ModalScript() {
    g_script = nullptr;
}
ModalScript* ModalScript::Active() {
    return g_script;
}

void ShowInformation(const QString& text) {
    if (g_script) {
        ShownModal(QStringLiteral("Information"), text);
        return;
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text,
                    QMessageBox::NoButton, QApplication::activeWindow());
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

void ShowInformationModeless(const QString& text, QWidget* parent) {
    if (g_script) {
        g_script->shown.push_back({QStringLiteral("Information"), text});
        return;
    }
    static QPointer<QMessageBox> note;
    if (!note || note->parentWidget() != parent) {
        if (note)
            note->close();
        note = new QMessageBox(QMessageBox::Information, QStringLiteral("Information"), text,
                               QMessageBox::NoButton, parent);
        note->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        note->setWindowModality(Qt::NonModal);
        note->setAttribute(Qt::WA_DeleteOnClose);
    }
    note->setText(text);
    note->show();
    note->raise();
}

void ShowWarning(const QString& text) {
    const QString caption = QCoreApplication::translate("TMessages", "Warning");
    if (g_script) {
        ShownModal(caption, text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.addButton(QCoreApplication::translate("TMessages", "OK"), QMessageBox::AcceptRole);
    box.exec();
}

void ShowWarningModeless(const QString& text) {
    const QString caption = QCoreApplication::translate("TMessages", "Warning");
    if (g_script) {
        g_script->shown.push_back({caption, text});
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::NoButton);
    box->addButton(QCoreApplication::translate("TMessages", "OK"), QMessageBox::AcceptRole);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Dismissing it while the main window is hidden in the tray does not end the program.
    box->setAttribute(Qt::WA_QuitOnClose, false);
    // A box nobody dismissed goes with the program.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp,
                     [held = QPointer<QMessageBox>(box)] { delete held.data(); });
    box->show();
}

void ShowError(const QString& text) {
    if (g_script) {
        ShownModal(QStringLiteral("Error"), text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

int AskConfirm(const QString& text) {
    if (g_script) {
        ShownModal(QStringLiteral("Confirm"), text);
        if (g_script->answers.empty())
            return mrCancel;
        const int answer = g_script->answers.front();
        g_script->answers.pop_front();
        return answer;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes)
        return mrYes;
    if (box.clickedButton() == no)
        return mrNo;
    return mrCancel;
}

} // namespace quorvane
