#include "engine/progress.h"

#include <cmath>

namespace {

// Long enough to smooth the bursts of a network, short enough to follow a change.
constexpr qint64 WindowMs = 5000;

}  // namespace

void ProgressMeter::sample(qint64 nowMs, qint64 bytes)
{
    samples_.emplace_back(nowMs, bytes);
    while (samples_.size() > 2 && samples_.front().first < nowMs - WindowMs)
        samples_.pop_front();
}

double ProgressMeter::speed() const
{
    if (samples_.size() < 2 || samples_.back().first <= samples_.front().first)
        return 0;
    return double(samples_.back().second - samples_.front().second) * 1000
           / double(samples_.back().first - samples_.front().first);
}

namespace Figures {

QString percent(qint64 got, qint64 size)
{
    if (size <= 0)
        return {};
    const double done = 100.0 * double(qBound<qint64>(0, got, size)) / double(size);
    return QString::number(std::floor(done * 10) / 10, 'f', 1) + QLatin1Char('%');
}

QString speed(double bytesPerSecond)
{
    static const char *const units[] = {"B/s", "KB/s", "MB/s", "GB/s"};
    double value = qMax(0.0, bytesPerSecond);
    int unit = 0;
    while (value >= 999.5 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    const int decimals = value < 0.9995 ? 3 : value < 9.995 ? 2 : value < 99.95 ? 1 : 0;
    return QString::number(value, 'f', decimals) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

QString timeLeft(qint64 got, qint64 size, double bytesPerSecond)
{
    if (size <= 0 || bytesPerSecond <= 0)
        return {};
    return clock(qint64(std::ceil(double(qMax<qint64>(0, size - got)) / bytesPerSecond)));
}

QString clock(qint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace Figures
