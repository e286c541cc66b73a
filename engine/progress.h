#pragma once
// A running download's figures: how much is done, how fast it goes and how
// long is left, from its count sampled once a tick.
#include <QString>
#include <deque>

class ProgressMeter {
public:
    // The count at `nowMs`; samples older than the last few seconds fall out.
    void sample(qint64 nowMs, qint64 bytes);
    void reset() { samples_.clear(); }
    // Bytes a second over the samples kept; 0 until there are two.
    double speed() const;

private:
    std::deque<std::pair<qint64, qint64>> samples_;
};

namespace Figures {

// "45.2%"; empty when the size is not known.
QString percent(qint64 got, qint64 size);
// Three significant digits in B/s, KB/s, MB/s or GB/s (1024 to the next).
QString speed(double bytesPerSecond);
// "hh:mm:ss" (more hours take more digits).
QString clock(qint64 seconds);
// The time left as a clock; empty when the size is not known or nothing moves.
QString timeLeft(qint64 got, qint64 size, double bytesPerSecond);

}  // namespace Figures
