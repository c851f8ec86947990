#include "app/messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace quorvane {

namespace {
ModalScript* g_script = nullptr;
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
        g_script->shown.push_back({QStringLiteral("Information"), text});
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

void ShowError(const QString& text) {
    if (g_script) {
        g_script->shown.push_back({QStringLiteral("Error"), text});
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

int AskConfirm(const QString& text) {
    if (g_script) {
        g_script->shown.push_back({QStringLiteral("Confirm"), text});
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
