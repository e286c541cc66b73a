#pragma once
// A loopback HTTP proxy that keeps the header of every request it is sent (a
// CONNECT, or a request in absolute form), one per connection, and then joins
// the connection to the server it names: a CONNECT after its 200, any other
// request by passing it on as it came. The name is resolved here, as a proxy
// does; only loopback names are reached (anything else is answered 403), and a
// port can be taken elsewhere (443 and 80 cannot be listened on without root).
#include <QMap>
#include <QTcpServer>

class RecordingProxy : public QTcpServer {
public:
    RecordingProxy();
    quint16 port() const { return serverPort(); }
    const QList<QByteArray> &headers() const { return headers_; }
    QMap<quint16, quint16> portFor;  // a port asked for -> the port reached instead

private:
    void join(QTcpSocket *client, const QByteArray &header);
    QList<QByteArray> headers_;
};
