#pragma once
// What the program tells the user of its store's files, in its own words: the cause of a problem
// that the store finds (settings/store.h), as the Usage History window and the start show it.

#include <QCoreApplication>
#include <QString>

namespace quorvane {

struct StoreProblem;

class TStoreMessages {
    Q_DECLARE_TR_FUNCTIONS(TStoreMessages)

public:
    // What is wrong, naming the file: "/home/ann/.local/share/quorvane/machine.db is cut short:
    // the end of the database is missing".
    static QString Cause(const StoreProblem& problem);
    // The start's warning: for each hive's problem given (none: that hive is fine), which file,
    // what is wrong with it, what runs without it and what the user can do. "" when both are
    // fine.
    static QString StartWarning(const StoreProblem& machine, const StoreProblem& user);
};

// At a start: both hives looked at (machine.db as the start opened it, user.db by its files
// alone, as the start does not read it), and for each that cannot be used a line on standard
// error and one warning that holds nothing up.
void ReportStoreProblems();

} // namespace quorvane
