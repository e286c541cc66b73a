#pragma once
// Seams for window tests: every dialog, the clipboard, the clock and the end
// of the program answer from here and record what they were asked.
#include "window/seams.h"

#include <QDialog>
#include <QStringList>
#include <memory>

struct FakeSeamsState {
    QStringList messages;   // texts of OK boxes
    QStringList questions;  // texts of OK/Cancel boxes
    bool answerOk = true;
    std::optional<QString> savePath;  // nothing: the save dialog is cancelled
    QStringList saveSuggestions;
    QString clipboard;
    int endCalls = 0;
    qint64 nowMs = 1000;
    QStringList opened;
    // Runs instead of a modal dialog; the dialog stays open unless it closes itself.
    std::function<void(QDialog &)> driveDialog;
};

inline Seams fakeSeams(const std::shared_ptr<FakeSeamsState> &s)
{
    Seams seams;
    seams.saveFileName = [s](QWidget *, const QString &suggested) {
        s->saveSuggestions << suggested;
        return s->savePath;
    };
    seams.message = [s](QWidget *, const QString &text) { s->messages << text; };
    seams.askOkCancel = [s](QWidget *, const QString &text) {
        s->questions << text;
        return s->answerOk;
    };
    seams.clipboardText = [s] { return s->clipboard; };
    seams.setClipboardText = [s](const QString &text) { s->clipboard = text; };
    seams.endProgram = [s] { ++s->endCalls; };
    seams.monotonicMs = [s] { return s->nowMs; };
    seams.openUrl = [s](const QString &url) { s->opened << url; };
    seams.execModal = [s](QDialog &dialog) {
        if (s->driveDialog)
            s->driveDialog(dialog);
        return dialog.result();
    };
    return seams;
}
