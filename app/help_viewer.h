#pragma once
// The program's help viewer: a plain window that shows the HTML user's guide.

#include <QString>
#include <QWidget>

class QTextBrowser;
class QToolButton;

namespace quorvane {

class THelpViewer : public QWidget {
    Q_OBJECT
public:
    explicit THelpViewer(QWidget* parent = nullptr);

    // Loads the file afresh (it may have been replaced since the last time), opens it at its
    // contents and brings the window to the front. False when the file cannot be read.
    bool ShowContents(const QString& fileName);

    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
    QToolButton* back_;
    QToolButton* contents_;
};

} // namespace quorvane
