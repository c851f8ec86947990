// `cmake --install` of this build into a temporary DESTDIR, as a packager or a user runs it: the
// tree it makes, the desktop entry checked by desktop-file-validate, the icons of the theme, and
// the installed program starting from its command.
#include "app/icons.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int kNoEventAfterMs = 300000;

struct ProcessRun {
    int exitCode = -1;
    QString output;
};

ProcessRun Execute(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ProcessRun run;
    if (!process.waitForFinished(kNoEventAfterMs) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        run.output = QStringLiteral("did not end normally");
        return run;
    }
    run.exitCode = process.exitCode();
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(Install, TheProgramItsToolGuideMenuEntryAndIconsLandUnderThePrefix) {
    struct Case {
        QString prefix;
        QString execLine;
        bool start; // and start the installed program from its command
    };
    // The second prefix has characters that the desktop entry's Exec key must quote.
    const Case cases[] = {
        {QStringLiteral("/usr/local"), QStringLiteral("Exec=/usr/local/bin/quorvane"), true},
        {QStringLiteral("/opt/Dial & Time"),
         QStringLiteral("Exec=\"/opt/Dial & Time/bin/quorvane\""), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix.toStdString());
        QTemporaryDir destdir;
        ASSERT_TRUE(destdir.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DESTDIR"), destdir.path());
        const ProcessRun install =
            Execute(QStringLiteral(QUORVANE_CMAKE),
                    {QStringLiteral("--install"), QStringLiteral(QUORVANE_BUILD_DIR),
                     QStringLiteral("--prefix"), c.prefix},
                    env);
        ASSERT_EQ(install.exitCode, 0) << install.output.toStdString();
        const QDir root(destdir.path() + c.prefix);

        // The command on the PATH is a relative link to the program, which has its guide beside
        // it; the registry tool sits beside the command.
        const QFileInfo command(root.filePath(QStringLiteral("bin/quorvane")));
        EXPECT_TRUE(command.isSymLink());
        EXPECT_EQ(command.symLinkTarget(),
                  root.filePath(QStringLiteral("libexec/quorvane/quorvane")));
        EXPECT_TRUE(command.isExecutable());
        EXPECT_EQ(ReadText(root.filePath(QStringLiteral("libexec/quorvane/quorvane.hlp"))),
                  ReadText(QStringLiteral(QUORVANE_SOURCE_DIR "/app/quorvane.hlp")));
        EXPECT_TRUE(QFileInfo(root.filePath(QStringLiteral("bin/quorvane-reg"))).isExecutable());

        // The menu entry: valid, naming the installed command and the theme's icon.
        const QString entry = root.filePath(QStringLiteral("share/applications/quorvane.desktop"));
        const ProcessRun validate = Execute(QStringLiteral("desktop-file-validate"), {entry});
        EXPECT_EQ(validate.exitCode, 0) << validate.output.toStdString();
        EXPECT_TRUE(validate.output.isEmpty()) << validate.output.toStdString();
        const QStringList lines = ReadText(entry).split(QLatin1Char('\n'));
        EXPECT_TRUE(lines.contains(c.execLine)) << ReadText(entry).toStdString();
        EXPECT_TRUE(lines.contains(QStringLiteral("Icon=quorvane")));

        // The icon at every size of the theme is the window's own, and the theme's minimum,
        // 48 by 48, is among them.
        const QDir theme(root.filePath(QStringLiteral("share/icons/hicolor")));
        const QStringList sizes = theme.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        EXPECT_TRUE(sizes.contains(QStringLiteral("48x48"))) << sizes.join(' ').toStdString();
        for (const QString& folder : sizes) {
            SCOPED_TRACE(folder.toStdString());
            const QRegularExpressionMatch square =
                QRegularExpression(QStringLiteral("^(\\d+)x\\1$")).match(folder);
            ASSERT_TRUE(square.hasMatch());
            const int size = square.captured(1).toInt();
            const QImage icon(theme.filePath(folder + QStringLiteral("/apps/quorvane.png")), "PNG");
            ASSERT_EQ(icon.size(), QSize(size, size));
            // PNG keeps straight alpha, so both are compared in that form.
            EXPECT_TRUE(icon.convertToFormat(QImage::Format_ARGB32) ==
                        quorvane::ProgramImage(size).convertToFormat(QImage::Format_ARGB32));
        }

        if (c.start) {
            QProcessEnvironment idle = QProcessEnvironment::systemEnvironment();
            idle.insert(QStringLiteral("QUORVANE_QUIT_WHEN_IDLE"), QStringLiteral("1"));
            // A store of its own: one left by an earlier run on another day would greet the
            // start with the new day's box, which nobody here answers.
            const QTemporaryDir home;
            idle.insert(QStringLiteral("QUORVANE_HOME"), home.path());
            const ProcessRun started = Execute(command.filePath(), {}, idle);
            EXPECT_EQ(started.exitCode, 0) << started.output.toStdString();
            EXPECT_TRUE(started.output.contains(QStringLiteral("quorvane: idle")))
                << started.output.toStdString();
        }
    }
}

} // namespace
