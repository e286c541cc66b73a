#pragma once
// One slot's worker, on the slot's own thread: it owns the slot's socket and
// the Transfer of the answer being received, and turns commands from the
// window's thread into socket calls and socket events into reports. It never
// calls the window.
#include "engine/downsocket.h"
#include "engine/slotchannel.h"
#include "engine/transfer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;

class SlotWorker : public QObject {
    Q_OBJECT
public:
    // Takes `socket` as its child.
    SlotWorker(DownSocket *socket, SlotChannel &channel);
    // On the worker's thread, as it ends: the socket goes first.
    ~SlotWorker() override;

    DownSocket &socket() { return *socket_; }
    // Starts watching for commands: called on the worker's own thread, once
    // it runs, so that the watch belongs to that thread from the start.
    void begin();
    // Runs every command queued, in order.
    void takeCommands();

    // Body arrivals that tell the window nothing but a count are reported
    // together, at most this often.
    static constexpr int ProgressMs = 33;
    // Several connections: a piece is split only when both halves are at
    // least this long; 自动 adds connections only while the task brings
    // less than FastEnough a second (one connection that fast is held back
    // by the disk or the processor, not by its path); the map is written at
    // least this often.
    static constexpr qint64 MinPiece = 1024 * 1024;
    static constexpr qint64 FastEnough = 32 * 1024 * 1024;
    static constexpr int MaxConnections = 16;
    static constexpr int GrowMs = 250;
    static constexpr int SaveMapMs = 2000;

private:
    void run(const SlotCommand &command);
    void halt();
    void onConnect();
    void onData();
    // The connection's bytes taken straight into the file; see DownSocket::takeDirect.
    qint64 onDirect(int descriptor, qint64 most);
    // What the window learns of an arrival, and the end of the answer.
    void afterArrival(SaveResult status, qint64 before, bool inHeader, qint64 length);
    void onClose();
    void onError();
    void onCertificateRefused(const QString &why);
    void onTunnelRefused(const QString &statusLine);
    void reportProgress();
    // Fills in the connection, the socket's state (or `state`) and the
    // figures, and queues the report.
    void report(SlotReport r, int state = -1);

    // One further connection of the task, with the piece it fetches.
    struct Link {
        DownSocket *socket = nullptr;
        std::optional<Transfer> transfer;
    };
    // Pieces: the task's other connections, which write its file at their
    // own places while the map records what is on disk.
    bool piecesOn() const { return map_.has_value(); }
    int running() const { return int(links_.size()) + (transfer_ ? 1 : 0); }
    // A connection of the task wrote [before, its count).
    void wrote(const Transfer &t, qint64 before);
    // Whether further connections may join, and how many may run now.
    bool mayJoin() const;
    int allowed() const;
    // The file becomes a set of pieces: the map made (from the prefix on
    // disk) and written before any other connection writes a byte.
    bool enterPieces();
    // Opens one more connection for a free range, or for the upper half of
    // the largest piece still open; false when there is none to take.
    bool openLink();
    void onLinkData(Link *link);
    qint64 onLinkDirect(Link *link, int descriptor, qint64 most);
    // What an arrival on a further connection means; false once it has ended.
    bool afterLinkArrival(Link *link, SaveResult status);
    void onLinkEnd(Link *link);
    // Closes a further connection's socket; its events reach us no more.
    void closeLink(Link &link);
    // A connection ends: its piece done, or given up (the rest goes back).
    void dropLink(Link *link, bool failed);
    // A connection gave up [from, end): the connection just before takes it
    // on when its request covers it, or it waits for the next free one.
    void giveBack(qint64 from, qint64 end);
    // After a connection ended: the task complete, others opened in its
    // place, or, with none left running, the session's end reported.
    void takeOver();
    // The session's end, told the window once: nothing opens after it.
    void endSession(SlotReport::Kind kind, SaveResult status = SaveResult::Nothing);
    void growTick();
    // The first answer's bytes flow: may others join it?
    void firstAnswerFlows();
    // A connection of the task failed or was turned away: no more are added.
    void turnedAway();
    void scheduleProgress();
    bool saveMap();
    void endPieces();

    DownSocket *socket_;
    SlotChannel &channel_;
    SlotCommand where_;  // the last Connect: where every connection goes
    RequestInput input_;
    QString file_;
    QString taskUrl_;
    int connections_ = 1;
    std::optional<PieceMap> map_;
    QList<PieceMap::Range> free_;       // on disk nowhere, fetched by no one
    QList<PieceMap::Range> newRanges_;  // on disk since the last report
    std::vector<std::unique_ptr<Link>> links_;
    qint64 size_ = 0;
    bool primaryFlowed_ = false;
    int cap_ = MaxConnections;  // lowered when the server turns one away
    bool growStopped_ = false;
    bool ending_ = false;                   // the session's end is reported: nothing more opens
    QString validator_;                     // what every further connection asks with
    int target_ = 1;                        // 自动: the connections it has grown to
    QList<QPair<qint64, qint64>> samples_;  // ticks since the last step: when, and bytes on disk
    double speedBefore_ = 0;
    int sinceStep_ = 0;
    QElapsedTimer tickClock_;
    QTimer growTick_{this};
    QTimer saveTick_{this};
    QSocketNotifier *commandWatch_ = nullptr;
    quint64 conn_ = 0;
    std::optional<Transfer> transfer_;
    qint64 reported_ = 0;  // the count the window last heard
    QTimer progress_{this};
    QElapsedTimer sinceProgress_;
};
