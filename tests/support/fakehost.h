#pragma once
// A window for engine tests: task records in a TaskList, and everything the
// engine shows (log lines, row states and texts, clipboard) kept for the test
// to read. Its clock stands still until advanced.
#include "engine/downengine.h"

#include <QtTest>

// The bytes of a file; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class FakeHost : public DownHost {
public:
    TaskList tasks;
    QStringList log;
    QMap<int, QString> states;
    QMap<QPair<int, int>, QString> texts;  // by row and column
    QString clipboard;
    qint64 clockMs = 0;
    // Added to the clock after every reading, to let time pass inside a wait.
    qint64 clockStepMs = 0;
    // Runs after every draw, with the body bytes just written (0: a whole redraw).
    std::function<void(qint64)> afterDraw = [](qint64) {};

    TaskRecord &task(int row) override { return tasks(row); }
    void setRowState(int row, const QString &key) override { states[row] = key; }
    void setRowText(int row, int column, const QString &s) override { texts[{row, column}] = s; }
    void appendLog(const QString &line) override { log.append(line); }
    void DrawDownPic(int, qint64 mNum, qint64, qint64) override { afterDraw(mNum); }
    void setClipboardText(const QString &text) override { clipboard = text; }
    qint64 monotonicMs() override { return (clockMs += clockStepMs) - clockStepMs; }
};

// An engine on a FakeHost, with a temporary folder for the task files.
struct EngineFixture {
    explicit EngineFixture(DownEngine::SocketFactory sockets = {}) : engine(host, sockets) {}
    // A name in the temporary folder; an absolute path stays as it is.
    QString file(const QString &name) const { return QDir(dir.path()).filePath(name); }
    // Appends a task row and returns its index.
    int addTask(const QString &url, const QString &name, qint64 size = 0, qint64 got = 0)
    {
        TaskRecord &r = host.tasks(host.tasks.upperBound());
        r.Url = url, r.FilePath = file(name), r.FileSize = size, r.GotSize = got;
        return host.tasks.appendSpare();
    }
    // Starts `row` on slot 1 as a double-click does, to the record's file.
    bool start(int row) { return engine.StartTask(1, row, task(row).FilePath); }
    // Waits until the session of slot 1 has ended.
    bool waitEnded(int ms = 20000)
    {
        return QTest::qWaitFor([&] { return !engine.Down(1)->bBusy; }, ms);
    }
    bool run(int row, int ms = 20000) { return start(row) && waitEnded(ms); }
    TaskRecord &task(int row) { return host.tasks(row); }

    QTemporaryDir dir;
    FakeHost host;
    DownEngine engine;
};
