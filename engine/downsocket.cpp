#include "engine/downsocket.h"

#include "tasks/gbktext.h"

#include <QTcpSocket>

DownSocket::DownSocket(int index, QObject *parent) : QObject(parent), index_(index) {}

DownSocket::~DownSocket()
{
    dropSocket();
}

void DownSocket::Connect()
{
    // A fresh QTcpSocket per connection: whatever the previous one still has
    // queued can never reach the new session.
    dropSocket();
    socket_ = new QTcpSocket(this);
    connect(socket_, &QTcpSocket::connected, this, &DownSocket::onConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &DownSocket::onReadyRead);
    connect(socket_, &QTcpSocket::errorOccurred, this, &DownSocket::onError);
    connect(socket_, &QTcpSocket::disconnected, this, &DownSocket::onRemoteClosed);
    state_ = Connecting;
    waiting_ = 0;
    // Unbuffered: the bytes go from the connection straight into our own
    // buffer, without a copy through the socket's.
    socket_->connectToHost(RemoteHost, RemotePort, QIODevice::ReadWrite | QIODevice::Unbuffered);
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
    ++generation_;
}

void DownSocket::onConnected()
{
    state_ = Connected;
    Q_EMIT connectEvent(index_);
}

bool DownSocket::readWaitingBytes()
{
    // One read takes what the connection holds, up to MaxArrival bytes; the
    // rest stays with the connection and is announced again at once. A piece
    // of this size is still in the processor's cache when it is written to
    // the file, which costs far less than writing megabytes at a time
    // (bench/README.md). A read that meets the end of the connection
    // returns -1 with nothing waiting.
    constexpr qint64 MaxArrival = 256 * 1024;
    buffer_.resize(waiting_ + MaxArrival);
    const qint64 got = socket_->read(buffer_.data() + waiting_, MaxArrival);
    if (got > 0)
        waiting_ += got;
    return got >= 0;
}

void DownSocket::onReadyRead()
{
    if (!socket_ || (state_ != Connecting && state_ != Connected))
        return;
    if (readWaitingBytes()) {
        handOutWaitingBytes();
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
    if (!handOutWaitingBytes())
        return;
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
    Q_EMIT errorEvent(index_, int(error), socket_ ? socket_->errorString() : QString());
}
