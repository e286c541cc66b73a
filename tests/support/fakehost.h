#pragma once
// An engine for engine tests on a window of its own: task records by row,
// the log lines, row states and texts kept for the test to read, a
// clock that stands still unless stepped, and a temporary folder for files.
#include "engine/downengine.h"
#include "support/files.h"

#include <QtTest>

struct EngineFixture : DownHost {
    explicit EngineFixture(DownEngine::SocketFactory sockets = {}) : engine(*this, model, sockets)
    {
        QObject::connect(&engine, &DownEngine::timeShown, [this](int row, const QString &s) {
            texts[{row, 3}] = s;
        });
        QObject::connect(&model, &TaskModel::sizeChanged, [this](int row) {
            texts[{row, 1}] = QString::number(model.task(row).FileSize);
        });
    }
    TaskRecord &task(int row) { return model.task(row); }
    // The row's state key, as its icon shows it.
    QString state(int row) const { return model.stateKey(row); }
    void appendLog(const QString &line) override { log.append(line); }
    void DrawDownPic(int, qint64, qint64, qint64) override {}
    void setClipboardText(const QString &s) override { clipboard = s; }
    qint64 monotonicMs() override { return (clockMs += clockStepMs) - clockStepMs; }

    // Appends a task row (the first is row 1) and returns its index; the file
    // is `name` in the temporary folder, or `name` itself when absolute.
    int addTask(const QString &url, const QString &name, qint64 size = 0, qint64 got = 0)
    {
        TaskRecord r;
        r.Url = url, r.FilePath = QDir(dir.path()).filePath(name);
        r.FileSize = size, r.GotSize = got;
        return model.append(r);
    }
    // Starts `row` on slot 1 as a double-click does, to the record's file,
    // and lets the connect wait run: true once the request is out.
    bool start(int row, int slot = 1)
    {
        if (engine.StartTask(slot, row, task(row).FilePath) != DownEngine::StartResult::Started)
            return false;
        const std::shared_ptr<clsDown> session = engine.Down(slot);
        (void)QTest::qWaitFor([&] { return !session->connecting(); }, 30000);
        return session->requestSent();
    }
    // Waits until the session of slot 1 has ended.
    bool waitEnded(int ms = 20000)
    {
        return QTest::qWaitFor([&] { return !engine.Down(1)->bBusy; }, ms);
    }

    QTemporaryDir dir;
    QStringList log;
    QMap<QPair<int, int>, QString> texts;  // by row and column
    QString clipboard;
    // The clock, and what is added to it after every reading to let time pass
    // inside a wait.
    qint64 clockMs = 0, clockStepMs = 0;
    TaskModel model;
    DownEngine engine;  // last: it is built on everything above
};
