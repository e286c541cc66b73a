#include "engine/endreason.h"

QString endReasonText(EndReason reason)
{
    switch (reason) {
    case EndReason::UserCancel:
        return QStringLiteral("用户取消");
    case EndReason::ConnectTimeout:
        return QStringLiteral("连接服务器时间过长");
    case EndReason::ProxyTimeout:
        return QStringLiteral("连接代理服务器时间过长");
    case EndReason::SocketClosed:
        return QStringLiteral("winsock关闭");
    case EndReason::SocketError:
        return QStringLiteral("Winsock出错");
    case EndReason::Stall:
        return QStringLiteral("超时");
    case EndReason::NotFound:
        return QStringLiteral("文件未找到！");
    case EndReason::BadAnswer:
    case EndReason::Refused:
        return QStringLiteral("请求时出错");
    case EndReason::WriteFailed:
        return QStringLiteral("写入文件出错");
    case EndReason::ServerChanged:
        return QStringLiteral("服务器上的文件已改变");
    case EndReason::LocalChanged:
        return QStringLiteral("本地文件已改变");
    case EndReason::CertificateRefused:
        return QStringLiteral("证书无法验证");
    case EndReason::ProxyRefused:
        return QStringLiteral("代理服务器拒绝连接");
    case EndReason::RedirectFailed:
        return QStringLiteral("重定向失败");
    case EndReason::BodyDone:
        return QStringLiteral("服务器发送完毕");
    }
    return {};
}

bool isTransient(EndReason reason)
{
    switch (reason) {
    case EndReason::SocketClosed:
    case EndReason::SocketError:
    case EndReason::Stall:
    case EndReason::ConnectTimeout:
    case EndReason::ProxyTimeout:
        return true;
    default:
        return false;
    }
}

bool isRefusal(EndReason reason)
{
    return reason == EndReason::CertificateRefused || reason == EndReason::ProxyRefused
           || reason == EndReason::ServerChanged || reason == EndReason::NotFound
           || reason == EndReason::Refused;
}
