#pragma once
// The folder for the hand-over socket: one no other user can put anything
// in, so no other user can answer in our program's place.
#include <QString>

struct PrivateFolder {
    QString path;          // empty when there is no folder we may use
    QString problem;       // then why not, for the log
    bool foreign = false;  // then: because another user holds it
};

// $XDG_RUNTIME_DIR when it is ours and closed to others (0700); else
// "zipvane-<uid>" in the temporary folder, made 0700 if missing, and used
// only when it is a real folder (not a link), ours, and closed to others.
PrivateFolder privateRuntimeFolder();
