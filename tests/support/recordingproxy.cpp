#include "support/recordingproxy.h"

#include "support/realservers.h"

#include <QTcpSocket>
#include <QUrl>

RecordingProxy::RecordingProxy()
{
    listen(QHostAddress::LocalHost, freeLoopbackPort());
    connect(this, &QTcpServer::newConnection, this, [this] {  // once per connection
        QTcpSocket *client = nextPendingConnection();
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QTcpSocket::readyRead, client, [this, client] {
            const QByteArray got = client->property("got").toByteArray() + client->readAll();
            client->setProperty("got", got);
            if (got.contains("\r\n\r\n")) {
                client->disconnect(client, &QTcpSocket::readyRead, nullptr, nullptr);
                join(client, got);
            }
        });
    });
}

void RecordingProxy::join(QTcpSocket *client, const QByteArray &bytes)
{
    const QByteArray header = bytes.left(bytes.indexOf("\r\n\r\n") + 4);
    headers_.append(header);
    const QList<QByteArray> words = header.left(header.indexOf("\r\n")).split(' ');
    const bool tunnel = words.value(0) == "CONNECT";
    const QUrl to(QString::fromLatin1((tunnel ? "//" : "") + words.value(1)));
    if (to.host() != "localhost" && to.host() != "127.0.0.1") {
        client->write("HTTP/1.1 403 Forbidden\r\n\r\n"), client->disconnectFromHost();
        return;
    }
    auto *server = new QTcpSocket(client);
    const auto pass = [](QTcpSocket *from, QTcpSocket *into) { into->write(from->readAll()); };
    connect(client, &QTcpSocket::readyRead, server, [=] { pass(client, server); });
    connect(server, &QTcpSocket::readyRead, client, [=] { pass(server, client); });
    connect(server, &QTcpSocket::disconnected, client,
            [=] { pass(server, client), client->disconnectFromHost(); });
    connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
    connect(server, &QTcpSocket::connected, client, [=] {
        server->setProperty("up", true);
        if (tunnel)
            client->write("HTTP/1.1 200 Connection established\r\n\r\n");
    });
    connect(server, &QTcpSocket::errorOccurred, client, [=] {
        if (!server->property("up").toBool())
            client->write("HTTP/1.1 502 Bad Gateway\r\n\r\n"), client->disconnectFromHost();
    });
    const quint16 asked = quint16(to.port(tunnel ? 443 : 80));
    // Written before the connection stands, it goes out once it does.
    server->connectToHost(to.host(), portFor.value(asked, asked));
    server->write(tunnel ? bytes.mid(header.size()) : bytes);
}
