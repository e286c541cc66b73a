#pragma once
// The socket object of one download slot: a thin event-driven TCP client over
// QTcpSocket (QSslSocket for https, with a CONNECT tunnel through a proxy)
// with the surface the engine uses. A TLS connection counts as connected
// once its handshake is done. State() reads 0 before the
// first Connect and after Close, 7 while connected, and another code at any
// other time in between (connecting, closed by the remote end, failed).
// Slots 1 and 2 run theirs on the slot's own thread (docs/threads.md).
#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class RateLimiter;

class QTcpSocket;

class DownSocket : public QObject {
    Q_OBJECT
public:
    enum : int { Closed = 0, Connecting = 6, Connected = 7, Closing = 8, Error = 9 };

    DownSocket(int index, QObject *parent = nullptr);
    ~DownSocket() override;

    int index() const { return index_; }

    QString RemoteHost;
    quint16 RemotePort = 0;
    // https: the host name the server's certificate must be for; empty for
    // plain TCP. The system's certificate store decides what is trusted.
    QString TlsPeerName;
    // https through a proxy (RemoteHost): "host:port" asked for with CONNECT,
    // and that request's Proxy-Authorization value (empty: none).
    QString TunnelTarget;
    QString TunnelAuthorization;

    // Returns at once; the connect event follows, or the error event.
    virtual void Connect();
    virtual int State() const;
    // The text goes out as GBK bytes, in one piece.
    virtual void SendData(const QString &text);
    // Every byte waiting, in order: what one read took from the connection,
    // at most 256 KiB (more follows in the next data event).
    virtual QByteArray GetData();
    // Ends the connection at once; no close event follows.
    virtual void Close();
    virtual QString RemoteHostIP() const;

    // Set, a plain connection's data events go to this taker instead of the
    // buffer: it moves at most `most` bytes itself from the connection's
    // descriptor and returns what splice(2) gave (the bytes moved, 0 at the
    // end, -1 with errno) or -2 for nothing taken. The end and errors are
    // then reported as a read meeting them would report them. Cleared by
    // Connect and Close.
    std::function<qint64(int descriptor, qint64 most)> takeDirect;

    // Every read takes its bytes from this slot's bucket of `limiter`; when
    // it is empty the connection's bytes wait where they are (the server
    // then slows down) and reading goes on a little later.
    void setLimiter(std::shared_ptr<RateLimiter> limiter) { limiter_ = std::move(limiter); }
    const std::shared_ptr<RateLimiter> &limiter() const { return limiter_; }

Q_SIGNALS:
    void connectEvent(int index);
    void dataArrival(int index, qint64 bytesTotal);
    // The remote end closed the connection (bytes it sent before were
    // already handed out through dataArrival).
    void closeEvent(int index);
    void errorEvent(int index, int number, const QString &description);
    // The server's certificate did not verify: why, in words a user can act
    // on. Nothing was sent. The error event follows.
    void certificateRefused(int index, const QString &why);
    // The proxy answered CONNECT with something else than 200: its status line.
    void tunnelRefused(int index, const QString &statusLine);

protected:
    QTcpSocket *socket_ = nullptr;
    int index_;
    int state_ = Closed;

private:
    void dropSocket();
    // Reads what the connection holds into the buffer in one go, at most
    // `most` bytes. False when the connection has ended (closed or failed)
    // instead.
    bool readWaitingBytes(qint64 most);
    // How many of `wanted` bytes the speed limit lets this socket read now,
    // taken from its bucket; none arms the wait.
    qint64 allowance(qint64 wanted);
    // Gives back what a read did not use of its allowance.
    void unused(qint64 granted, qint64 got);
    // Reads as much of `wanted` as the speed limit grants now, giving back
    // what the read did not use: Nothing when it grants none (its wait
    // brings the socket back), End when the read met the end of the
    // connection.
    enum class Take { Nothing, Read, End };
    Take readAllowed(qint64 wanted);
    // Emits dataArrival for bytes still waiting; false when a handler closed
    // this socket meanwhile.
    bool handOutWaitingBytes();
    void onConnected();
    void onEncrypted();
    void onReadyRead();
    // A data event for takeDirect.
    void handOverDirect();
    // Reads the proxy's answer to CONNECT; false while it has not ended.
    void readTunnelAnswer();
    void onRemoteClosed();
    // After the server closed a TLS connection: hands out what was decrypted
    // before the close as the speed limit lets it, then reports the close.
    void drainAfterClose();
    void onError(QAbstractSocket::SocketError error);

    // Counts the QTcpSockets dropped, so a handler's Close() can be noticed.
    quint64 generation_ = 0;
    // Bytes read and not yet taken by GetData: the first waiting_ bytes of
    // buffer_. The buffer is kept between arrivals, so reading costs no
    // allocation once it has grown to the size arrivals have.
    QByteArray buffer_;
    qsizetype waiting_ = 0;
    // The most one read takes, and so the most one arrival holds.
    static constexpr qint64 MaxArrival = 256 * 1024;
    // Hands out what TLS decrypted in one burst of events, as one arrival. A
    // child, so that it moves with the socket to the slot's thread.
    QTimer gather_{this};
    bool tls_ = false;         // this connection is (to be) encrypted
    bool tunneling_ = false;   // waiting for the proxy's answer to CONNECT
    bool peerClosed_ = false;  // closed by the server, bytes still to hand out
    QByteArray tunnelAnswer_;
    QString certificateProblem_;
    std::shared_ptr<RateLimiter> limiter_;
    // Reading waits for the bucket to be filled again. A child, so that it
    // moves with the socket to the slot's thread.
    QTimer limitWait_{this};
};
