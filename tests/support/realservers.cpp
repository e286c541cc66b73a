#include "support/realservers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

quint16 freeLoopbackPort(bool low)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        QTcpServer server;
        if (server.listen(QHostAddress::LocalHost, low ? quint16(20000 + QRandomGenerator::global()->bounded(12000)) : 0))
            return server.serverPort();
    }
    return 0;
}

LoopbackServer::~LoopbackServer()
{
    process_.terminate();
    if (!process_.waitForFinished(3000))
        process_.kill(), process_.waitForFinished(3000);
}

QString LoopbackServer::launch(const QString &program, QStringList arguments, const QString &conf)
{
    // nginx lives in /usr/sbin, which a test's PATH may lack.
    const QString path = QStandardPaths::findExecutable(program, qEnvironmentVariable("PATH").split(u':') << QStringLiteral("/usr/sbin"));
    if (path.isEmpty() || !dir.isValid())
        return program + QStringLiteral(" is not installed or no temporary folder");
    if (!conf.isEmpty()) {
        QFile file(dir.filePath(program + QStringLiteral(".conf")));
        if (!file.open(QIODevice::WriteOnly) || file.write(conf.toUtf8()) != conf.toUtf8().size())
            return QStringLiteral("cannot write ") + file.fileName();
        arguments << file.fileName();
    }
    process_.setWorkingDirectory(dir.path());
    process_.start(path, arguments);
    for (const QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(50)) {
        if (process_.state() == QProcess::NotRunning)
            return program + QStringLiteral(" ended: ") + QString::fromLocal8Bit(process_.readAllStandardError());
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (probe.waitForConnected(200))
            return {};
    }
    return program + QStringLiteral(" does not accept connections");
}

QString startNginx(LoopbackServer &server, const QString &root, const QString &directives)
{
    server.port = freeLoopbackPort();
    const QString d = server.dir.path();
    const QString conf = QStringLiteral(
        "daemon off; master_process off; pid %1/nginx.pid; error_log %1/error.log;\n"
        "events { worker_connections 64; }\n"
        "http { access_log %1/access.log; client_body_temp_path %1/body; proxy_temp_path %1/proxy;\n"
        "  fastcgi_temp_path %1/fastcgi; uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;\n"
        "  server { listen 127.0.0.1:%2; root %3; %4 } }\n").arg(d).arg(server.port).arg(root, directives);
    return server.launch(QStringLiteral("nginx"), {QStringLiteral("-p"), d, QStringLiteral("-e"), d + QStringLiteral("/error.log"), QStringLiteral("-c")}, conf);
}

QString startTinyproxy(LoopbackServer &server, const QString &user, const QString &password)
{
    server.port = freeLoopbackPort(true);
    const QString conf = QStringLiteral(
        "Port %1\nListen 127.0.0.1\nTimeout 60\nMaxClients 16\nAllow 127.0.0.1\nBasicAuth %2 %3\n"
        "LogFile \"%4/tinyproxy.log\"\nLogLevel Info\nPidFile \"%4/tinyproxy.pid\"\n")
        .arg(server.port).arg(user, password, server.dir.path());
    return server.launch(QStringLiteral("tinyproxy"), {QStringLiteral("-d"), QStringLiteral("-c")}, conf);
}

QString startPythonHttp(LoopbackServer &server, const QString &root)
{
    server.port = freeLoopbackPort();
    return server.launch(QStringLiteral("python3"), {QStringLiteral("-m"), QStringLiteral("http.server"), QString::number(server.port),
                                                     QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--directory"), root});
}
