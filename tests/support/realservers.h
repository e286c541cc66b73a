#pragma once
// Real servers on loopback for end-to-end tests, each with its own folder,
// started and stopped by the test itself.
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

// A loopback port nothing listens on at the moment, below 32768 as a proxy's
// port must be (proxy ports are 16-bit signed); 0 when none is found.
quint16 freeLoopbackPort();

class LoopbackServer {
public:
    ~LoopbackServer() { process_.kill(), process_.waitForFinished(); }
    // Starts `program` (looked for in /usr/sbin too) with `arguments` and the
    // path of a file holding `conf`. Empty once it accepts connections on
    // `port`, otherwise why it cannot run (a missing program too).
    QString start(const QString &program, const QStringList &arguments, const QString &conf)
    {
        const QStringList paths = qEnvironmentVariable("PATH").split(u':') << "/usr/sbin";
        const QString path = QStandardPaths::findExecutable(program, paths);
        if (path.isEmpty() || !write("conf", conf.toUtf8()))
            return program + " is not installed, or its configuration cannot be written";
        process_.start(path, arguments + QStringList(dir_.filePath("conf")));
        for (int attempt = 0; attempt < 50 && !process_.waitForFinished(100); ++attempt) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(100))
                return {};
        }
        return program + " does not accept connections: " + process_.readAllStandardError();
    }
    // nginx serving `served`, `size` random bytes, as /f.bin, with
    // `directives` in its server block (such as "limit_rate 2m;").
    QString startNginx(int size, const QString &directives = {})
    {
        served.resize(size);
        QRandomGenerator(size).fillRange(reinterpret_cast<quint32 *>(served.data()), size / 4);
        const QString conf = "daemon off; master_process off; pid %1/pid; error_log %1/log;\n"
                             "events {} http { access_log off; client_body_temp_path %1;\n"
                             "proxy_temp_path %1; fastcgi_temp_path %1; uwsgi_temp_path %1;\n"
                             "scgi_temp_path %1; server { listen 127.0.0.1:%2; root %1; %3 } }\n";
        if (!write("f.bin", served))
            return "the served file cannot be written";
        return start("nginx", {"-c"}, conf.arg(dir_.path(), QString::number(port), directives));
    }
    const quint16 port = freeLoopbackPort();
    QByteArray served;
    QString root() const { return dir_.path(); }

private:
    bool write(const QString &name, const QByteArray &bytes)
    {
        QFile file(dir_.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    QTemporaryDir dir_;
    QProcess process_;
};
