#pragma once
// Why a session ended. Decisions (retry or not, error or paused) are made on
// this enum; endReasonText is only the text the log shows.
#include <QString>

enum class EndReason {
    UserCancel,      // 用户取消
    ConnectTimeout,  // the connect wait gave up, direct
    ProxyTimeout,    // the connect wait gave up, through a proxy
    SocketClosed,    // the server closed the connection
    SocketError,     // the network failed
    Stall,           // nothing of the body for a minute
    NotFound,        // 404
    BadAnswer,       // an answer that cannot be used
    Refused,         // a 4xx a later try would not change
    WriteFailed,     // the local file refused a write
    ServerChanged,   // the server has another file now
    LocalChanged,    // the local file was changed by someone else
    CertificateRefused,
    ProxyRefused,  // the proxy refused the tunnel
    RedirectFailed,
    BodyDone,  // the whole declared body has arrived
};

QString endReasonText(EndReason reason);

// The network or the server's load ended it: a later try may well succeed.
bool isTransient(EndReason reason);

// The server, the path or the file on the server said no for good: the task
// is in error, not paused.
bool isRefusal(EndReason reason);
