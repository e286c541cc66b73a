#pragma once
// The user's settings, kept by QSettings in the INI file
// "Zipvane/Zipvane.conf" under the user's configuration folder
// ($XDG_CONFIG_HOME, else ~/.config). Read in one place, at start-up; a
// setting the user changes is written at once.
#include <QByteArray>
#include <QString>

struct Settings {
    bool queueWhenBusy = true;  // 忙时排队: a start while both slots are busy waits its turn
    bool resumeAtStart = true;  // 启动时继续下载: what ran or waited at exit goes on
    qint64 speedLimitKBps = 0;  // 限速: all downloads together, KB (1024 bytes) a second; 0: none
    bool askWhereToSave = true;  // 保存时询问: the save dialog at a task's first start
    QString downloadFolder;      // 下载文件夹; empty: the desktop's download folder
    QString lastFolder;          // where the save dialog was last answered
    QByteArray windowGeometry;   // the main window's size and place, as Qt saves them
    bool windowMaximized = false;
    // 每个任务的连接数: connections one task may open at once; 0: 自动 (as many
    // as raise its speed, up to MaxConnections).
    qint64 connections = 0;
    static constexpr qint64 MaxConnections = 16;

    static QString path();
    // The settings in the file (the defaults for those it lacks). A file that
    // cannot be read, or is not the INI text it should be, gives the defaults
    // and `*unreadable` true: nothing of it is trusted.
    static Settings read(bool *unreadable = nullptr);
    // Writes every setting; false when the file could not be written.
    bool write() const;
};
