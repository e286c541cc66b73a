#include "engine/ratelimiter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// What a bucket may hold beyond one refill's worth.
constexpr qint64 SlackMs = 100;

}  // namespace

void RateLimiter::setLimit(qint64 allBytesPerSecond)
{
    const std::lock_guard lock(mutex_);
    all_ = std::max<qint64>(0, allBytesPerSecond);
}

qint64 RateLimiter::limit() const
{
    const std::lock_guard lock(mutex_);
    return all_;
}

void RateLimiter::setTaskLimit(int slot, qint64 bytesPerSecond)
{
    const std::lock_guard lock(mutex_);
    buckets_.at(slot).taskLimit = std::max<qint64>(0, bytesPerSecond);
}

void RateLimiter::setActive(int slot, bool active)
{
    const std::lock_guard lock(mutex_);
    Bucket &b = buckets_.at(slot);
    b.active = active;
    if (!active)
        b.tokens = 0;
}

bool RateLimiter::limiting() const
{
    const std::lock_guard lock(mutex_);
    for (int s = 1; s <= Slots; ++s) {
        if (buckets_[s].active && limited(buckets_[s]))
            return true;
    }
    return false;
}

void RateLimiter::refill(qint64 nowMs)
{
    const std::lock_guard lock(mutex_);
    if (lastMs_ < 0 || nowMs < lastMs_) {
        lastMs_ = nowMs;
        return;
    }
    const double seconds = double(nowMs - lastMs_) / 1000;
    // After a long pause (a clock stepped far, a machine woken up), no
    // bucket holds more than a second or so.
    const double fill = std::min(seconds, 1.0);
    const double slack = double(SlackMs) / 1000;
    lastMs_ = nowMs;
    // What each downloading slot can take in: its bucket's room, and no
    // more than its task's own limit allows for the time passed.
    constexpr double none = std::numeric_limits<double>::infinity();
    std::array<double, Slots + 1> wants{};
    for (int s = 1; s <= Slots; ++s) {
        Bucket &b = buckets_[s];
        if (!b.active || !limited(b)) {
            b.tokens = 0;
            continue;
        }
        const double room = std::max(0.0, double(rateOf(b)) * (fill + slack) - b.tokens);
        wants[s] = std::min(room, b.taskLimit > 0 ? double(b.taskLimit) * seconds : none);
    }
    if (all_ == 0) {
        for (int s = 1; s <= Slots; ++s)
            buckets_[s].tokens += wants[s];
        return;
    }
    // The limit for all, shared equally; what one slot cannot take goes to
    // the others.
    double pool = double(all_) * seconds;
    for (int round = 0; round <= Slots; ++round) {  // each round satisfies a slot or ends
        int hungry = 0;
        for (int s = 1; s <= Slots; ++s)
            hungry += wants[s] > 0;
        if (hungry == 0 || pool <= 0)
            break;
        const double share = pool / hungry;
        for (int s = 1; s <= Slots; ++s) {
            if (wants[s] <= 0)
                continue;
            const double given = std::min(share, wants[s]);
            buckets_[s].tokens += given, wants[s] -= given, pool -= given;
        }
    }
}

qint64 RateLimiter::take(int slot, qint64 wanted)
{
    const std::lock_guard lock(mutex_);
    Bucket &b = buckets_.at(slot);
    if (!limited(b))
        return wanted;
    const qint64 given = std::min(wanted, qint64(std::floor(b.tokens)));
    b.tokens -= double(std::max<qint64>(0, given));
    return std::max<qint64>(0, given);
}

void RateLimiter::giveBack(int slot, qint64 unused)
{
    const std::lock_guard lock(mutex_);
    Bucket &b = buckets_.at(slot);
    // Never more than a second's worth: the take may have been made before
    // a limit was set.
    if (limited(b) && unused > 0)
        b.tokens = std::min(b.tokens + double(unused), double(rateOf(b)));
}
