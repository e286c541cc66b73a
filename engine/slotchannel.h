#pragma once
// What passes between the window's thread and one slot's worker: commands
// one way, reports the other, under one plain mutex, and an eventfd each way
// that wakes the other side. Nothing of ours crosses threads through Qt's
// event queue: its locks are futexes ThreadSanitizer cannot see, so every
// hand-over here is one it can check. The side that fills an empty queue
// wakes the other once; the other then takes everything queued, in order.
#include "engine/transfer.h"
#include "tasks/piecemap.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

struct SlotCommand {
    enum class Kind { Connect, Send, Halt };
    Kind kind = Kind::Halt;
    quint64 conn = 0;    // the connection this is for
    quint64 ticket = 0;  // Halt: what the window waits for
    // Connect: where to, and for https the name the certificate must be for
    // and, through a proxy, the tunnel's target and credentials.
    QString host;
    quint16 port = 0;
    QString tlsPeerName, tunnelTarget, tunnelAuthorization;
    // Send: the request text, and the plan it was made from with the file.
    QString request;
    Transfer::Start start;
    // Send: what further connections of the task ask with (each request is
    // made from it, for its own range), how many may run at once (0: 自动),
    // and the map of the pieces already on disk, when the file has one.
    RequestInput input;
    int connections = 1;
    std::optional<PieceMap> pieces;
    QString taskUrl;  // named in a new map
};

struct SlotReport {
    enum class Kind {
        Connected,
        Arrival,
        Progress,
        Closed,
        Error,
        CertificateRefused,
        TunnelRefused
    };
    Kind kind = Kind::Progress;
    quint64 conn = 0;
    int socketState = 0;  // the socket's State() after this
    // Connected: the remote address. Certificate or tunnel refused: why.
    // Arrival in the header: the whole answer so far.
    QString text;
    // The figures after it, while an answer is being received (figures set);
    // onDisk is already in the file.
    bool figures = false;
    SaveResult status = SaveResult::Nothing;
    qint64 length = 0;      // a length read in this arrival (Flen), else 0
    qint64 rangeStart = 0;  // the count before this arrival
    qint64 onDisk = 0;
    qint64 mFlen = 0;
    bool mSizeOpen = false;
    bool inHeader = false;
    bool startedOver = false;
    bool bodyDone = false;
    bool serverBusy = false;
    qint64 retryAfter = -1;
    QByteArray location;
    // What names the file on disk from now on: set with the arrival whose
    // header was taken (or, when that answer starts the file over, whose
    // first body byte did so). Empty: the file now has no validator.
    std::optional<QString> validator;
    // Several connections write the file (pieceMode): the ranges newly on
    // disk since the last report, and how many connections run now.
    bool pieceMode = false;
    QList<PieceMap::Range> pieces;
    int connections = 0;
    // Where the file is from now on, when it took the server's name.
    std::optional<QString> renamedTo;
};

class SlotChannel {
public:
    SlotChannel();
    ~SlotChannel();
    SlotChannel(const SlotChannel &) = delete;
    SlotChannel &operator=(const SlotChannel &) = delete;

    // Readable while the worker, or the window, has something to take: each
    // side watches its own with a QSocketNotifier of its own thread.
    int workerFd() const { return workerFd_; }
    int windowFd() const { return windowFd_; }

    void pushCommand(SlotCommand command);
    void pushReport(SlotReport report);
    // Everything queued for this side, oldest first.
    std::deque<SlotCommand> takeCommands();
    std::deque<SlotReport> takeReports();

    // The window's side of a halt: queues it and waits until the worker has
    // run it (and so has queued every report it will make before it), for
    // at most `limitMs`; false when the worker did not answer in that time.
    bool haltAndWait(int limitMs);
    // The worker's side: the halt `ticket` has been run.
    void halted(quint64 ticket);
    // The worker's last act, and the window's wait for it before the channel
    // goes. QThread::wait() would do, but Qt's threads are detached and meet
    // there on a futex: this way ThreadSanitizer sees the order too.
    void farewell();
    void awaitFarewell();

    // A stop: the worker writes nothing more once this is set.
    std::atomic<bool> stop{false};

private:
    // Makes `fd` readable when `wasEmpty`, or empties it before a take.
    static void wake(int fd, bool wasEmpty);
    static void clear(int fd);

    std::mutex mutex_;
    std::condition_variable haltDone_;
    std::deque<SlotCommand> commands_;
    std::deque<SlotReport> reports_;
    quint64 haltsAsked_ = 0, haltsRun_ = 0;
    bool workerGone_ = false;
    int workerFd_ = -1, windowFd_ = -1;
};
