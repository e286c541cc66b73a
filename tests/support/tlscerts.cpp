#include "support/tlscerts.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslConfiguration>

TestCertificates makeTestCertificates(const QString &folder)
{
    const QDir d(folder);
    TestCertificates c{{},
                       d.filePath("ca.pem"),
                       d.filePath("server.key"),
                       d.filePath("good.pem"),
                       d.filePath("localhost.pem"),
                       d.filePath("self.pem"),
                       d.filePath("expired.pem"),
                       d.filePath("other.pem")};
    const QString caKey = d.filePath("ca.key"), csr = d.filePath("server.csr");
    const auto run = [&c](const QStringList &args) {
        QProcess p;
        p.start("openssl", args);
        if (!c.error.isEmpty() || (p.waitForFinished(30000) && p.exitCode() == 0))
            return c.error.isEmpty();
        c.error = "openssl " + args.join(' ') + ": " + p.readAllStandardError();
        return false;
    };
    // Each signed certificate: its validity in days and its subjectAltName.
    const auto sign = [&](const QString &out, const char *days, const char *altName,
                          const QString &request) {
        QFile ext(out + ".ext");
        ext.open(QIODevice::WriteOnly);
        ext.write(QByteArray("subjectAltName=") + altName + "\n");
        ext.close();
        return run({"x509", "-req", "-in", request, "-CA", c.ca, "-CAkey", caKey,
                    "-CAcreateserial", "-days", days, "-extfile", ext.fileName(), "-out", out});
    };
    run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Zipvane test CA", "-days",
         "2", "-keyout", caKey, "-out", c.ca});
    run({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", c.key,
         "-out", csr});
    run({"req", "-new", "-key", c.key, "-subj", "/CN=other.invalid", "-out", csr + ".other"});
    run({"req", "-new", "-key", c.key, "-subj", "/CN=localhost", "-out", csr + ".localhost"});
    sign(c.good, "2", "IP:127.0.0.1", csr);
    sign(c.localhost, "2", "DNS:localhost", csr + ".localhost");
    sign(c.expired, "-1", "IP:127.0.0.1", csr);  // it ended a day before it began
    sign(c.otherHost, "2", "DNS:other.invalid", csr + ".other");
    run({"x509", "-req", "-in", csr, "-signkey", c.key, "-days", "2", "-out", c.selfSigned});
    if (c.error.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(c.ca);
        QSslConfiguration::setDefaultConfiguration(tls);
    }
    return c;
}
