#pragma once
// A window for engine tests: task records in a TaskList, and everything the
// engine shows (log lines, row states and texts, clipboard, dots, block-map
// calls) kept for the test to read. Its clock stands still until advanced.
#include "engine/downhost.h"

#include <QMap>
#include <QPair>
#include <QStringList>
#include <QVector>
#include <functional>

class DownEngine;

class FakeHost : public DownHost {
public:
    struct Dot {
        int x, y, radius;
        QRgb fill;
    };
    struct Draw {
        int index;
        qint64 mNum, mFlen, ReceiveBytes;
    };

    TaskList tasks;
    QStringList log;
    QMap<int, QString> states;
    QMap<QPair<int, int>, QString> texts;
    QString clipboard;
    int clipboardWrites = 0;
    QVector<Dot> dots;
    QVector<Draw> draws;
    qint64 clockMs = 0;
    // Added to the clock after every reading, to let time pass inside a wait.
    qint64 clockStepMs = 0;
    // The engine whose sessions DrawDownPic counts into.
    DownEngine *engine = nullptr;
    // Runs after every DrawDownPic with body bytes.
    std::function<void()> afterArrival;

    // Appends a task row and returns its index.
    int addTask(const QString &url, const QString &filePath, qint64 fileSize = 0,
                qint64 gotSize = 0);
    QString text(int row, int column) const { return texts.value({row, column}); }

    TaskRecord &task(int row) override { return tasks(row); }
    void setRowState(int row, const QString &key) override { states[row] = key; }
    void setRowText(int row, int column, const QString &text) override;
    void appendLog(const QString &line) override { log.append(line); }
    void DrawDownPic(int index, qint64 mNum, qint64 mFlen, qint64 ReceiveBytes) override;
    void drawMinFormDot(int xTwips, int yTwips, int radiusTwips, QRgb fill) override;
    void setClipboardText(const QString &text) override;
    qint64 monotonicMs() override;
};
