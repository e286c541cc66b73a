#pragma once
// One program per task list. The first start takes a lock beside the list
// and listens on a local socket named after the list's full path, in a
// folder only this user can write to; a later start with the same list hands
// its URLs to it, learns what became of each, and ends. Copies kept in other
// folders, each with its own list, stay independent.
#include "tasks/urlmessage.h"
#include "window/privatefolder.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QStringList>
#include <functional>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString &listPath, QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        Owner,       // this program holds the list
        HandedOver,  // the program holding it has answered for each URL
        NoAnswer,    // the list is held, but its holder does not answer
        TooLarge,    // the URLs do not fit in one message
        Foreign,     // the socket, or its folder, is another user's: nothing was sent
    };
    // Takes the list, or hands `urls` to the program that holds it. A lock
    // left by a program that no longer runs is taken over. When handed over,
    // `outcomes` holds what became of each URL, in order; a URL no message
    // can carry is Unusable without being sent.
    Claim claim(const QStringList &urls, QList<UrlMessage::Outcome> &outcomes);
    // Hands `item` to the program that holds the list, never taking it:
    // where none runs, `startProgram` starts one (detached), and the hand-over
    // waits up to `waitMs` for it to listen. HandedOver sets `outcome`;
    // Owner is never returned.
    Claim deliver(const UrlMessage::Item &item, UrlMessage::Outcome &outcome,
                  const std::function<bool()> &startProgram, int waitMs = 15000);
    // Lets the list go: the lock file and the socket are removed.
    void release();
    // Why later starts cannot reach this one; empty while they can.
    QString listenProblem() const { return listenProblem_; }

    // What the owner does with URLs a later start handed over (none when it
    // only asks to be seen): one outcome for each, in order.
    using Receiver = std::function<QList<UrlMessage::Outcome>(const QList<UrlMessage::Item> &)>;
    void setReceiver(Receiver receiver) { receiver_ = std::move(receiver); }

    // The local socket's full path for the list at `listPath`; empty when
    // there is no private folder to put it in.
    static QString socketPath(const QString &listPath);

private:
    enum class HandOver { Answered, NotReached, NoAnswer, Foreign };
    HandOver handOver(const QByteArray &message, qsizetype sent,
                      QList<UrlMessage::Outcome> &answered);
    void listen();
    void acceptConnections();

    PrivateFolder folder_;
    QString name_;
    QLockFile lock_;
    QLocalServer server_;
    QString listenProblem_;
    Receiver receiver_;
};
