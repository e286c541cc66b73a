#pragma once
// The download slots: the sessions Down(1..2), the sockets Wsock(1..2), the
// rows they download DownRow(1..2), ending a session (CloseSocket), the
// connect wait, retries, the socket events and the progress timer's tick.
// It runs on the window's thread and moves tasks through the TaskModel; it
// reaches its window only through DownHost and its own signals. Each slot's
// socket and bytes run on a worker thread of their own (docs/threads.md).
// Nothing here waits for an event: the connect wait is a state with a
// deadline, and every answer is a report handled when it comes.
#include "engine/clsdown.h"
#include "engine/downhost.h"
#include "engine/downsocket.h"
#include "engine/endreason.h"
#include "engine/progress.h"
#include "engine/ratelimiter.h"
#include "engine/slotchannel.h"
#include "engine/taskmodel.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class QThread;
class SlotWorker;

class DownEngine : public QObject {
    Q_OBJECT
public:
    // Makes the socket of slot `index`; it is given no parent, since slots 1
    // and 2 move theirs to their own threads.
    using SocketFactory = std::function<DownSocket *(int index, QObject *parent)>;

    DownEngine(DownHost &host, TaskModel &model, SocketFactory makeSocket = {},
               QObject *parent = nullptr);
    ~DownEngine() override;

    DownHost &host() { return host_; }
    TaskModel &model() { return model_; }

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
    // session filled from the task record, the task connecting, its map
    // drawn afresh, "开始下载：" logged, then the connect. The record keeps
    // the path once the request is out. A record that names a proxy without
    // a usable port, or an unusable URL, starts nothing. `byUser`: the
    // user's own start, which takes a 删除 mark away and whose failure to
    // connect startFailed reports.
    enum class StartResult { Started, BadUrl, BadProxyPort, ConnectFailed };
    StartResult StartTask(int slot, int row, const QString &filePath, bool byUser = true);

    // The user's stop of the download on `slot`: during the connect wait it
    // gives the wait up; once the request is out it ends the session.
    void stopSlot(int slot);

    // The one way a session ends: completion rule, the task's next state,
    // one log line, socket closed, slot freed, a retry booked if it may.
    void CloseSocket(int Index, EndReason reason);
    void CloseSocket(const std::shared_ptr<clsDown> &session, EndReason reason);

    // One second of the progress timer: elapsed times and the activity dots'
    // steps and colours, which the window draws; the speed samples; a
    // session that received nothing of its body for a minute ended; a retry
    // that is due started.
    void Timer1Tick();

    // The figures of the download on `slot`; empty texts where there are none.
    struct Progress {
        QString percent, speed, timeLeft;
    };
    Progress progressOf(int slot) const;

    // A session of known size that ends early through no fault of the
    // answer is started again after 5, 10, 20, 40 and 80 s (or the server's
    // Retry-After, up to 300 s); then the task is in error. A try that got
    // bytes counts the tries from the start again. A start by the user, a
    // stop or a deletion forgets the task's retries.
    static constexpr int MaxRetries = 5;
    bool retryPending(int row) const { return model_.state(row) == TaskState::WaitingRetry; }

    // The queue: whenever a slot is free, the model's first queued task
    // starts on it, to the path its record holds (a task without one that
    // can be trusted leaves the queue stopped). With `on`, a retry that
    // falls due joins the head of the queue; without, it starts when a slot
    // is free, as it always did.
    void setQueueRetries(bool on) { queueRetries_ = on; }
    void startQueued();
    // 全部停止: the queue emptied, the retries booked cancelled, every
    // running download stopped.
    void stopAll();

    // Black at first; once a cycle is complete, red and green in turn.
    enum class Dot { Black, Red, Green };
    int DotStep(int slot) const { return dotStep_[slot]; }
    Dot DotColor(int slot) const { return dotColor_[slot]; }

    // What a session asks of its slot's worker: connect (a new connection,
    // whose earlier reports are dropped from then on), and send the request
    // once connected, the answer to be read from `start` on.
    void connectSlot(int slot, SlotCommand connect);
    void sendRequest(int slot, const QString &request, const Transfer::Start &start,
                     const RequestInput &input, const std::optional<PieceMap> &pieces);

    // Connections one task may open at once: 1 to 16, or 0 for 自动.
    void setConnections(int n) { connections_ = n; }
    int connections() const { return connections_; }
    // A session's connect wait has begun: its deadline is watched from now.
    void watchConnectWait();

    // The program is ending: nothing starts, follows a redirect or retries
    // from now on, and both slots' workers are collected, so that the
    // counts equal the files when the list is written.
    void shutDown();
    bool closing() const { return closing_; }

    // The speed limit for all downloads together, in bytes a second (0:
    // none); each task's own is its record's SpeedLimit, taken as its
    // download starts or when setTaskSpeedLimit says it changed.
    void setSpeedLimit(qint64 bytesPerSecond);
    qint64 speedLimit() const { return limiter_->limit(); }
    void taskSpeedLimitChanged(int row);
    // Fills the slots' speed buckets for the time passed on the host's
    // clock; a timer calls it while a limit applies.
    void limitTick();

    // How long a stop waits for a slot's thread before it gives the thread
    // up (its bytes are never counted twice).
    void setHaltLimitMs(int ms) { haltLimitMs_ = ms; }

    // Socket events, as the slot's worker reports them.
    void Wsock_Connect(int Index, const QString &remoteHostIP);
    void Wsock_Close(int Index);
    void Wsock_Error(int Index, int Number, const QString &Description);
    void Wsock_CertificateRefused(int Index, const QString &why);
    void Wsock_TunnelRefused(int Index, const QString &statusLine);

Q_SIGNALS:
    // The start on `slot` could not connect (the task is in error or waits
    // for a retry); `byUser`: the user's own start, which the window answers.
    void startFailed(int slot, bool byUser);
    // The 时间 text of a running task.
    void timeShown(int row, const QString &text);

private:
    // Collects the slot's worker: its writing stopped, its connection
    // dropped and every report it made taken, so that the counts equal the
    // file.
    void collect(int slot);
    // Takes the slot's reports queued so far, in order; a report may end a
    // session, follow a redirect, or collect the slot again meanwhile.
    void drain(int slot);
    void handleReport(int slot, const SlotReport &r);
    // An arrival that means more than its count: what the header said, or
    // how the answer ended.
    void Wsock_DataArrival(int Index, const SlotReport &r);
    // Brings a report's figures into the session, its record and its map.
    void takeFigures(int slot, clsDown &session, const SlotReport &r);
    // The same for a file written in pieces.
    void takePieces(int slot, clsDown &session, const SlotReport &r);
    void command(int slot, SlotCommand c);
    // The worker stops writing and drops its connection; reports stay queued.
    void halt(int slot);
    // Step 5 of CloseSocket: the slot's connection ends, its reports are void.
    void closeSlot(int slot);

    // A worker, its thread and its channel for `slot`.
    void makeWorker(int slot);
    // The slot's worker did not answer a halt: it is left to finish on its
    // own, nothing it reports is read, and a new worker takes the slot.
    void abandonWorker(int slot);

    // The connect wait of the session on `slot` is over without a request:
    // its own end line (unless a refusal said it all), the task in error or
    // waiting for its retry, startFailed.
    void endConnectWait(int slot, const std::shared_ptr<clsDown> &session, bool timedOut);
    // The task of a start that did not connect: in error, unless it waits
    // for a retry or runs on the other slot; then startFailed.
    void failStart(int slot, const std::shared_ptr<clsDown> &session);
    // Every session still waiting: sent, given up or timed out.
    void checkConnectWaits();

    // Follows the redirect `session` on `Index` was answered with, or ends
    // it as "error" saying why not.
    void followRedirect(int Index, const std::shared_ptr<clsDown> &session);
    void CloseSocket(const std::shared_ptr<clsDown> &session, int slot, EndReason reason);

    // What becomes of the task on `row` as `session` ends with `reason`:
    // complete, waiting for a retry, in error or stopped.
    void endTask(const clsDown &session, int row, EndReason reason);
    // The first answer since the task's address was changed; `otherFile`:
    // it is another file than the one on disk (the log says so).
    void urlChangeAnswered(const clsDown &session, bool otherFile);
    // Books a retry when one may be made; false when none is.
    bool bookRetry(const clsDown &session, int row, EndReason reason);
    // Starts the first due retry on a free slot, or queues the due ones.
    void startDueRetry(qint64 now);
    // Starts the queued task `row` on the free `slot`, or takes it out of
    // the queue when it cannot start.
    void startFromQueue(int slot, int row);

    struct Worker {
        std::unique_ptr<SlotChannel> channel;
        SlotWorker *worker = nullptr;
        QThread *thread = nullptr;
        QSocketNotifier *reportWatch = nullptr;
    };
    void endWorker(Worker &w, bool wait);

    DownHost &host_;
    TaskModel &model_;
    SocketFactory makeSocket_;
    std::array<ProgressMeter, 3> meters_;
    std::array<std::shared_ptr<clsDown>, 3> down_;
    std::array<DownSocket *, 3> wsock_{};
    std::array<Worker, 3> workers_;  // slots 1 and 2 only
    std::vector<Worker> abandoned_;  // given up, perhaps still hanging
    std::array<int, 3> socketState_{};
    std::array<quint64, 3> conn_{};  // the connection reported on; 0: none
    quint64 lastConn_ = 0;
    std::array<bool, 3> halted_{true, true, true};
    std::array<bool, 3> collecting_{};
    std::array<std::deque<SlotReport>, 3> inbox_;  // taken, not yet handled
    std::array<int, 3> dotStep_{0, 0, 0};
    std::array<Dot, 3> dotColor_{Dot::Black, Dot::Black, Dot::Black};
    QTimer connectTick_;
    // Shared with both slots' sockets, which may outlive an abandoned worker.
    std::shared_ptr<RateLimiter> limiter_ = std::make_shared<RateLimiter>();
    QTimer limitTick_;
    // The limit tick runs while a limit applies to a slot that downloads.
    void watchLimits();
    QTimer queueTick_;  // a state changed: a slot may have freed, or a task queued
    bool queueRetries_ = false;
    bool closing_ = false;
    int haltLimitMs_ = 2000;
    int connections_ = 0;
};
