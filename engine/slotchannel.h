#pragma once
// What passes between the window's thread and one slot's worker: commands
// one way, reports the other, each queue under the same plain mutex so that
// every hand-over is visible to ThreadSanitizer (Qt's own event queue locks
// with futexes it cannot see). The side that fills an empty queue wakes the
// other side once; the other side then takes everything queued, in order.
#include "engine/transfer.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <deque>
#include <mutex>

struct SlotCommand {
    enum class Kind { Connect, Send, Halt };
    Kind kind = Kind::Halt;
    quint64 conn = 0;  // the connection this is for
    // Connect: where to, and for https the name the certificate must be for
    // and, through a proxy, the tunnel's target and credentials.
    QString host;
    quint16 port = 0;
    QString tlsPeerName, tunnelTarget, tunnelAuthorization;
    // Send: the request text and where the answer's bytes start.
    QString request;
    Transfer::Start start;
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
};

class SlotChannel {
public:
    // Each returns true when the queue was empty: the caller wakes the other side.
    bool pushCommand(SlotCommand command) { return push(commands_, std::move(command)); }
    bool pushReport(SlotReport report) { return push(reports_, std::move(report)); }
    std::deque<SlotCommand> takeCommands() { return take(commands_); }
    std::deque<SlotReport> takeReports() { return take(reports_); }

    // A stop: the worker writes nothing more once this is set.
    std::atomic<bool> stop{false};

private:
    template <typename T>
    bool push(std::deque<T> &queue, T item)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue.push_back(std::move(item));
        return queue.size() == 1;
    }
    template <typename T>
    std::deque<T> take(std::deque<T> &queue)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(queue, {});
    }

    std::mutex mutex_;
    std::deque<SlotCommand> commands_;
    std::deque<SlotReport> reports_;
};
