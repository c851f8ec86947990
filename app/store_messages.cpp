#include "app/store_messages.h"

#include "app/messages.h"
#include "core/store_folder.h"
#include "settings/store.h"

#include <QStringList>

#include <cstdio>

namespace quorvane {

namespace {

QString Path(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

} // namespace

QString TStoreMessages::Cause(const StoreProblem& problem) {
    const QString file = Path(problem.file);
    switch (problem.fault) {
    case StoreFault::None:
        return {};
    case StoreFault::NoFolder:
        return tr("the store folder %1 cannot be made, or something other than a folder has its "
                  "name")
            .arg(file);
    case StoreFault::Link:
        return tr("%1 is a symbolic link, and the store's files are never reached through a link")
            .arg(file);
    case StoreFault::Folder:
        return tr("%1 is a folder, not a file").arg(file);
    case StoreFault::NotRegular:
        return tr("%1 is not a regular file (a pipe, a device or a socket)").arg(file);
    case StoreFault::NoPermission:
        return tr("%1 may not be opened (%2)").arg(file, qt_error_string(problem.error));
    case StoreFault::NotADatabase:
        return tr("%1 is not a database").arg(file);
    case StoreFault::CutShort:
        return tr("%1 is cut short: the end of the database is missing").arg(file);
    case StoreFault::Damaged:
        return tr("the database in %1 is damaged").arg(file);
    case StoreFault::OtherProgram:
        return tr("%1 is another program's database").arg(file);
    case StoreFault::NewerVersion:
        return tr("%1 was written by a newer version of Quorvane").arg(file);
    case StoreFault::ReadOnly:
        return tr("%1 is read-only, and must be written before it can be used").arg(file);
    case StoreFault::DiskFull:
        return tr("the disk that holds %1 is full").arg(file);
    case StoreFault::Busy:
        return tr("another program holds the lock of %1").arg(file);
    case StoreFault::Replaced:
        return tr("%1 was replaced while it was being opened").arg(file);
    case StoreFault::SystemError:
        return tr("%1 cannot be opened (%2)").arg(file, qt_error_string(problem.error));
    case StoreFault::Other:
        return tr("SQLite cannot open %1 (error %2)").arg(file).arg(problem.error);
    }
    return {};
}

QString TStoreMessages::StartWarning(const StoreProblem& machine, const StoreProblem& user) {
    const QString folder = Path(StoreFolder());
    // What the user can do about it.
    const auto remedy = [&](const StoreProblem& problem) -> QString {
        switch (problem.fault) {
        case StoreFault::Link:
        case StoreFault::Folder:
        case StoreFault::NotRegular:
            return tr("Move it out of the store folder %1, then start Quorvane again: it makes a "
                      "new file in its place.")
                .arg(folder);
        case StoreFault::NotADatabase:
        case StoreFault::CutShort:
        case StoreFault::Damaged:
        case StoreFault::OtherProgram:
            return tr("To start afresh, move it out of the store folder %1 (keep it if it may "
                      "still be of use), then start Quorvane again: it makes a new store file. A "
                      "backup made with \"quorvane-reg export\" is brought back with "
                      "\"quorvane-reg import\".")
                .arg(folder);
        case StoreFault::NewerVersion:
            return tr("Run the newer version of Quorvane, or move the file out of the store "
                      "folder %1 to start afresh.")
                .arg(folder);
        case StoreFault::NoPermission:
        case StoreFault::ReadOnly:
            return tr("Give yourself back the permission to read and write it (chmod u+rw), "
                      "then start Quorvane again.");
        case StoreFault::DiskFull:
            return tr("Make room on the disk, then start Quorvane again.");
        case StoreFault::Busy:
        case StoreFault::Replaced:
            return tr("Start Quorvane again once the other program has let go of it.");
        default:
            return tr("Put right what is named above, then start Quorvane again.");
        }
    };
    QStringList parts;
    // A store folder that cannot be had is both hives' problem: told once.
    if (machine.fault == StoreFault::NoFolder || user.fault == StoreFault::NoFolder) {
        const StoreProblem& problem = machine.fault == StoreFault::NoFolder ? machine : user;
        parts << tr("Quorvane cannot use its store: %1.").arg(Cause(problem))
              << tr("Until it is put right, Quorvane runs without its providers: their settings "
                    "and totals are not loaded, and nothing can be saved.")
              << tr("What has that name is left as it is. Name another folder in QUORVANE_HOME, "
                    "or move what has the name away, then start Quorvane again.");
        return parts.join(QStringLiteral("\n\n"));
    }
    if (machine) {
        parts << tr("Quorvane cannot use its store file: %1.").arg(Cause(machine))
              << tr("Until it is put right, Quorvane runs without its providers: their settings "
                    "and totals are not loaded, and nothing can be saved.")
              << tr("The file is left as it is.") + QLatin1Char(' ') + remedy(machine);
    }
    if (user) {
        parts << tr("Quorvane cannot use its store file: %1.").arg(Cause(user))
              << tr("Until it is put right, the dial-up connections kept in it are not offered "
                    "on the Detection page.")
              << tr("The file is left as it is.") + QLatin1Char(' ') + remedy(user);
    }
    return parts.join(QStringLiteral("\n\n"));
}

void ReportStoreProblems() {
    // The machine hive is open by now; the user hive is read only when the dial-up list is
    // wanted, so only its files are looked at, which costs a start a few system calls.
    const StoreProblem machine = HiveProblem(RootKey::LocalMachine);
    const StoreProblem user = InspectHiveFiles(RootKey::CurrentUser);
    if (!machine && !user)
        return;
    for (const StoreProblem* problem : {&machine, &user}) {
        if (*problem && !(problem == &user && user == machine))
            std::fprintf(stderr, "quorvane: %s; left as it is, Quorvane runs without it\n",
                         DescribeStoreProblem(*problem).c_str());
    }
    ShowWarningModeless(TStoreMessages::StartWarning(machine, user));
}

} // namespace quorvane
