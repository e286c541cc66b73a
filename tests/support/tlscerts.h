#pragma once
// Certificates made for one test run with the openssl command: a CA the test
// process trusts, a server certificate for 127.0.0.1 signed by it, one for the
// name "localhost" alone (not for its address), and bad ones (self-signed,
// expired, for another host name), all with one key.
#include <QString>

struct TestCertificates {
    QString error;  // empty when everything was made
    QString ca, key, good, localhost, selfSigned, expired, otherHost;
};

// Makes them in `folder` and adds the CA to this process's default TLS
// configuration (never to the system's store).
TestCertificates makeTestCertificates(const QString &folder);
