// The real program: started where there is no display, started on the offscreen platform, and
// the guide that the build puts beside it.
#include "app/program.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

using namespace quorvane;

namespace {

const QString kBinary = QStringLiteral(QUORVANE_BINARY);

struct ProgramRun {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out;
    QString err;
};

ProgramRun StartProgram(const std::map<QString, QString>& set) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    // A store of its own each time: one left by an earlier run on another day would greet the
    // start with the new day's box, which nobody here answers.
    const QTemporaryDir home;
    env.insert(QStringLiteral("QUORVANE_HOME"), home.path());
    for (const auto& [name, value] : set)
        env.insert(name, value);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(kBinary, {});
    ProgramRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.status = process.exitStatus();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

TEST(Program, WithoutADisplaySaysSoInOneLineAndFails) {
    const ProgramRun run = StartProgram({});
    EXPECT_EQ(run.status, QProcess::NormalExit);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith('\n'));
    EXPECT_TRUE(run.err.contains("no graphical display")) << run.err.toStdString();
}

TEST(Program, WithAnUnreachableDisplaySaysSoInOneLineAndFails) {
    // A number no test's X server takes, however the tests' Xvfb is numbered.
    const ProgramRun run = StartProgram({{"DISPLAY", ":65535"}});
    EXPECT_EQ(run.status, QProcess::NormalExit);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("\":65535\"")) << run.err.toStdString();
}

TEST(Program, StartsToAnIdleLoopOnTheOffscreenPlatform) {
    const ProgramRun run =
        StartProgram({{"QT_QPA_PLATFORM", "offscreen"}, {"QUORVANE_QUIT_WHEN_IDLE", "1"}});
    EXPECT_EQ(run.status, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("quorvane: idle")) << run.err.toStdString();
}

// A store file it cannot use does not hold the start up: the real program says on standard
// error which file and why, comes to its idle loop (the warning on screen waits for nobody) and
// leaves the files as they were.
TEST(Program, AStoreFileItCannotUseIsNamedAndTheStartGoesOn) {
    const QTemporaryDir home;
    const QString machine = home.filePath(QStringLiteral("machine.db"));
    const QString user = home.filePath(QStringLiteral("user.db"));
    {
        QFile note(machine);
        ASSERT_TRUE(note.open(QIODevice::WriteOnly));
        note.write("a note to self, not a database\n");
    }
    ASSERT_TRUE(QFile::link(home.filePath(QStringLiteral("nowhere")), user));
    const ProgramRun run = StartProgram({{"QT_QPA_PLATFORM", "offscreen"},
                                         {"QUORVANE_QUIT_WHEN_IDLE", "1"},
                                         {"QUORVANE_HOME", home.path()}});
    EXPECT_EQ(run.status, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("quorvane: idle")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(machine + ": it is not a database")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(user + ": it is a symbolic link")) << run.err.toStdString();
    QFile note(machine);
    ASSERT_TRUE(note.open(QIODevice::ReadOnly));
    EXPECT_EQ(note.readAll(), "a note to self, not a database\n");
    EXPECT_EQ(QFileInfo(user).symLinkTarget(), home.filePath(QStringLiteral("nowhere")));
    EXPECT_FALSE(QFileInfo::exists(home.filePath(QStringLiteral("nowhere"))));
}

TEST(Program, TheGuideLiesBesideTheExecutable) {
    QFile guide(QFileInfo(kBinary).absoluteDir().filePath("quorvane.hlp"));
    ASSERT_TRUE(guide.open(QIODevice::ReadOnly));
    const QByteArray html = guide.readAll();
    EXPECT_TRUE(html.contains("<title>"));
    EXPECT_TRUE(html.contains("name=\"contents\"") || html.contains("id=\"contents\""));
}

struct DisplayCase {
    const char* what;
    std::map<std::string, std::string> env;
    std::vector<std::string> args;
    bool refused;
};

TEST(Program, DisplayCheckBeforeTheApplicationExists) {
    const std::vector<DisplayCase> cases = {
        {"nothing set", {}, {}, true},
        {"empty DISPLAY", {{"DISPLAY", ""}}, {}, true},
        {"platform chosen", {{"QT_QPA_PLATFORM", "offscreen"}}, {}, false},
        {"platform argument", {}, {"-platform", "offscreen"}, false},
        {"wayland", {{"WAYLAND_DISPLAY", "wayland-0"}}, {}, false},
        {"unreachable X display", {{"DISPLAY", ":65535"}}, {}, true},
    };
    for (const DisplayCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"quorvane"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const auto message = MissingDisplayMessage(
            static_cast<int>(args.size()), argv.data(), [&c](const char* name) -> const char* {
                const auto found = c.env.find(name);
                return found == c.env.end() ? nullptr : found->second.c_str();
            });
        EXPECT_EQ(message.has_value(), c.refused);
        if (message) {
            EXPECT_EQ(message->find('\n'), std::string::npos);
        }
    }
}

} // namespace
