#pragma once
// A loopback HTTP server that plays a script: once a connection's request
// header has arrived it sends the given pieces, pausing between them, and
// then closes the connection, resets it or keeps it open. It keeps every request.
#include <QTcpServer>

class QTcpSocket;

class ScriptedServer : public QObject {
    Q_OBJECT
public:
    enum class End { Close, KeepOpen, Reset };
    struct Piece { QByteArray bytes; int pauseMsAfter = 0; };
    struct Script { QList<Piece> pieces; End end = End::Close; };
    // LowPort listens below 32768, for use as a proxy (proxy ports are 16-bit signed).
    enum PortChoice { AnyPort, LowPort };
    explicit ScriptedServer(PortChoice ports = AnyPort);

    quint16 port() const { return server_.serverPort(); }
    // Scripts are used one per connection, in order; the last one repeats.
    void addScript(const Script &script) { scripts_.append(script); }
    // `response` in pieces of `pieceSize` bytes (all of it when 0).
    static Script split(const QByteArray &response, int pieceSize = 0, int pauseMs = 0,
                        End end = End::Close);
    const QList<QByteArray> &requests() const { return requests_; }
    int connections() const { return int(requests_.size()); }

private:
    void play(QTcpSocket *socket, const Script &script, int next);

    QTcpServer server_;
    QList<Script> scripts_;
    QList<QByteArray> requests_;
};
