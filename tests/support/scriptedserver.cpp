#include "support/scriptedserver.h"

#include "support/realservers.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

ScriptedServer::ScriptedServer(PortChoice ports, QObject *parent) : QObject(parent)
{
    connect(&server_, &QTcpServer::newConnection, this, &ScriptedServer::onNewConnection);
    if (ports == LowPort)
        server_.listen(QHostAddress::LocalHost, lowLoopbackPort());
    else
        server_.listen(QHostAddress::LocalHost, 0);
}

ScriptedServer::~ScriptedServer() = default;

ScriptedServer::Script ScriptedServer::split(const QByteArray &response, int pieceSize,
                                             int pauseMs, End end)
{
    Script script;
    script.end = end;
    if (pieceSize <= 0)
        pieceSize = int(qMax<qsizetype>(1, response.size()));
    for (qsizetype at = 0; at < response.size(); at += pieceSize)
        script.pieces.append({response.mid(at, pieceSize), pauseMs});
    return script;
}

void ScriptedServer::onNewConnection()
{
    while (QTcpSocket *socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        const int number = connections_++;
        const int index = int(requests_.size());
        requests_.append(QByteArray());
        const Script script = scripts_.isEmpty() ? Script()
                                                 : scripts_.value(qMin<int>(number, int(scripts_.size()) - 1));
        auto started = std::make_shared<bool>(false);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, index, script, started] {
            requests_[index] += socket->readAll();
            if (!*started && requests_[index].contains("\r\n\r\n")) {
                *started = true;
                play(socket, script, 0);
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void ScriptedServer::sendToAll(const QByteArray &bytes)
{
    for (QTcpSocket *socket : findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly)) {
        if (socket->state() == QAbstractSocket::ConnectedState) {
            socket->write(bytes);
            socket->flush();
        }
    }
}

void ScriptedServer::play(QTcpSocket *socket, const Script &script, int next)
{
    QPointer<QTcpSocket> guard(socket);
    while (next < script.pieces.size()) {
        const Piece &piece = script.pieces[next++];
        socket->write(piece.bytes);
        socket->flush();
        if (piece.pauseMsAfter > 0 && next < script.pieces.size()) {
            QTimer::singleShot(piece.pauseMsAfter, this, [this, guard, script, next] {
                if (guard)
                    play(guard, script, next);
            });
            return;
        }
    }
    finish(socket, script.end);
}

void ScriptedServer::finish(QTcpSocket *socket, End end)
{
    switch (end) {
    case End::KeepOpen:
        return;
    case End::Close:
        socket->disconnectFromHost();
        return;
    case End::Reset: {
        // A zero linger time turns the close into a reset.
        socket->flush();
        const linger noLinger{1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger,
                     sizeof noLinger);
        socket->abort();
        return;
    }
    }
}
