#pragma once
// Runs a download the way the start handler does: a new session on the slot,
// filled from the task record, the row marked "start" and DownRow set before
// StartDown.
#include "engine/downengine.h"

#include <QTest>

// Starts row `row` on `slot`; StartDown's result (false also when the URL is
// unusable). `session`, when given, receives the new session.
bool startTask(DownEngine &engine, int slot, int row, std::shared_ptr<clsDown> *session = nullptr);

// Waits until `session` has ended; false when it still runs after timeoutMs.
inline bool waitUntilEnded(const std::shared_ptr<clsDown> &s, int timeoutMs = 20000) { return QTest::qWaitFor([&] { return !s->bBusy; }, timeoutMs); }

// startTask, then waitUntilEnded; false when either fails.
inline bool runTask(DownEngine &engine, int slot, int row, int timeoutMs = 20000)
{
    std::shared_ptr<clsDown> s;
    return startTask(engine, slot, row, &s) && waitUntilEnded(s, timeoutMs);
}
