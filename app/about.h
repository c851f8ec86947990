#pragma once
// The About dialog: the program's icon, name and version, and an OK button.

#include <QDialog>

class QLabel;
class QPushButton;

namespace quorvane {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QPushButton* OKButton;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace quorvane
