// The help command with and without the user's guide, the About dialog, and the save dialog of
// the browse buttons.
#include "app/about.h"
#include "app/help_viewer.h"
#include "app/messages.h"
#include "app/save_dialog.h"
#include "app/timer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace quorvane;

namespace {

const QString kProgramDir = QStringLiteral(QUORVANE_PROGRAM_DIR);

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

TEST(Help, OpensTheGuideBesideTheProgramAtItsContents) {
    ModalScript boxes;
    TfrmTimer w;
    w.OnRestore();
    w.SetHelpFolder(kProgramDir);

    QTest::mouseClick(w.Ask4Help, Qt::LeftButton);

    EXPECT_TRUE(boxes.shown.empty());
    THelpViewer* viewer = w.HelpViewer();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_FALSE(viewer->isModal());
    QTextBrowser* browser = viewer->Browser();
    EXPECT_EQ(browser->source().toLocalFile(), QDir(kProgramDir).filePath("quorvane.hlp"));
    EXPECT_EQ(browser->sourceType(), QTextDocument::HtmlResource);
    EXPECT_FALSE(browser->documentTitle().isEmpty());
    const QString text = browser->toPlainText();
    EXPECT_TRUE(text.contains("Contents"));
    EXPECT_TRUE(text.contains("quorvane-reg"));
    EXPECT_TRUE(text.contains("machine.db"));

    // Read further, then ask for help again: back at the contents.
    QScrollBar* scroll = browser->verticalScrollBar();
    const int atContents = scroll->value();
    ASSERT_LT(atContents, scroll->maximum());
    scroll->setValue(scroll->maximum());
    QTest::mouseClick(w.Ask4Help, Qt::LeftButton);
    EXPECT_EQ(scroll->value(), atContents);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(Help, MissingGuideIsReported) {
    QTemporaryDir empty;
    ModalScript boxes;
    TfrmTimer w;
    w.OnRestore();
    w.SetHelpFolder(empty.path());

    QTest::mouseClick(w.Ask4Help, Qt::LeftButton);

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Information");
    EXPECT_EQ(boxes.shown[0].text,
              "Help file was not found in the Quorvane folder.\r\nPlease re-install Quorvane or "
              "contact the author for a new file.");
    EXPECT_EQ(w.HelpViewer(), nullptr);
}

TEST(Help, GuideIsLookedForBesideTheExecutableNotInTheCurrentFolder) {
    // The test program's own folder has no guide; the current folder has one.
    QTemporaryDir current;
    WriteFile(QDir(current.path()).filePath("quorvane.hlp"),
              "<html><head><title>t</title></head><body>x</body></html>");
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(current.path()));

    ModalScript boxes;
    TfrmTimer w;
    w.OnRestore();
    EXPECT_EQ(QFileInfo(w.HelpFilePath()).absolutePath(),
              QFileInfo(QCoreApplication::applicationDirPath()).absoluteFilePath());
    QTest::mouseClick(w.Ask4Help, Qt::LeftButton);
    QDir::setCurrent(before);

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.startsWith("Help file was not found"));
}

TEST(Help, AReplacedGuideIsReadAfresh) {
    QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath("quorvane.hlp");
    WriteFile(path, "<html><head><title>One</title></head><body><a name=\"contents\"></a>first "
                    "edition</body></html>");
    ModalScript boxes;
    TfrmTimer w;
    w.OnRestore();
    w.SetHelpFolder(folder.path());
    QTest::mouseClick(w.Ask4Help, Qt::LeftButton);
    ASSERT_NE(w.HelpViewer(), nullptr);
    EXPECT_TRUE(w.HelpViewer()->Browser()->toPlainText().contains("first edition"));

    WriteFile(path, "<html><head><title>Two</title></head><body><a name=\"contents\"></a>second "
                    "edition</body></html>");
    QTest::mouseClick(w.Ask4Help, Qt::LeftButton);
    EXPECT_TRUE(w.HelpViewer()->Browser()->toPlainText().contains("second edition"));
    EXPECT_EQ(w.HelpViewer()->Browser()->sourceType(), QTextDocument::HtmlResource);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(About, ShowsTheProductAndVersionAndClosesWithOk) {
    TfrmTimer w;
    TAboutBox* box = w.AboutBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "About");
    EXPECT_EQ(box->ProductName->text(), "Quorvane");
    EXPECT_EQ(box->Version->text(), "Version 4.8   08/24/1996");
    EXPECT_EQ(box->OKButton->text(), "OK");
    EXPECT_TRUE(box->OKButton->isDefault());
    EXPECT_FALSE(box->ProgramIcon->pixmap().isNull());
    EXPECT_FALSE(box->isVisible());

    box->open();
    ASSERT_TRUE(box->isVisible());
    QTest::mouseClick(box->OKButton, Qt::LeftButton);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(box->result(), QDialog::Accepted);
}

TEST(SaveDialog, AnswersAndRemembersTheLastName) {
    TSaveDialog dialog;
    dialog.Title = "Log File";
    dialog.Filter = "Log Files (*.TXT)|*.TXT";
    dialog.DefaultExt = "TXT";
    FileDialogScript script;
    script.Answer(QString("/tmp/session.TXT"));
    script.Answer(std::nullopt);

    EXPECT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName, "/tmp/session.TXT");
    EXPECT_FALSE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName, "/tmp/session.TXT");
    EXPECT_FALSE(dialog.Execute(nullptr)); // nothing left to answer: cancelled

    ASSERT_EQ(script.shown.size(), 3u);
    EXPECT_EQ(script.shown[0].title, "Log File");
    EXPECT_EQ(script.shown[0].filter, "Log Files (*.TXT)|*.TXT");
    EXPECT_EQ(script.shown[0].defaultExt, "TXT");
    EXPECT_EQ(script.shown[0].fileName, "");
    EXPECT_EQ(script.shown[1].fileName, "/tmp/session.TXT");
    EXPECT_EQ(dialog.QtFilter(), "Log Files (*.TXT)");
}

TEST(SaveDialog, FilterWithoutPatternInTheDescription) {
    TSaveDialog dialog;
    dialog.Filter = "Sounds|*.WAV;*.wav|All|*";
    EXPECT_EQ(dialog.QtFilter(), "Sounds (*.WAV *.wav);;All (*)");
}

TEST(SaveDialog, RefusesANameInAMissingFolderAndAddsTheDefaultSuffix) {
    QTemporaryDir folder;
    TSaveDialog settings;
    settings.Title = "Wav Alarm";
    settings.Filter = "Wav Files (*.WAV)|*.WAV";
    settings.DefaultExt = "WAV";
    std::unique_ptr<TSaveFileDialog> dialog(settings.CreateDialog(nullptr));
    EXPECT_EQ(dialog->windowTitle(), "Wav Alarm");
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->defaultSuffix(), "WAV");
    EXPECT_EQ(dialog->nameFilters(), QStringList{"Wav Files (*.WAV)"});
    dialog->open();

    QString warning;
    QTimer::singleShot(0, [&warning] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning = box->text();
            box->accept();
        }
    });
    dialog->selectFile(QDir(folder.path()).filePath("missing/alarm.WAV"));
    dialog->accept();
    EXPECT_TRUE(warning.contains("does not exist")) << warning.toStdString();
    EXPECT_TRUE(dialog->isVisible());

    dialog->selectFile(QDir(folder.path()).filePath("alarm"));
    dialog->accept();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->selectedFiles().value(0), QDir(folder.path()).filePath("alarm.WAV"));
}

} // namespace
