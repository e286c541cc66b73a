#include "support/realservers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

bool writeText(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(text.toUtf8()) == text.toUtf8().size();
}

bool accepts(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), port);
    const bool ok = probe.waitForConnected(200);
    probe.abort();
    return ok;
}

QString findProgram(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"),
                                                     QStringLiteral("/usr/bin")});
    return path;
}

} // namespace

quint16 freeLoopbackPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

quint16 lowLoopbackPort()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto candidate = quint16(20000 + QRandomGenerator::global()->bounded(12000));
        QTcpServer server;
        if (server.listen(QHostAddress::LocalHost, candidate))
            return candidate;
    }
    return 0;
}

LoopbackServer::~LoopbackServer()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
}

QString LoopbackServer::errorText() const
{
    return QString::fromLocal8Bit(const_cast<QProcess &>(process_).readAllStandardError());
}

QString LoopbackServer::launch(const QString &program, const QStringList &arguments)
{
    const QString path = findProgram(program);
    if (path.isEmpty())
        return program + QStringLiteral(" is not installed");
    if (!dir_.isValid())
        return QStringLiteral("no temporary folder");
    process_.setWorkingDirectory(dir_.path());
    process_.start(path, arguments);
    if (!process_.waitForStarted(5000))
        return program + QStringLiteral(" did not start");
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (process_.state() == QProcess::NotRunning)
            return program + QStringLiteral(" ended: ") + errorText();
        if (accepts(port_))
            return {};
        QThread::msleep(50);
    }
    return program + QStringLiteral(" does not accept connections");
}

QString NginxServer::start(const QString &root)
{
    port_ = freeLoopbackPort();
    const QString d = dir_.path();
    const QString conf = QStringLiteral(
        "daemon off;\n"
        "master_process off;\n"
        "pid %1/nginx.pid;\n"
        "error_log %1/error.log;\n"
        "events { worker_connections 64; }\n"
        "http {\n"
        "  access_log %1/access.log;\n"
        "  client_body_temp_path %1/body;\n"
        "  proxy_temp_path %1/proxy;\n"
        "  fastcgi_temp_path %1/fastcgi;\n"
        "  uwsgi_temp_path %1/uwsgi;\n"
        "  scgi_temp_path %1/scgi;\n"
        "  server {\n"
        "    listen 127.0.0.1:%2;\n"
        "    root %3;\n"
        "  }\n"
        "}\n").arg(d).arg(port_).arg(root);
    if (!writeText(d + QStringLiteral("/nginx.conf"), conf))
        return QStringLiteral("cannot write the nginx configuration");
    return launch(QStringLiteral("nginx"),
                  {QStringLiteral("-p"), d, QStringLiteral("-e"), d + QStringLiteral("/error.log"),
                   QStringLiteral("-c"), d + QStringLiteral("/nginx.conf")});
}

QString TinyproxyServer::start(const QString &user, const QString &password)
{
    port_ = lowLoopbackPort();
    const QString d = dir_.path();
    const QString conf = QStringLiteral(
        "Port %1\n"
        "Listen 127.0.0.1\n"
        "Timeout 60\n"
        "MaxClients 16\n"
        "Allow 127.0.0.1\n"
        "BasicAuth %2 %3\n"
        "LogFile \"%4/tinyproxy.log\"\n"
        "LogLevel Info\n"
        "PidFile \"%4/tinyproxy.pid\"\n").arg(port_).arg(user, password, d);
    if (!writeText(d + QStringLiteral("/tinyproxy.conf"), conf))
        return QStringLiteral("cannot write the tinyproxy configuration");
    return launch(QStringLiteral("tinyproxy"),
                  {QStringLiteral("-d"), QStringLiteral("-c"), d + QStringLiteral("/tinyproxy.conf")});
}

QString PythonHttpServer::start(const QString &root)
{
    port_ = freeLoopbackPort();
    return launch(QStringLiteral("python3"),
                  {QStringLiteral("-m"), QStringLiteral("http.server"), QString::number(port_),
                   QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                   QStringLiteral("--directory"), root});
}
