#include "support/realservers.h"

#include <QTcpServer>

quint16 freeLoopbackPort()
{
    QTcpServer server;
    for (int attempt = 0; attempt < 200; ++attempt)
        if (server.listen(QHostAddress::LocalHost,
                          20000 + QRandomGenerator::global()->bounded(12000)))
            return server.serverPort();
    return 0;
}
