#pragma once
// The download slots: the sessions Down(1..2), the sockets Wsock(1..2), the
// rows they download DownRow(1..2), ending a session (CloseSocket), the
// socket events and the progress timer's tick. It reaches its window only
// through DownHost.
#include "engine/clsdown.h"
#include "engine/downhost.h"
#include "engine/downsocket.h"
#include "engine/progress.h"

#include <QMap>

#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

class DownEngine : public QObject {
    Q_OBJECT
public:
    using SocketFactory = std::function<DownSocket *(int index, QObject *parent)>;

    explicit DownEngine(DownHost &host, SocketFactory makeSocket = {}, QObject *parent = nullptr);
    ~DownEngine() override;

    DownHost &host() { return host_; }

    std::shared_ptr<clsDown> &Down(int slot) { return down_[slot]; }
    DownSocket &Wsock(int slot) { return *wsock_[slot]; }
    // The row each slot downloads, 0 when none (indices 1 and 2 are used).
    std::array<qint16, 4> DownRow{0, 0, 0, 0};

    // A slot is free when its socket is closed and it downloads no row.
    bool slotFree(int slot) const;
    // Releases the slot's session and puts a new idle one there.
    std::shared_ptr<clsDown> newSession(int slot);

    // Starts task `row` on the free `slot`, writing to `filePath`: a new
    // session filled from the task record, the row "start", its map drawn
    // afresh, "开始下载：" logged, then StartDown. The record keeps the path
    // once the request is out. A record that names a proxy without a usable
    // port, or an unusable URL, starts nothing; a failed connection leaves
    // the row "error".
    enum class StartResult { Started, BadUrl, BadProxyPort, ConnectFailed };
    StartResult StartTask(int slot, int row, const QString &filePath);

    // The one way a session ends: completion rule, state key, one log line,
    // socket closed, slot freed.
    void CloseSocket(int Index, const QString &ClsStr);
    // Ends `session`. When it no longer holds its slot (a newer session took
    // the slot over) only its own log line is written: the newer session's
    // socket, row state and slot stay as they are.
    void CloseSocket(const std::shared_ptr<clsDown> &session, const QString &ClsStr);

    // One second of the progress timer: elapsed times and the activity dots'
    // steps and colours, which the window draws; the speed samples; a
    // session silent for a minute ended; a retry that is due started.
    void Timer1Tick();

    // The figures of the download on `slot`; empty texts where there are none.
    struct Progress {
        QString percent, speed, timeLeft;
    };
    Progress progressOf(int slot) const;

    // A session of known size that ends early through no fault of the
    // answer is started again after 5, 10, 20, 40 and 80 s (or the server's
    // Retry-After, up to 300 s); then the row stays "error". A start by the
    // user, a stop or a deletion forgets the row's retries.
    static constexpr int MaxRetries = 5;
    bool retryPending(int row) const { return retries_.value(row).dueMs >= 0; }
    void forgetRetries(int row) { retries_.remove(row); }
    // Black at first; once a cycle is complete, red and green in turn.
    enum class Dot { Black, Red, Green };
    int DotStep(int slot) const { return dotStep_[slot]; }
    Dot DotColor(int slot) const { return dotColor_[slot]; }

    // Lets pending events run four times; the first blocks until an event
    // arrives or a short tick passes, so a wait does not spin a core.
    void processEventsRound();

    // Socket events.
    void Wsock_Connect(int Index);
    void Wsock_DataArrival(int Index, qint64 bytesTotal);
    void Wsock_Close(int Index);
    void Wsock_Error(int Index, int Number, const QString &Description);
    void Wsock_CertificateRefused(int Index, const QString &why);
    void Wsock_TunnelRefused(int Index, const QString &statusLine);

private:
    // Follows the redirect `session` on `Index` was answered with, or ends
    // it as "error" saying why not.
    void followRedirect(int Index, const std::shared_ptr<clsDown> &session);
    // Ends `session` as if it ran on `slot`; the slot's socket, row and
    // state are touched only while the session still holds that slot.
    void CloseSocket(const std::shared_ptr<clsDown> &session, int slot, const QString &ClsStr);

    // Decides, as `session` on row `row` ends with `reason`, whether and when
    // to start it again.
    void scheduleRetry(const clsDown &session, int row, const QString &reason);
    // Starts the first due retry on a free slot.
    void startDueRetry(qint64 now);

    struct Retry {
        int tries = 0;      // retries so far
        qint64 dueMs = -1;  // -1: none waiting
    };
    QMap<int, Retry> retries_;  // by row
    bool startingRetry_ = false;
    std::array<ProgressMeter, 3> meters_;
    DownHost &host_;
    std::array<std::shared_ptr<clsDown>, 3> down_;
    std::array<DownSocket *, 3> wsock_{};
    std::array<int, 3> dotStep_{0, 0, 0};
    std::array<Dot, 3> dotColor_{Dot::Black, Dot::Black, Dot::Black};
    QTimer waitTick_;
    int waiting_ = 0;
};
