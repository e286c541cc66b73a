#include "window/singleinstance.h"

#include "tasks/urlmessage.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <memory>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// Whoever connects must be this user: the socket's own permissions say so
// already, and the kernel's word on the peer makes sure of it.
bool peerIsThisUser(const QLocalSocket &peer)
{
#ifdef Q_OS_LINUX
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return getsockopt(int(peer.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &length)
               == 0
           && credentials.uid == getuid();
#else
    Q_UNUSED(peer);
    return true;
#endif
}

void drop(QLocalSocket *peer)
{
    peer->abort();
    peer->deleteLater();
}

}  // namespace

SingleInstance::SingleInstance(const QString &listPath, QObject *parent)
    : QObject(parent), name_(serverName(listPath)), lock_(listPath + QStringLiteral(".lock"))
{
    // The lock is ours for as long as we run, however long that is; only a
    // holder that no longer runs leaves a stale lock.
    lock_.setStaleLockTime(0);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::serverName(const QString &listPath)
{
    const QFileInfo list(listPath);
    const QString folder = QFileInfo(list.absolutePath()).canonicalFilePath();
    const QString full
        = (folder.isEmpty() ? list.absolutePath() : folder) + QLatin1Char('/') + list.fileName();
    const QByteArray digest = QCryptographicHash::hash(full.toUtf8(), QCryptographicHash::Sha256);
    QString user;
#ifdef Q_OS_UNIX
    user = QString::number(getuid());
#endif
    return QStringLiteral("zipvane-%1-%2").arg(user, QString::fromLatin1(digest.toHex().left(24)));
}

SingleInstance::Claim SingleInstance::claim(const QStringList &urls)
{
    const std::optional<QByteArray> message = UrlMessage::encode(urls);
    // The holder may be starting (locked, not listening yet) or ending.
    const QDeadlineTimer deadline(5000);
    do {
        if (lock_.tryLock(0)) {
            listen();
            return Claim::Owner;
        }
        // A folder that takes no lock file keeps no list either: the window
        // says so when it writes one.
        if (lock_.error() != QLockFile::LockFailedError)
            return Claim::Owner;
        if (!message)
            return Claim::TooLarge;
        if (handOver(*message))
            return Claim::HandedOver;
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return Claim::NoAnswer;
}

void SingleInstance::release()
{
    server_.close();
    if (lock_.isLocked())
        lock_.unlock();
}

bool SingleInstance::handOver(const QByteArray &message)
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(message);
    if (!socket.waitForBytesWritten(2000))
        return false;
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    return answer == "OK\n";
}

void SingleInstance::listen()
{
    // We hold the lock, so a socket file left behind is no other program's.
    QLocalServer::removeServer(name_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(name_))
        qWarning("Zipvane: later starts cannot reach this one: %s",
                 qPrintable(server_.errorString()));
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *peer = server_.nextPendingConnection()) {
        if (!peerIsThisUser(*peer)) {
            drop(peer);
            continue;
        }
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        // A peer that never finishes its message is not waited on for ever.
        QTimer::singleShot(5000, peer, [peer] { drop(peer); });
        auto received = std::make_shared<QByteArray>();
        connect(peer, &QLocalSocket::readyRead, this, [this, peer, received] {
            // One byte past the limit is enough to know the message is too long.
            *received += peer->read(UrlMessage::MaxBytes + 1 - received->size());
            const UrlMessage::Parsed parsed = UrlMessage::parse(*received);
            if (parsed.status == UrlMessage::Status::Incomplete)
                return;
            disconnect(peer, &QLocalSocket::readyRead, this, nullptr);
            if (parsed.status == UrlMessage::Status::Refused) {
                drop(peer);
                return;
            }
            peer->write("OK\n");
            peer->flush();
            peer->disconnectFromServer();
            Q_EMIT urlsArrived(parsed.urls);
        });
    }
}
