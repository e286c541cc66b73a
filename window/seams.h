#pragma once
// Everything a test cannot drive by itself, as replaceable functions. The
// defaults are the real Qt behaviour; tests install fakes.
#include "widgets/trayicon.h"

#include <QString>
#include <functional>
#include <optional>

class QDialog;
class QWidget;

// Runs a dialog modally: QDialog::exec().
int execModalDialog(QDialog &dialog);

struct Seams {
    // The save-as dialog, opened without waiting for it: `answer` gets the
    // chosen path later, or nothing when cancelled. It asks before
    // overwriting an existing file.
    using SaveAnswer = std::function<void(std::optional<QString> path)>;
    std::function<void(QWidget *parent, const QString &suggestedName, SaveAnswer answer)>
        saveFileName;
    // A folder chosen by the user, starting from `start`; nothing when cancelled.
    std::function<std::optional<QString>(QWidget *parent, const QString &start)> chooseFolder;
    // A message box titled "Zipvane" with an OK button.
    std::function<void(QWidget *parent, const QString &text)> message;
    // A message box titled "Zipvane" with OK and Cancel; true for OK.
    std::function<bool(QWidget *parent, const QString &text)> askOkCancel;
    std::function<QString()> clipboardText;
    std::function<void(const QString &)> setClipboardText;
    // Ends the program at once, from wherever it is called.
    std::function<void()> endProgram;
    // A monotonic clock in milliseconds.
    std::function<qint64()> monotonicMs;
    std::function<void(const QString &url)> openUrl;
    // Shows a dialog modally and returns its result.
    std::function<int(QDialog &)> execModal = execModalDialog;
    // The icon in the desktop's tray, or nothing where there is no tray.
    std::function<TrayIcon *(QObject *parent)> trayIcon = TrayIcon::createIfAvailable;

    // The real behaviour.
    static Seams real();
};
