#pragma once
// Where the task list file lives. A copy of the program run from its own
// folder keeps "Zipvane.zvt" beside itself; an installed copy, or one whose
// folder cannot take a new file, keeps it in the user's data folder instead.
#include <QString>

struct ListLocation {
    QString path;           // the task list file
    bool fellBack = false;  // true: in the data folder, not beside the program
};

// `dataFolder` is created when it is used. A list found beside the program
// is copied there once, so moving to the data folder loses no tasks.
ListLocation chooseListLocation(const QString &programFolder, const QString &dataFolder);

// The list in `dataFolder` when it is newer than the one at `listPath`: the
// list went there when its own folder refused a write, and holds the tasks
// added since. Empty when the list at `listPath` is the one to read.
QString newerListInDataFolder(const QString &listPath, const QString &dataFolder);
