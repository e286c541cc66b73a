#include "engine/downsocket.h"

#include "app/gbktext.h"

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
    socket_->connectToHost(RemoteHost, RemotePort);
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
    return socket_ ? socket_->readAll() : QByteArray();
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
    ++generation_;
}

void DownSocket::onConnected()
{
    state_ = Connected;
    Q_EMIT connectEvent(index_);
}

void DownSocket::onReadyRead()
{
    if (socket_ && socket_->bytesAvailable() > 0)
        Q_EMIT dataArrival(index_, socket_->bytesAvailable());
}

bool DownSocket::handOutWaitingBytes()
{
    // A handler may Close() this socket while it takes the bytes.
    const quint64 generation = generation_;
    if (socket_ && socket_->bytesAvailable() > 0)
        Q_EMIT dataArrival(index_, socket_->bytesAvailable());
    return generation == generation_;
}

void DownSocket::onRemoteClosed()
{
    if (state_ != Connecting && state_ != Connected)
        return;   // already reported once
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
