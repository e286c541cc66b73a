#include "support/scriptedserver.h"

#include "support/realservers.h"

#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

ScriptedServer::ScriptedServer(PortChoice ports)
{
    server_.listen(QHostAddress::LocalHost, ports == LowPort ? freeLoopbackPort(true) : 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            const int index = int(requests_.size());
            requests_.append(QByteArray());
            const Script script = scripts_.isEmpty() ? Script() : scripts_.value(qMin(index, int(scripts_.size()) - 1));
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, index, script] {
                const bool started = requests_[index].contains("\r\n\r\n");
                requests_[index] += socket->readAll();
                if (!started && requests_[index].contains("\r\n\r\n"))
                    play(socket, script, 0);
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

ScriptedServer::Script ScriptedServer::split(const QByteArray &response, int pieceSize, int pauseMs, End end)
{
    Script script{{}, end};
    pieceSize = pieceSize > 0 ? pieceSize : int(qMax<qsizetype>(1, response.size()));
    for (qsizetype at = 0; at < response.size(); at += pieceSize)
        script.pieces.append({response.mid(at, pieceSize), pauseMs});
    return script;
}

void ScriptedServer::play(QTcpSocket *socket, const Script &script, int next)
{
    while (next < script.pieces.size()) {
        const Piece &piece = script.pieces[next++];
        socket->write(piece.bytes);
        socket->flush();
        if (piece.pauseMsAfter > 0 && next < script.pieces.size()) {
            // The socket as context: a connection closed meanwhile ends its script.
            QTimer::singleShot(piece.pauseMsAfter, socket, [this, socket, script, next] { play(socket, script, next); });
            return;
        }
    }
    if (script.end == End::Close)
        socket->disconnectFromHost();
    if (script.end == End::Reset) {
        // Closing with a zero linger time sends RST instead of FIN.
        const linger hard{1, 0};
        setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
    }
}
