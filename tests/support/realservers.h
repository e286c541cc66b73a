#pragma once
// Real servers on loopback for end-to-end tests, each with its own folder,
// started and stopped by the test itself.
#include <QProcess>
#include <QTemporaryDir>

// A loopback port nothing listens on at the moment, below 32768 as a proxy's
// port must be (proxy ports are 16-bit signed); 0 when none is found.
quint16 freeLoopbackPort();

class LoopbackServer {
public:
    ~LoopbackServer() { process_.kill(), process_.waitForFinished(); }
    // nginx serving the files of `root`, with `directives` in its server
    // block (such as "limit_rate 2m;"). Empty on success, otherwise why the
    // server could not run (a missing program too).
    QString startNginx(const QString &root, const QString &directives = {});
    // tinyproxy asking for Basic credentials; the result as for nginx.
    QString startTinyproxy(const QString &user, const QString &password);
    const quint16 port = freeLoopbackPort();

private:
    // Starts `program` with `arguments` and the path of a file holding
    // `conf`, and waits until it accepts connections on `port`.
    QString launch(const QString &program, const QStringList &arguments, const QString &conf);
    QTemporaryDir dir_;
    QProcess process_;
};
