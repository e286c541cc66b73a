#pragma once
// The download slots: the sessions Down(1..2), the sockets Wsock(1..2), the
// rows they download DownRow(1..2), ending a session (CloseSocket), the
// socket events and the progress timer's tick. It runs on the window's
// thread and reaches its window only through DownHost; each slot's socket
// and bytes run on a worker thread of their own (docs/threads.md).
#include "engine/clsdown.h"
#include "engine/downhost.h"
#include "engine/downsocket.h"
#include "engine/progress.h"
#include "engine/slotchannel.h"

#include <QMap>

#include <QObject>
#include <QTimer>
#include <array>
#include <deque>
#include <functional>
#include <memory>

class QSocketNotifier;
class QThread;
class SlotWorker;

class DownEngine : public QObject {
    Q_OBJECT
public:
    // Makes the socket of slot `index`; it is given no parent, since slots 1
    // and 2 move theirs to their own threads.
    using SocketFactory = std::function<DownSocket *(int index, QObject *parent)>;

    explicit DownEngine(DownHost &host, SocketFactory makeSocket = {}, QObject *parent = nullptr);
    ~DownEngine() override;

    DownHost &host() { return host_; }

    std::shared_ptr<clsDown> &Down(int slot) { return down_[slot]; }
    // Lives on the slot's thread: connect to its signals, never call it.
    DownSocket &Wsock(int slot) { return *wsock_[slot]; }
    // The slot's socket state as the window knows it: connecting from a
    // connect on, closed from a close on, and otherwise as the socket last
    // reported it.
    int socketState(int slot) const { return socketState_[slot]; }
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

    // What a session asks of its slot's worker: connect (a new connection,
    // whose earlier reports are dropped from then on), and send the request
    // once connected, the answer to be read from `start` on.
    void connectSlot(int slot, SlotCommand connect);
    void sendRequest(int slot, const QString &request, const Transfer::Start &start);
    // Collects the slot's worker: its writing stopped, its connection
    // dropped and every report it made taken, so that the counts equal the
    // file. CloseSocket does this itself; closing the program does it for both.
    void collect(int slot);
    void collectAll();

    // Socket events, as the slot's worker reports them.
    void Wsock_Connect(int Index, const QString &remoteHostIP);
    void Wsock_Close(int Index);
    void Wsock_Error(int Index, int Number, const QString &Description);
    void Wsock_CertificateRefused(int Index, const QString &why);
    void Wsock_TunnelRefused(int Index, const QString &statusLine);

private:
    // Takes the slot's reports queued so far, in order; a report may end a
    // session, follow a redirect, or collect the slot again meanwhile.
    void drain(int slot);
    void handleReport(int slot, const SlotReport &r);
    // An arrival that means more than its count: what the header said, or
    // how the answer ended.
    void Wsock_DataArrival(int Index, const SlotReport &r);
    // Brings a report's figures into the session, its record and its map.
    void takeFigures(int slot, clsDown &session, const SlotReport &r);
    void command(int slot, SlotCommand c);
    // The worker stops writing and drops its connection; reports stay queued.
    void halt(int slot);
    // Step 5 of CloseSocket: the slot's connection ends, its reports are void.
    void closeSlot(int slot);

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
    std::array<SlotChannel, 3> channels_;
    std::array<SlotWorker *, 3> workers_{};  // slots 1 and 2 only
    std::array<QSocketNotifier *, 3> reportWatch_{};
    std::array<QThread *, 3> threads_{};
    std::array<int, 3> socketState_{};
    std::array<quint64, 3> conn_{};  // the connection reported on; 0: none
    quint64 lastConn_ = 0;
    std::array<bool, 3> halted_{true, true, true};
    std::array<bool, 3> collecting_{};
    std::array<std::deque<SlotReport>, 3> inbox_;  // taken, not yet handled
    std::array<int, 3> dotStep_{0, 0, 0};
    std::array<Dot, 3> dotColor_{Dot::Black, Dot::Black, Dot::Black};
    QTimer waitTick_;
    int waiting_ = 0;
};
