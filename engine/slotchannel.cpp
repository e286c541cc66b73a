#include "engine/slotchannel.h"

#include <sys/eventfd.h>
#include <unistd.h>

SlotChannel::SlotChannel()
    : workerFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      windowFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (workerFd_ < 0 || windowFd_ < 0)
        qFatal("Zipvane: no eventfd for a download slot");
}

SlotChannel::~SlotChannel()
{
    ::close(workerFd_);
    ::close(windowFd_);
}

void SlotChannel::wake(int fd, bool wasEmpty)
{
    if (wasEmpty)
        eventfd_write(fd, 1);
}

void SlotChannel::clear(int fd)
{
    eventfd_t count;
    eventfd_read(fd, &count);  // nothing to read is as good
}

void SlotChannel::pushCommand(SlotCommand command)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const bool wasEmpty = commands_.empty();
    commands_.push_back(std::move(command));
    lock.unlock();
    wake(workerFd_, wasEmpty);
}

void SlotChannel::pushReport(SlotReport report)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const bool wasEmpty = reports_.empty();
    reports_.push_back(std::move(report));
    lock.unlock();
    wake(windowFd_, wasEmpty);
}

std::deque<SlotCommand> SlotChannel::takeCommands()
{
    // Emptied before the take: a push after it finds the queue empty and
    // wakes us again, so nothing waits unseen.
    clear(workerFd_);
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(commands_, {});
}

std::deque<SlotReport> SlotChannel::takeReports()
{
    clear(windowFd_);
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(reports_, {});
}

bool SlotChannel::haltAndWait(int limitMs)
{
    SlotCommand halt;
    halt.kind = SlotCommand::Kind::Halt;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        halt.ticket = ++haltsAsked_;
    }
    const quint64 ticket = halt.ticket;
    pushCommand(std::move(halt));
    // Cannot deadlock: a worker never waits for the window. It may hang in
    // the kernel, though (a write to a disk that no longer answers): then we
    // stop waiting and the caller gives the worker up.
    std::unique_lock<std::mutex> lock(mutex_);
    return haltDone_.wait_for(lock, std::chrono::milliseconds(limitMs),
                              [&] { return haltsRun_ >= ticket || workerGone_; });
}

void SlotChannel::halted(quint64 ticket)
{
    // Told under the lock: the window wakes only after we are done with the
    // condition, so it may destroy it as soon as it likes.
    const std::lock_guard<std::mutex> lock(mutex_);
    haltsRun_ = std::max(haltsRun_, ticket);
    haltDone_.notify_all();
}

void SlotChannel::farewell()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    workerGone_ = true;
    haltDone_.notify_all();
}

void SlotChannel::awaitFarewell()
{
    std::unique_lock<std::mutex> lock(mutex_);
    haltDone_.wait(lock, [&] { return workerGone_; });
}
