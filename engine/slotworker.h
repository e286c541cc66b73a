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

class QSocketNotifier;
#include <optional>

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

    DownSocket *socket_;
    SlotChannel &channel_;
    QSocketNotifier *commandWatch_ = nullptr;
    quint64 conn_ = 0;
    std::optional<Transfer> transfer_;
    qint64 reported_ = 0;  // the count the window last heard
    QTimer progress_{this};
    QElapsedTimer sinceProgress_;
};
