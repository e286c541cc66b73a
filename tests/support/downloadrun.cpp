#include "support/downloadrun.h"

#include "engine/downengine.h"

#include <QTest>

bool startTask(DownEngine &engine, int slot, int row, std::shared_ptr<clsDown> *session)
{
    DownHost &host = engine.host();
    const std::shared_ptr<clsDown> s = engine.newSession(slot);
    if (session)
        *session = s;
    const TaskRecord &r = host.task(row);
    s->DownUrl = r.Url;
    if (!s->AnalyzeUrl())
        return false;
    if (!r.FilePath.isEmpty())
        s->mFile = r.FilePath;
    s->WhichDown = qint16(row);
    s->WhichSocket = qint16(slot);
    s->mFlen = r.FileSize;
    s->ReceiveBytes = r.GotSize;
    s->mProxy = r.ProxyHost;
    s->mProxyPort = r.ProxyPort;
    s->mProxyId = r.ProxyUser;
    s->mProxyPass = r.ProxyPass;
    host.setRowState(row, QStringLiteral("start"));
    engine.DownRow[slot] = qint16(row);
    host.DrawDownPic(slot, 0, r.FileSize, r.GotSize);
    host.appendLog(QStringLiteral("开始下载：") + r.Url);
    if (s->StartDown())
        return true;
    host.setRowState(s->WhichDown, QStringLiteral("error"));
    host.appendLog(QStringLiteral("Wisock") + QString::number(slot) + QStringLiteral("连接服务器失败！！"));
    // A newer start may own the slot by now; its row entry is not ours.
    if (engine.Down(slot) == s)
        engine.DownRow[slot] = 0;
    return false;
}

bool waitUntilEnded(const std::shared_ptr<clsDown> &session, int timeoutMs)
{
    return QTest::qWaitFor([&] { return !session->bBusy; }, timeoutMs);
}

bool runTask(DownEngine &engine, int slot, int row, int timeoutMs)
{
    std::shared_ptr<clsDown> session;
    return startTask(engine, slot, row, &session) && waitUntilEnded(session, timeoutMs);
}
