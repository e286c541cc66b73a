#include "support/scriptedserver.h"

#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

ScriptedServer::ScriptedServer()
{
    listen(QHostAddress::LocalHost, freeLoopbackPort());
    connect(this, &QTcpServer::newConnection, this, [this] {  // once per connection
        QTcpSocket *socket = nextPendingConnection();
        const int index = int(requests_.size());
        const Script script = scripts_.value(qMin(index, int(scripts_.size()) - 1));
        requests_.append(QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [=] {  // a request has no body
            requests_[index] += socket->readAll();
            if (requests_[index].endsWith("\r\n\r\n"))
                play(socket, script, 0);
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    });
}

ScriptedServer::Script ScriptedServer::split(const QByteArray &response, int pieceSize,
                                             int pauseMs, End end)
{
    Script script{{}, pauseMs, end};
    for (qsizetype at = 0; at < response.size(); at += script.pieces.last().size())
        script.pieces.append(response.mid(at, pieceSize > 0 ? pieceSize : -1));
    return script;
}

void ScriptedServer::play(QTcpSocket *socket, const Script &script, int next)
{
    if (next < script.pieces.size()) {
        socket->write(script.pieces[next]), socket->flush();
        // The socket is the context: a connection closed meanwhile ends its script.
        QTimer::singleShot(script.pauseMs, socket, [=] { play(socket, script, next + 1); });
    } else if (script.end == End::Close) {
        socket->disconnectFromHost();
    } else if (script.end == End::Reset) {  // a zero linger time sends RST, not FIN
        const linger hard{1, 0};
        setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
    }
}
