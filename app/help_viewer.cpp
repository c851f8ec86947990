#include "app/help_viewer.h"

#include "app/icons.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QStyle>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace quorvane {

namespace {
// Every version of the guide opens with this anchor at the top of its table of contents.
const QString kContentsAnchor = QStringLiteral("contents");
} // namespace

THelpViewer::THelpViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(tr("Quorvane Help"));
    setWindowIcon(ProgramIcon());
    // Closing the guide must never end the program, whatever else is open.
    setAttribute(Qt::WA_QuitOnClose, false);

    back_ = new QToolButton(this);
    back_->setObjectName(QStringLiteral("HelpBack"));
    back_->setText(tr("&Back"));
    back_->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    back_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    back_->setEnabled(false);

    contents_ = new QToolButton(this);
    contents_->setObjectName(QStringLiteral("HelpContents"));
    contents_->setText(tr("&Contents"));
    contents_->setIcon(style()->standardIcon(QStyle::SP_DirHomeIcon));
    contents_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenExternalLinks(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back_);
    buttons->addWidget(contents_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_);
    resize(640, 560);

    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QToolButton::setEnabled);
    connect(contents_, &QToolButton::clicked, this,
            [this] { browser_->scrollToAnchor(kContentsAnchor); });
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = browser_->documentTitle();
        setWindowTitle(title.isEmpty() ? tr("Quorvane Help") : title);
    });
}

bool THelpViewer::ShowContents(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    file.close();
    const QUrl url = QUrl::fromLocalFile(QFileInfo(fileName).absoluteFilePath());
    if (browser_->source().adjusted(QUrl::RemoveFragment) == url) {
        browser_->reload();
    } else {
        // The ".hlp" suffix tells QTextBrowser nothing, so the type is given.
        browser_->setSource(url, QTextDocument::HtmlResource);
    }
    browser_->clearHistory();
    browser_->verticalScrollBar()->setValue(0);
    browser_->scrollToAnchor(kContentsAnchor);
    show();
    raise();
    activateWindow();
    return true;
}

} // namespace quorvane
