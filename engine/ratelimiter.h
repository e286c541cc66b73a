#pragma once
// Download speed limits: one for all downloads together and one for each
// task, in bytes a second (0: none). Each slot draws its bytes from a bucket
// of its own; the window's thread fills the buckets on the engine's clock
// (refill), the slots' threads take from them as they read (take).
//
// A refill shares what the limit for all allows in the time passed equally
// among the slots that are downloading; a slot whose bucket is full (its
// server is slower than its share), or whose task has a lower limit of its
// own, leaves the rest of its share to the others. A bucket holds at most a
// tenth of a second of its rate beyond the time of one refill, so a slot
// that waited cannot make up for it with a burst.
#include <QtGlobal>
#include <array>
#include <mutex>

class RateLimiter {
public:
    static constexpr int Slots = 2;  // keys 1 and 2
    // Nothing is limited: take gives what is wanted.
    static constexpr qint64 Unlimited = -1;

    void setLimit(qint64 allBytesPerSecond);
    qint64 limit() const;
    void setTaskLimit(int slot, qint64 bytesPerSecond);
    // The slot downloads (a connection of its own) or has ended.
    void setActive(int slot, bool active);
    // True when any limit applies to a slot that downloads.
    bool limiting() const;

    // The time is `nowMs` on the engine's clock: the buckets get what the
    // limits allow for the time since the last refill.
    void refill(qint64 nowMs);

    // From a slot's thread: how many of `wanted` bytes the slot may read now
    // (0: none until the next refill), taken from its bucket at once; or
    // `wanted` when nothing limits it. What a read then did not use goes
    // back with giveBack.
    qint64 take(int slot, qint64 wanted);
    void giveBack(int slot, qint64 unused);

private:
    struct Bucket {
        qint64 taskLimit = 0;
        bool active = false;
        double tokens = 0;
    };
    bool limited(const Bucket &b) const { return all_ > 0 || b.taskLimit > 0; }
    // The most a slot may get: its task's limit where that is lower.
    qint64 rateOf(const Bucket &b) const
    {
        return b.taskLimit > 0 && (all_ == 0 || b.taskLimit < all_) ? b.taskLimit : all_;
    }

    mutable std::mutex mutex_;
    qint64 all_ = 0;
    qint64 lastMs_ = -1;
    std::array<Bucket, Slots + 1> buckets_{};
};
