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
#include <functional>
#include <optional>

class SlotWorker : public QObject {
    Q_OBJECT
public:
    // Takes `socket` as its child. `wakeWindow` is called, on this thread,
    // when a report goes into an empty queue.
    SlotWorker(DownSocket *socket, SlotChannel &channel, std::function<void()> wakeWindow);

    DownSocket &socket() { return *socket_; }
    // Runs every command queued, in order (on this worker's thread).
    void takeCommands();

    // Body arrivals that tell the window nothing but a count are reported
    // together, at most this often.
    static constexpr int ProgressMs = 33;

private:
    void run(const SlotCommand &command);
    void halt();
    void onConnect();
    void onData();
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
    std::function<void()> wakeWindow_;
    quint64 conn_ = 0;
    std::optional<Transfer> transfer_;
    qint64 reported_ = 0;  // the count the window last heard
    QTimer progress_{this};
    QElapsedTimer sinceProgress_;
};
