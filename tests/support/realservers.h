#pragma once
// Real servers on loopback for end-to-end tests, each with its own files in
// a temporary folder and started and stopped by the test itself: nginx
// serving a folder, tinyproxy asking for Basic credentials, and Python's
// http.server, which ignores Range. start() gives an empty text on success,
// otherwise why the server could not run (a missing program included).
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class LoopbackServer {
public:
    virtual ~LoopbackServer();
    quint16 port() const { return port_; }
    QString errorText() const;

protected:
    // Starts `program` and waits until it accepts connections on port_.
    QString launch(const QString &program, const QStringList &arguments);

    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
};

class NginxServer : public LoopbackServer {
public:
    // Serves the files of `root`.
    QString start(const QString &root);
};

class TinyproxyServer : public LoopbackServer {
public:
    // Listens below 32768, as a proxy port must.
    QString start(const QString &user, const QString &password);
};

class PythonHttpServer : public LoopbackServer {
public:
    QString start(const QString &root);
};

// A port nothing listens on at the moment.
quint16 freeLoopbackPort();
// The same, below 32768 (proxy ports are 16-bit signed); 0 when none found.
quint16 lowLoopbackPort();
