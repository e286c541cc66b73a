#pragma once
// Seams for window tests: every dialog and the clipboard answer from here and
// record what they were asked; the clock moves only when the test moves it,
// and ending the program or opening a URL does nothing.
#include "window/seams.h"

#include <QDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <memory>

// The texts of OK boxes and of OK/Cancel boxes (answered by answerOk), the
// names suggested to the save dialog (answered by savePath; nothing: the
// dialog is cancelled), the clipboard.
struct FakeSeamsState {
    QStringList messages, questions, saveSuggestions;
    bool answerOk = true;
    std::optional<QString> savePath;
    // Set: the save dialog stays open, its answer kept here for the test to give.
    bool holdSaveDialog = false;
    Seams::SaveAnswer heldSaveAnswer;
    QString clipboard;
    qint64 nowMs = 1000;  // the clock, moved by the test
    // Runs instead of a modal dialog; the dialog stays open unless it closes itself.
    std::function<void(QDialog &)> driveDialog = [](QDialog &) {};
    QStringList opened;  // URLs given to the desktop to open
    // The folder the folder dialog answers with (nothing: cancelled).
    std::optional<QString> folder;
    // The tray is always there: its notices as "title: text", its menu's signals for the test.
    QStringList notices;
    TrayIcon *tray = nullptr;
};

class RecordingTray : public TrayIcon {
public:
    RecordingTray(QObject *parent, std::shared_ptr<FakeSeamsState> s) : TrayIcon(parent), s_(s) {}
    void notify(const QString &title, const QString &text) override
    {
        s_->notices << title + ": " + text;
    }

private:
    std::shared_ptr<FakeSeamsState> s_;
};

inline Seams fakeSeams(const std::shared_ptr<FakeSeamsState> &s)
{
    Seams seams;
    seams.saveFileName = [s](QWidget *, const QString &suggested, Seams::SaveAnswer answer) {
        // A name in the download folder is kept by name alone.
        const QFileInfo path(suggested);
        const bool downloads
            = path.path() == QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        s->saveSuggestions << (downloads ? path.fileName() : suggested);
        if (s->holdSaveDialog)
            s->heldSaveAnswer = std::move(answer);
        else
            answer(s->savePath);
    };
    seams.chooseFolder = [s](QWidget *, const QString &) { return s->folder; };
    seams.message = [s](QWidget *, const QString &text) { s->messages << text; };
    seams.askOkCancel = [s](QWidget *, const QString &text) {
        s->questions << text;
        return s->answerOk;
    };
    seams.clipboardText = [s] { return s->clipboard; };
    seams.setClipboardText = [s](const QString &text) { s->clipboard = text; };
    seams.endProgram = [] {};
    seams.monotonicMs = [s] { return s->nowMs; };
    seams.openUrl = [s](const QString &url) { s->opened << url; };
    seams.trayIcon = [s](QObject *parent) { return s->tray = new RecordingTray(parent, s); };
    seams.execModal = [s](QDialog &dialog) {
        s->driveDialog(dialog);
        return dialog.result();
    };
    return seams;
}
