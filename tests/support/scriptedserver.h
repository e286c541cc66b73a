#pragma once
// A loopback HTTP server that plays a script: once a connection's request
// header has arrived it sends the given pieces, pausing between them, and
// then closes the connection, keeps it open or resets it. It keeps every
// request it received.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

class ScriptedServer : public QObject {
    Q_OBJECT
public:
    enum class End { Close, KeepOpen, Reset };
    struct Piece {
        QByteArray bytes;
        int pauseMsAfter = 0;
    };
    struct Script {
        QList<Piece> pieces;
        End end = End::Close;
    };

    enum PortChoice { AnyPort, LowPort };
    // LowPort listens below 32768, for use as a proxy (proxy ports are
    // 16-bit signed); AnyPort takes what the system gives.
    explicit ScriptedServer(PortChoice ports = AnyPort, QObject *parent = nullptr);
    ~ScriptedServer() override;

    quint16 port() const { return server_.serverPort(); }
    // Scripts are used one per connection, in order; the last one repeats.
    void addScript(const Script &script) { scripts_.append(script); }
    // `response` in pieces of `pieceSize` bytes (all of it when 0).
    static Script split(const QByteArray &response, int pieceSize = 0, int pauseMs = 0,
                        End end = End::Close);

    // Sends `bytes` on every connection still open.
    void sendToAll(const QByteArray &bytes);

    const QList<QByteArray> &requests() const { return requests_; }
    int connections() const { return connections_; }

private:
    void onNewConnection();
    void play(QTcpSocket *socket, const Script &script, int next);
    void finish(QTcpSocket *socket, End end);

    QTcpServer server_;
    QList<Script> scripts_;
    QList<QByteArray> requests_;
    int connections_ = 0;
};
