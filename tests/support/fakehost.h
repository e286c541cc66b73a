#pragma once
// A window for engine tests: task records in a TaskList, and everything the
// engine shows (log lines, row states and texts, clipboard, dots) kept for
// the test to read. Its clock stands still until advanced.
#include "engine/downengine.h"

#include <QDir>
#include <QMap>
#include <QTemporaryDir>

class FakeHost : public DownHost {
public:
    struct Dot { int x, y, radius; QRgb fill; };
    TaskList tasks;
    QStringList log;
    QMap<int, QString> states;
    QMap<QPair<int, int>, QString> texts;
    QString clipboard;
    QVector<Dot> dots;
    qint64 clockMs = 0;
    // Added to the clock after every reading, to let time pass inside a wait.
    qint64 clockStepMs = 0;
    // The engine whose sessions DrawDownPic counts into.
    DownEngine *engine = nullptr;
    // Runs after every DrawDownPic with body bytes.
    std::function<void()> afterArrival;

    QString text(int row, int column) const { return texts.value({row, column}); }

    TaskRecord &task(int row) override { return tasks(row); }
    void setRowState(int row, const QString &key) override { states[row] = key; }
    void setRowText(int row, int column, const QString &text) override { texts[{row, column}] = text; }
    void appendLog(const QString &line) override { log.append(line); }
    void DrawDownPic(int index, qint64 mNum, qint64 mFlen, qint64 ReceiveBytes) override;
    void drawMinFormDot(int x, int y, int radius, QRgb fill) override { dots.append({x, y, radius, fill}); }
    void setClipboardText(const QString &text) override { clipboard = text; }
    qint64 monotonicMs() override { return (clockMs += clockStepMs) - clockStepMs; }
};

// An engine on a FakeHost, with a temporary folder for the task files.
struct EngineFixture {
    explicit EngineFixture(DownEngine::SocketFactory makeSocket = {}) : engine(host, makeSocket) { host.engine = &engine; }
    // A name in the temporary folder; an absolute path stays as it is.
    QString file(const QString &name) const { return QDir::isAbsolutePath(name) ? name : dir.filePath(name); }
    // Appends a task row and returns its index.
    int addTask(const QString &url, const QString &name, qint64 size = 0, qint64 got = 0)
    {
        TaskRecord &r = host.tasks(host.tasks.upperBound());
        r.Url = url, r.FilePath = file(name), r.FileSize = size, r.GotSize = got;
        return host.tasks.appendSpare();
    }
    QTemporaryDir dir;
    FakeHost host;
    DownEngine engine;
};
