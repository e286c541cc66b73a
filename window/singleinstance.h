#pragma once
// One program per task list. The first start takes a lock beside the list
// and listens on a local socket named after the list's full path; a later
// start with the same list hands its URLs to it and ends. Copies kept in
// other folders, each with its own list, stay independent.
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QStringList>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString &listPath, QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        Owner,       // this program holds the list
        HandedOver,  // the program holding it has taken the URLs
        NoAnswer,    // the list is held, but its holder does not answer
        TooLarge,    // the URLs do not fit in one message
    };
    // Takes the list, or hands `urls` to the program that holds it. A lock
    // left by a program that no longer runs is taken over.
    Claim claim(const QStringList &urls);
    // Lets the list go: the lock file and the socket are removed.
    void release();

    // The local socket's name for the list at `listPath`.
    static QString serverName(const QString &listPath);

Q_SIGNALS:
    // URLs a later start handed over; none when it only asks to be seen.
    void urlsArrived(const QStringList &urls);

private:
    bool handOver(const QByteArray &message);
    void listen();
    void acceptConnections();

    QString name_;
    QLockFile lock_;
    QLocalServer server_;
};
