#pragma once
// The program's icon in the desktop's tray, where there is one: a menu to
// show the main window or to quit, and a notification when a task ends.
#include <QObject>

class QSystemTrayIcon;

class TrayIcon : public QObject {
    Q_OBJECT
public:
    // Nothing when the desktop has no tray.
    static TrayIcon *createIfAvailable(QObject *parent);

    virtual void notify(const QString &title, const QString &text);
    QSystemTrayIcon *icon() const { return icon_; }

Q_SIGNALS:
    void showRequested();
    void quitRequested();

protected:
    explicit TrayIcon(QObject *parent);

private:
    QSystemTrayIcon *icon_ = nullptr;
};
