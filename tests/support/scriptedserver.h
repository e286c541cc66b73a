#pragma once
// A loopback HTTP server that plays a script: once a connection's request
// header has arrived it sends the script's pieces, pausing between them, and
// then closes the connection, resets it or keeps it open. It keeps every
// request, one per connection. It listens below 32768, so it can stand in
// for a proxy too (proxy ports are 16-bit signed).
#include "support/realservers.h"

#include <QTcpServer>

class ScriptedServer : public QTcpServer {
public:
    enum class End { Close, KeepOpen, Reset };
    struct Script {
        QByteArrayList pieces;
        int pauseMs = 0;  // after every piece, the last one too
        End end = End::Close;
    };
    ScriptedServer();

    quint16 port() const { return serverPort(); }
    // Scripts are used one per connection, in order; the last one repeats.
    void addScript(const Script &script) { scripts_.append(script); }
    // `response` in pieces of `pieceSize` bytes (all of it when 0).
    static Script split(const QByteArray &response, int pieceSize = 0, int pauseMs = 0,
                        End end = End::Close);
    const QList<QByteArray> &requests() const { return requests_; }

private:
    void play(QTcpSocket *socket, const Script &script, int next);
    QList<Script> scripts_;
    QList<QByteArray> requests_;
};
