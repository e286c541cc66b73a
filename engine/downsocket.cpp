#include "engine/downsocket.h"

#include "engine/ratelimiter.h"
#include "tasks/gbktext.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <cerrno>
#include <limits>

namespace {

// How long reading waits when the speed limit has nothing left: a refill
// comes every few tens of milliseconds.
constexpr int LimitWaitMs = 20;

// What a user can do something about: whose certificate, and what is wrong with it.
QString certificateReason(const QList<QSslError> &errors)
{
    QStringList reasons;
    for (const QSslError &e : errors) {
        QString text;
        switch (e.error()) {
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
            text = QStringLiteral("证书是自签名的，不受信任");
            break;
        case QSslError::CertificateExpired:
            text = QStringLiteral("证书已过期");
            break;
        case QSslError::CertificateNotYetValid:
            text = QStringLiteral("证书尚未生效");
            break;
        case QSslError::HostNameMismatch:
            text = QStringLiteral("证书不是为这个主机名签发的");
            break;
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            text = QStringLiteral("证书的签发机构不受信任");
            break;
        case QSslError::CertificateRevoked:
            text = QStringLiteral("证书已被吊销");
            break;
        default:
            text = e.errorString();
            break;
        }
        if (!reasons.contains(text))
            reasons.append(text);
    }
    return reasons.join(QStringLiteral("；"));
}

}  // namespace

DownSocket::DownSocket(int index, QObject *parent) : QObject(parent), index_(index)
{
    gather_.setSingleShot(true);
    gather_.setInterval(0);
    connect(&gather_, &QTimer::timeout, this, [this] {
        if (socket_ && waiting_ > 0)
            handOutWaitingBytes();
    });
    limitWait_.setSingleShot(true);
    limitWait_.setInterval(LimitWaitMs);
    connect(&limitWait_, &QTimer::timeout, this, &DownSocket::onReadyRead);
}

DownSocket::~DownSocket()
{
    dropSocket();
}

void DownSocket::Connect()
{
    // A fresh socket per connection: whatever the previous one still has
    // queued can never reach the new session.
    dropSocket();
    takeDirect = {};
    tls_ = !TlsPeerName.isEmpty();
    tunneling_ = false;
    tunnelAnswer_.clear();
    certificateProblem_.clear();
    waiting_ = 0;
    state_ = Connecting;
    if (!tls_) {
        socket_ = new QTcpSocket(this);
    } else {
        auto *ssl = new QSslSocket(this);
        // What is decrypted and not yet read holds the connection back, as
        // the kernel's buffer does for a plain one: so a speed limit reaches
        // the server.
        ssl->setReadBufferSize(4 * MaxArrival);
        QSslConfiguration tlsConfig = ssl->sslConfiguration();
        tlsConfig.setProtocol(QSsl::TlsV1_2OrLater);
        tlsConfig.setPeerVerifyMode(QSslSocket::VerifyPeer);
        ssl->setSslConfiguration(tlsConfig);
        ssl->setPeerVerifyName(TlsPeerName);
        connect(ssl, &QSslSocket::encrypted, this, &DownSocket::onEncrypted);
        connect(ssl, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
            certificateProblem_ = certificateReason(errors);
        });
        socket_ = ssl;
    }
    connect(socket_, &QTcpSocket::connected, this, &DownSocket::onConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &DownSocket::onReadyRead);
    connect(socket_, &QTcpSocket::errorOccurred, this, &DownSocket::onError);
    connect(socket_, &QTcpSocket::disconnected, this, &DownSocket::onRemoteClosed);
    if (!tls_) {
        // Unbuffered: the bytes go from the connection straight into our own
        // buffer, without a copy through the socket's.
        socket_->connectToHost(RemoteHost, RemotePort,
                               QIODevice::ReadWrite | QIODevice::Unbuffered);
    } else if (TunnelTarget.isEmpty()) {
        static_cast<QSslSocket *>(socket_)->connectToHostEncrypted(RemoteHost, RemotePort,
                                                                   TlsPeerName);
    } else {
        // To the proxy in the clear; the handshake follows its 200.
        socket_->connectToHost(RemoteHost, RemotePort);
    }
}

int DownSocket::State() const
{
    return state_;
}

void DownSocket::SendData(const QString &text)
{
    if (socket_)
        socket_->write(GbkText::encode(text));
}

QByteArray DownSocket::GetData()
{
    if (waiting_ == 0)
        return QByteArray();
    // Shared, not copied: once the caller lets go, the next read reuses it.
    buffer_.resize(waiting_);
    waiting_ = 0;
    return buffer_;
}

void DownSocket::Close()
{
    takeDirect = {};
    dropSocket();
    state_ = Closed;
}

QString DownSocket::RemoteHostIP() const
{
    return socket_ ? socket_->peerAddress().toString() : QString();
}

void DownSocket::dropSocket()
{
    if (!socket_)
        return;
    // Disconnected first, so that nothing abort() reports reaches the engine.
    socket_->disconnect(this);
    socket_->abort();
    socket_->deleteLater();
    socket_ = nullptr;
    waiting_ = 0;
    peerClosed_ = false;
    gather_.stop();
    limitWait_.stop();
    ++generation_;
}

void DownSocket::onConnected()
{
    if (!tls_) {
        state_ = Connected;
        Q_EMIT connectEvent(index_);
        return;
    }
    if (TunnelTarget.isEmpty())
        return;  // the handshake runs on its own
    QByteArray ask = "CONNECT " + TunnelTarget.toLatin1()
                     + " HTTP/1.1\r\nHost: " + TunnelTarget.toLatin1() + "\r\n";
    if (!TunnelAuthorization.isEmpty())
        ask += "Proxy-Authorization: " + TunnelAuthorization.toLatin1() + "\r\n";
    tunneling_ = true;
    socket_->write(ask + "\r\n");
}

void DownSocket::onEncrypted()
{
    state_ = Connected;
    Q_EMIT connectEvent(index_);
}

void DownSocket::readTunnelAnswer()
{
    // Byte by byte up to the blank line: what follows it is the server's.
    char c;
    while (tunneling_ && socket_->getChar(&c)) {
        tunnelAnswer_.append(c);
        if (tunnelAnswer_.endsWith("\r\n\r\n") || tunnelAnswer_.size() > 64 * 1024)
            tunneling_ = false;
    }
    if (tunneling_)
        return;
    const QByteArray statusLine = tunnelAnswer_.left(tunnelAnswer_.indexOf("\r\n"));
    const QList<QByteArray> words = statusLine.split(' ');
    if (words.size() >= 2 && words[0].startsWith("HTTP/1.") && words[1] == "200"
        && tunnelAnswer_.endsWith("\r\n\r\n")) {
        static_cast<QSslSocket *>(socket_)->startClientEncryption();
        return;
    }
    state_ = Error;
    Q_EMIT tunnelRefused(index_, QString::fromLatin1(statusLine));
}

bool DownSocket::readWaitingBytes(qint64 most)
{
    // One read takes what the connection holds, up to MaxArrival bytes; the
    // rest stays with the connection and is announced again at once. A piece
    // of this size is still in the processor's cache when it is written to
    // the file, which costs far less than writing megabytes at a time
    // (bench/README.md). A read that meets the end of the connection
    // returns -1 with nothing waiting.
    buffer_.resize(waiting_ + MaxArrival);
    const qint64 got = socket_->read(buffer_.data() + waiting_, qMin(most, MaxArrival));
    if (got > 0)
        waiting_ += got;
    return got >= 0;
}

DownSocket::Take DownSocket::readAllowed(qint64 wanted)
{
    const qint64 granted = allowance(wanted), had = waiting_;
    if (granted == 0)
        return Take::Nothing;
    const bool read = readWaitingBytes(granted);
    unused(granted, waiting_ - had);
    return read ? Take::Read : Take::End;
}

qint64 DownSocket::allowance(qint64 wanted)
{
    if (!limiter_)
        return wanted;
    const qint64 granted = limiter_->take(index_, wanted);
    if (granted == 0 && !limitWait_.isActive())
        limitWait_.start();
    return granted;
}

void DownSocket::unused(qint64 granted, qint64 got)
{
    if (limiter_ && granted > got)
        limiter_->giveBack(index_, granted - qMax<qint64>(got, 0));
}

void DownSocket::onReadyRead()
{
    if (!socket_ || (state_ != Connecting && state_ != Connected))
        return;
    if (tunneling_) {
        readTunnelAnswer();
        return;
    }
    if (peerClosed_) {
        drainAfterClose();
        return;
    }
    if (takeDirect && !tls_ && waiting_ == 0) {
        handOverDirect();
        return;
    }
    const Take took = readAllowed(MaxArrival);
    if (took == Take::Nothing)
        return;  // the bytes wait with the connection
    if (took == Take::Read) {
        if (!tls_) {
            handOutWaitingBytes();
            return;
        }
        // TLS hands over what it decrypted a few KiB at a time, one
        // announcement each: gather them until this burst of events is done
        // (or a whole arrival is here), so an arrival costs what it costs
        // over plain http.
        while (socket_->bytesAvailable() > 0 && waiting_ < MaxArrival
               && readAllowed(MaxArrival - waiting_) == Take::Read) {}
        if (waiting_ >= MaxArrival)
            handOutWaitingBytes();
        else if (!gather_.isActive())
            gather_.start();
        return;
    }
    // An unbuffered socket reports the end of its connection only to the
    // read that meets it; the engine learns of it as a buffered one tells it.
    const QAbstractSocket::SocketError error = socket_->error();
    if (error == QAbstractSocket::RemoteHostClosedError)
        onRemoteClosed();
    else
        onError(error);
}

void DownSocket::handOverDirect()
{
    const quint64 generation = generation_;
    // A copy: the taker may end the connection, which clears takeDirect.
    const std::function<qint64(int, qint64)> taker = takeDirect;
    const qint64 granted = allowance(std::numeric_limits<qint64>::max());
    if (granted == 0)
        return;  // the bytes wait with the connection
    const qint64 got = taker(int(socket_->socketDescriptor()), granted);
    const int error = errno;
    unused(granted, got);
    if (generation != generation_ || !socket_)
        return;  // the taker closed the connection
    if (got > 0 || (got == -1 && error == EAGAIN)) {
        // An unbuffered socket watches its connection again only once read.
        char none;
        socket_->read(&none, 0);
    } else if (got == 0 || (got == -1 && (error == ECONNRESET || error == EPIPE))) {
        onRemoteClosed();
    } else if (got == -1) {
        onError(QAbstractSocket::NetworkError);
    }
}

bool DownSocket::handOutWaitingBytes()
{
    // A handler may Close() this socket while it takes the bytes.
    const quint64 generation = generation_;
    if (socket_ && waiting_ > 0)
        Q_EMIT dataArrival(index_, waiting_);
    return generation == generation_;
}

void DownSocket::onRemoteClosed()
{
    if (state_ != Connecting && state_ != Connected)
        return;  // already reported once
    if (peerClosed_ || !handOutWaitingBytes())
        return;
    // What a TLS socket decrypted before the close is still to be handed
    // out, as the speed limit lets it; the close is reported after it.
    if (tls_ && socket_ && socket_->bytesAvailable() > 0 && !tunneling_) {
        peerClosed_ = true;
        drainAfterClose();
        return;
    }
    state_ = Closing;
    Q_EMIT closeEvent(index_);
}

void DownSocket::drainAfterClose()
{
    while (socket_ && socket_->bytesAvailable() > 0) {
        const Take took = readAllowed(MaxArrival);
        if (took == Take::Nothing)
            return;  // the limit's wait brings us back
        if (!handOutWaitingBytes())
            return;  // the taker closed the connection
        if (took == Take::End)
            break;
    }
    if (!socket_)
        return;
    peerClosed_ = false;
    state_ = Closing;
    Q_EMIT closeEvent(index_);
}

void DownSocket::onError(QAbstractSocket::SocketError error)
{
    // Qt reports an orderly close by the server as an error before the
    // disconnected signal; for the engine it is the close event alone.
    if (error == QAbstractSocket::RemoteHostClosedError) {
        onRemoteClosed();
        return;
    }
    if (state_ != Connecting && state_ != Connected)
        return;
    if (!handOutWaitingBytes())
        return;
    state_ = Error;
    if (!certificateProblem_.isEmpty()) {
        const quint64 generation = generation_;
        Q_EMIT certificateRefused(index_, certificateProblem_);
        if (generation != generation_)
            return;
    }
    Q_EMIT errorEvent(index_, int(error), socket_ ? socket_->errorString() : QString());
}
