#pragma once
// Real servers on loopback for end-to-end tests, each with its own files in
// a temporary folder and started and stopped by the test itself. The start
// functions give an empty text on success, otherwise why the server could
// not run (a missing program included).
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class LoopbackServer {
public:
    ~LoopbackServer();
    // Starts `program` from the folder and waits until it accepts connections
    // on `port`; a configuration text, when given, goes to a file in the
    // folder whose path ends the arguments.
    QString launch(const QString &program, QStringList arguments, const QString &conf = {});
    QTemporaryDir dir;
    quint16 port = 0;

private:
    QProcess process_;
};

// nginx serving the files of `root`; `directives` go into its server block
// (for example "limit_rate 2m;").
QString startNginx(LoopbackServer &server, const QString &root, const QString &directives = {});
// tinyproxy asking for Basic credentials, on a port below 32768 as a proxy port must be.
QString startTinyproxy(LoopbackServer &server, const QString &user, const QString &password);
// Python's http.server, which answers a Range request with the whole file.
QString startPythonHttp(LoopbackServer &server, const QString &root);

// A port nothing listens on at the moment; `low` keeps it below 32768 (proxy
// ports are 16-bit signed). 0 when none is found.
quint16 freeLoopbackPort(bool low = false);
