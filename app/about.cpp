#include "app/about.h"

#include "app/icons.h"
#include "core/version.h"

#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace quorvane {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);

    ProgramIcon = new QLabel(panel);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setPixmap(ProgramPixmap(48));

    ProductName = new QLabel(panel);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont large = ProductName->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    large.setBold(true);
    ProductName->setFont(large);

    Version = new QLabel(panel);
    Version->setObjectName(QStringLiteral("Version"));

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(ProductName);
    texts->addWidget(Version);
    texts->addStretch();
    auto* panelLayout = new QHBoxLayout(panel);
    panelLayout->addWidget(ProgramIcon, 0, Qt::AlignTop);
    panelLayout->addSpacing(12);
    panelLayout->addLayout(texts, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel);
    layout->addLayout(buttons);

    ProductName->setText(QStringLiteral("Quorvane"));
    Version->setText(QString::fromLatin1(kAboutVersion));

    setFixedSize(sizeHint().expandedTo(QSize(300, 160)));
}

void TAboutBox::showEvent(QShowEvent* event) {
    // Centred on the screen, not over the window that opened it.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

} // namespace quorvane
