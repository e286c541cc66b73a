#include "window/singleinstance.h"

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

// The other end of a local connection is this user, in the kernel's word:
// checked by the program of everyone who connects, and by a later start of
// whoever answers, before it sends a byte.
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

QString socketName(const QString &folder, const QString &listPath)
{
    const QFileInfo list(listPath);
    const QString canonical = QFileInfo(list.absolutePath()).canonicalFilePath();
    const QString full = (canonical.isEmpty() ? list.absolutePath() : canonical) + QLatin1Char('/')
                         + list.fileName();
    const QByteArray digest = QCryptographicHash::hash(full.toUtf8(), QCryptographicHash::Sha256);
    return folder + QStringLiteral("/zipvane-") + QString::fromLatin1(digest.toHex().left(24));
}

}  // namespace

SingleInstance::SingleInstance(const QString &listPath, QObject *parent)
    : QObject(parent), folder_(privateRuntimeFolder()), lock_(listPath + QStringLiteral(".lock"))
{
    if (!folder_.path.isEmpty())
        name_ = socketName(folder_.path, listPath);
    // The lock is ours for as long as we run, however long that is; only a
    // holder that no longer runs leaves a stale lock.
    lock_.setStaleLockTime(0);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::socketPath(const QString &listPath)
{
    const PrivateFolder folder = privateRuntimeFolder();
    return folder.path.isEmpty() ? QString() : socketName(folder.path, listPath);
}

SingleInstance::Claim SingleInstance::claim(const QStringList &urls,
                                            QList<UrlMessage::Outcome> &outcomes)
{
    QStringList carried;
    for (const QString &url : urls) {
        if (UrlMessage::carries(url))
            carried << url;
    }
    const std::optional<QByteArray> message = UrlMessage::encode(carried);
    QList<UrlMessage::Outcome> answered;
    // The holder may be starting (locked, not listening yet) or ending.
    const QDeadlineTimer deadline(5000);
    for (;;) {
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
        if (name_.isEmpty())
            return folder_.foreign ? Claim::Foreign : Claim::NoAnswer;
        const HandOver result = handOver(*message, carried.size(), answered);
        if (result == HandOver::Foreign)
            return Claim::Foreign;
        if (result == HandOver::NoAnswer)
            return Claim::NoAnswer;
        if (result == HandOver::Answered)
            break;
        if (deadline.hasExpired())
            return Claim::NoAnswer;
        QThread::msleep(100);
    }
    outcomes.clear();
    for (const QString &url : urls)
        outcomes << (UrlMessage::carries(url) ? answered.takeFirst()
                                              : UrlMessage::Outcome::Unusable);
    return Claim::HandedOver;
}

SingleInstance::Claim SingleInstance::deliver(const UrlMessage::Item &item,
                                              UrlMessage::Outcome &outcome,
                                              const std::function<bool()> &startProgram,
                                              int waitMs)
{
    const std::optional<QByteArray> message = UrlMessage::encode(QList<UrlMessage::Item>{item});
    if (!message)
        return Claim::TooLarge;
    if (name_.isEmpty())
        return folder_.foreign ? Claim::Foreign : Claim::NoAnswer;
    const QDeadlineTimer deadline(waitMs);
    bool started = false;
    for (;;) {
        QList<UrlMessage::Outcome> answered;
        const HandOver result = handOver(*message, 1, answered);
        if (result == HandOver::Answered) {
            outcome = answered.value(0, UrlMessage::Outcome::Unusable);
            return Claim::HandedOver;
        }
        if (result == HandOver::Foreign)
            return Claim::Foreign;
        if (result == HandOver::NoAnswer)
            return Claim::NoAnswer;
        // Nobody listens. An unheld list has no program yet: one is started,
        // once; a held one is starting or ending, and is waited for.
        if (!started && lock_.tryLock(0)) {
            lock_.unlock();
            if (!startProgram())
                return Claim::NoAnswer;
            started = true;
        }
        if (deadline.hasExpired())
            return Claim::NoAnswer;
        QThread::msleep(100);
    }
}

void SingleInstance::release()
{
    server_.close();
    if (lock_.isLocked())
        lock_.unlock();
}

SingleInstance::HandOver SingleInstance::handOver(const QByteArray &message, qsizetype sent,
                                                  QList<UrlMessage::Outcome> &answered)
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(1000))
        return HandOver::NotReached;
    if (!peerIsThisUser(socket)) {
        socket.abort();
        return HandOver::Foreign;
    }
    // From here on the URLs may have been taken: they are never sent twice.
    socket.write(message);
    if (!socket.waitForBytesWritten(2000))
        return HandOver::NoAnswer;
    QByteArray received;
    UrlMessage::ParsedAnswer answer;
    while (answer.status == UrlMessage::Status::Incomplete && socket.waitForReadyRead(5000)) {
        received += socket.read(UrlMessage::MaxBytes + 1 - received.size());
        answer = UrlMessage::parseAnswer(received, sent);
    }
    if (answer.status != UrlMessage::Status::Complete)
        return HandOver::NoAnswer;
    answered = answer.outcomes;
    return HandOver::Answered;
}

void SingleInstance::listen()
{
    if (name_.isEmpty()) {
        listenProblem_ = folder_.problem;
        return;
    }
    // We hold the lock, and the folder is ours alone, so a socket file left
    // behind is no other program's.
    QLocalServer::removeServer(name_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(name_))
        listenProblem_ = server_.errorString();
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *peer = server_.nextPendingConnection()) {
        if (!peerIsThisUser(*peer) || !receiver_) {
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
            peer->write(UrlMessage::encodeAnswer(receiver_(parsed.items)));
            peer->flush();
            peer->disconnectFromServer();
        });
    }
}
