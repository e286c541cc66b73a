#include "support/downloadrun.h"

bool startTask(DownEngine &engine, int slot, int row, std::shared_ptr<clsDown> *session)
{
    const std::shared_ptr<clsDown> s = engine.newSession(slot);
    if (session)
        *session = s;
    const TaskRecord &r = engine.host().task(row);
    s->DownUrl = r.Url;
    if (!s->AnalyzeUrl())
        return false;
    // Filled in the order the session expects: file, row and slot, counts, proxy.
    s->mFile = r.FilePath, s->WhichDown = qint16(row), s->WhichSocket = qint16(slot);
    s->mFlen = r.FileSize, s->ReceiveBytes = r.GotSize;
    s->mProxy = r.ProxyHost, s->mProxyPort = r.ProxyPort, s->mProxyId = r.ProxyUser, s->mProxyPass = r.ProxyPass;
    engine.host().setRowState(row, QStringLiteral("start"));
    engine.DownRow[slot] = qint16(row);
    return s->StartDown();
}
