#include "widgets/trayicon.h"

#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

TrayIcon *TrayIcon::createIfAvailable(QObject *parent)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return nullptr;
    return new TrayIcon(parent);
}

TrayIcon::TrayIcon(QObject *parent) : QObject(parent)
{
    icon_ = new QSystemTrayIcon(QGuiApplication::windowIcon(), this);
    icon_->setToolTip(QStringLiteral("迅羽 2007 - 极速下载器"));
    // The menu has no parent widget; it goes with the tray icon.
    auto *menu = new QMenu;
    connect(this, &QObject::destroyed, menu, &QObject::deleteLater);
    connect(menu->addAction(QStringLiteral("显示主窗口")), &QAction::triggered, this,
            &TrayIcon::showRequested);
    connect(menu->addAction(QStringLiteral("退出")), &QAction::triggered, this,
            &TrayIcon::quitRequested);
    icon_->setContextMenu(menu);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    Q_EMIT showRequested();
            });
    icon_->show();
}

void TrayIcon::notify(const QString &title, const QString &text)
{
    icon_->showMessage(title, text, QSystemTrayIcon::Information);
}
