#include "support/scriptedserver.h"

#include "support/realservers.h"

#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

ScriptedServer::ScriptedServer()
{
    server_.listen(QHostAddress::LocalHost, freeLoopbackPort());
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = server_.nextPendingConnection()) {
            const int index = connections();
            requests_.append(QByteArray());
            const Script script = scripts_.value(qMin(index, int(scripts_.size()) - 1));
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

ScriptedServer::Script ScriptedServer::split(const QByteArray &response, int pieceSize,
                                             int pauseMs, End end)
{
    Script script{{}, pauseMs, end};
    const qsizetype size = pieceSize > 0 ? pieceSize : qMax<qsizetype>(1, response.size());
    for (qsizetype at = 0; at < response.size(); at += size)
        script.pieces.append(response.mid(at, size));
    return script;
}

void ScriptedServer::play(QTcpSocket *socket, const Script &script, int next)
{
    if (next < script.pieces.size()) {
        socket->write(script.pieces[next]), socket->flush();
        // The socket is the context: a connection closed meanwhile ends its script.
        QTimer::singleShot(script.pauseMs, socket,
                           [this, socket, script, next] { play(socket, script, next + 1); });
    } else if (script.end == End::Close) {
        socket->disconnectFromHost();
    } else if (script.end == End::Reset) {  // a zero linger time sends RST, not FIN
        const linger hard{1, 0};
        setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
    }
}
