#include "window/seams.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

namespace {

const QString Title = QStringLiteral("Zipvane");

qint64 elapsedSinceStart()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

}  // namespace

int execModalDialog(QDialog &dialog)
{
    return dialog.exec();
}

Seams Seams::real()
{
    Seams s;
    s.saveFileName = [](QWidget *parent, const QString &suggestedName, SaveAnswer answer) {
        auto *dialog = new QFileDialog(parent);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->selectFile(suggestedName);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answer](int result) {
            const QStringList chosen = dialog->selectedFiles();
            if (result == QDialog::Accepted && !chosen.isEmpty() && !chosen.first().isEmpty())
                answer(chosen.first());
            else
                answer(std::nullopt);
        });
        dialog->open();
    };
    s.chooseFolder = [](QWidget *parent, const QString &start) -> std::optional<QString> {
        const QString chosen = QFileDialog::getExistingDirectory(parent, {}, start);
        return chosen.isEmpty() ? std::nullopt : std::optional<QString>(chosen);
    };
    s.message = [](QWidget *parent, const QString &text) {
        QMessageBox::information(parent, Title, text, QMessageBox::Ok);
    };
    s.askOkCancel = [](QWidget *parent, const QString &text) {
        return QMessageBox::question(parent, Title, text, QMessageBox::Ok | QMessageBox::Cancel,
                                     QMessageBox::Ok)
               == QMessageBox::Ok;
    };
    s.clipboardText = [] { return QGuiApplication::clipboard()->text(); };
    s.setClipboardText = [](const QString &text) { QGuiApplication::clipboard()->setText(text); };
    s.endProgram = [] {
        // Ends at once, even from inside a connect wait's nested event loop:
        // no further socket, timer or window event may run after the list
        // has been written.
        std::fflush(nullptr);
        std::_Exit(0);
    };
    s.monotonicMs = [] { return elapsedSinceStart(); };
    s.openUrl = [](const QString &url) { QDesktopServices::openUrl(QUrl(url)); };
    return s;
}
