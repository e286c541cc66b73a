#include "support/realservers.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

quint16 freeLoopbackPort()
{
    QTcpServer server;
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (server.listen(QHostAddress::LocalHost,
                          20000 + QRandomGenerator::global()->bounded(12000)))
            return server.serverPort();
    }
    return 0;
}

QString LoopbackServer::launch(const QString &program, const QStringList &arguments,
                               const QString &conf)
{
    // nginx lives in /usr/sbin, which a test's PATH may lack.
    const QStringList paths = qEnvironmentVariable("PATH").split(u':') << "/usr/sbin";
    const QString path = QStandardPaths::findExecutable(program, paths);
    QFile file(dir_.filePath(program + ".conf"));
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(conf.toUtf8()) < 0)
        return program + " is not installed, or its configuration cannot be written";
    file.close();
    process_.start(path, arguments + QStringList(file.fileName()));
    for (int attempt = 0; attempt < 50; ++attempt) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(100))
            return {};
        if (process_.waitForFinished(100))
            return program + " ended: " + process_.readAllStandardError();
    }
    return program + " does not accept connections";
}

QString LoopbackServer::startNginx(const QString &root, const QString &directives)
{
    const QString d = dir_.path();
    return launch("nginx", {"-p", d, "-e", d + "/error.log", "-c"},
                  QString("daemon off; master_process off; pid %1/pid; error_log %1/error.log;\n"
                          "events {} http { access_log off; client_body_temp_path %1;\n"
                          "  proxy_temp_path %1; fastcgi_temp_path %1; uwsgi_temp_path %1;\n"
                          "  scgi_temp_path %1; server { listen 127.0.0.1:%2; root %3; %4 } }\n")
                      .arg(d)
                      .arg(port)
                      .arg(root, directives));
}

QString LoopbackServer::startTinyproxy(const QString &user, const QString &password)
{
    return launch("tinyproxy", {"-d", "-c"},
                  QString("Port %1\nListen 127.0.0.1\nAllow 127.0.0.1\nBasicAuth %2 %3\n"
                          "LogFile \"%4/log\"\n")
                      .arg(port)
                      .arg(user, password, dir_.path()));
}
