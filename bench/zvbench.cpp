// zvbench: drives the real main window under the offscreen platform for the
// measurements in bench/run.py. Each mode prints one line of key=value
// figures on standard output and exits 0 when its work came out right.
// ZV_BENCH_CA names a CA certificate (PEM) to trust for https, besides the
// system's.
//
//   zvbench download URL TARGET [URL TARGET]   one download, or two at once
//   zvbench stall URL TARGET [URL TARGET]      the same, with the longest event-loop stall
//   zvbench startup TASKS                      window start-up with a list of TASKS tasks
//   zvbench redraw                             full block-map redraw of the largest task
//   zvbench connectwait                        a connect wait on a listener that never accepts
//   zvbench reopen FILE                        reopening the file per arrival or keeping it open
#include "tasks/tasklistfile.h"
#include "widgets/blockmappanel.h"
#include "widgets/tasklistview.h"
#include "window/frmdown.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// The bench's seams: the real ones, but the save dialog answers with the
// target path it was given and nothing may end the process behind our back.
Seams benchSeams(QStringList *targets)
{
    Seams seams = Seams::real();
    seams.saveFileName = [targets](QWidget *, const QString &, const Seams::SaveAnswer &answer) {
        answer(targets->isEmpty() ? std::nullopt : std::optional(targets->takeFirst()));
    };
    seams.message = [](QWidget *, const QString &text) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    };
    seams.endProgram = [] {};
    seams.openUrl = [](const QString &) {};
    return seams;
}

void showAndWait(frmDown &w)
{
    w.show();
    while (!w.windowHandle() || !w.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
}

// What a double-click on row `row` does.
void doubleClick(frmDown &w, int row)
{
    w.ui().LView->setCurrentItem(w.ui().LView->topLevelItem(row - 1));
    w.LView_DblClick();
}

void waitForBothSlots(frmDown &w)
{
    while (!w.engine().slotFree(1) || !w.engine().slotFree(2))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Downloads every URL into its target at once; true when each record holds
// the whole file.
int runDownloads(const QStringList &args, bool measureStall)
{
    QTemporaryDir listFolder;
    QStringList targets;
    for (int i = 1; i < args.size(); i += 2)
        targets << args[i];
    const QStringList wanted = targets;
    frmDown w(benchSeams(&targets), listFolder.path());
    // ZV_BENCH_CONNECTIONS: connections a task may open (0: 自动, the default).
    if (qEnvironmentVariableIsSet("ZV_BENCH_CONNECTIONS"))
        w.engine().setConnections(qEnvironmentVariableIntValue("ZV_BENCH_CONNECTIONS"));
    showAndWait(w);
    // The block map tab is the one whose painting follows every arrival.
    w.ui().SSTab1Tabs->setCurrentIndex(1);

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worstLateMs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstLateMs = std::max(worstLateMs, now - last - 10);
        last = now;
    });

    // Counted on the slots' own threads, where the sockets report.
    std::atomic<qint64> arrivals{0};
    for (int slot = 1; slot <= 2; ++slot)
        QObject::connect(&w.engine().Wsock(slot), &DownSocket::dataArrival, [&] { ++arrivals; });

    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < args.size(); i += 2)
        w.AddNewUrl(args[i]);
    if (measureStall) {
        clock.start();
        tick.start();
    }
    for (int row = 1; row <= w.rowCount(); ++row)
        doubleClick(w, row);
    waitForBothSlots(w);
    tick.stop();
    const qint64 ms = wall.elapsed();

    // The size column is repainted a little later than counted: wait for it,
    // asleep between events, so the wait costs no CPU of its own.
    QTimer wake;
    wake.start(10);
    const auto shownAll = [&] {
        for (int row = 1; row <= w.rowCount(); ++row) {
            if (w.ui().LView->topLevelItem(row - 1)->text(2)
                != QString::number(QFileInfo(wanted[row - 1]).size()))
                return false;
        }
        return true;
    };
    QElapsedTimer settle;
    settle.start();
    while (!shownAll() && settle.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    bool ok = true;
    for (int row = 1; row <= w.rowCount(); ++row) {
        const qint64 size = QFileInfo(wanted[row - 1]).size();
        const QString shown = w.ui().LView->topLevelItem(row - 1)->text(2);
        if (w.DownTask(row).GotSize != size || size == 0 || shown != QString::number(size)) {
            std::fprintf(stderr, "row %d: GotSize %lld, shown %s, file %lld\n", row,
                         qint64(w.DownTask(row).GotSize), qPrintable(shown), size);
            ok = false;
        }
    }
    std::printf("download_ms=%lld arrivals=%lld", ms, arrivals.load());
    if (measureStall)
        std::printf(" stall_ms=%lld", worstLateMs);
    std::printf("\n");
    return ok ? 0 : 1;
}

int runStartup(int tasks)
{
    QTemporaryDir folder;
    QVector<TaskRecord> records(tasks);
    for (int i = 0; i < tasks; ++i) {
        TaskRecord &r = records[i];
        r.Url = QStringLiteral("http://127.0.0.1/files/task%1.bin").arg(i + 1);
        r.FilePath = folder.filePath(QStringLiteral("task%1.bin").arg(i + 1));
        // Half finished, half unfinished: those look their file up on disk.
        r.FileSize = 1048576;
        r.GotSize = i % 2 ? 1048576 : 0;
    }
    QString error;
    if (!TaskListFile::write(folder.filePath(TaskListFile::FileName), records, &error)) {
        std::fprintf(stderr, "cannot write the list: %s\n", qPrintable(error));
        return 1;
    }
    QStringList none;
    QElapsedTimer clock;
    clock.start();
    frmDown w(benchSeams(&none), folder.path());
    const qint64 builtMs = clock.elapsed();
    showAndWait(w);
    const qint64 shownMs = clock.elapsed();
    std::printf("built_ms=%lld shown_ms=%lld rows=%d\n", builtMs, shownMs, w.rowCount());
    std::fflush(stdout);  // the bench times the whole process up to this line
    return w.rowCount() == tasks ? 0 : 1;
}

int runRedraw()
{
    QTemporaryDir folder;
    QStringList none;
    frmDown w(benchSeams(&none), folder.path());
    showAndWait(w);
    w.ui().SSTab1Tabs->setCurrentIndex(1);
    w.PicVisible(0);
    QCoreApplication::processEvents();
    constexpr qint64 largest = 2147483647;
    std::vector<double> drawMs;
    std::vector<double> paintedMs;
    for (int i = 0; i < 21; ++i) {
        QElapsedTimer clock;
        clock.start();
        w.DrawDownPic(0, 0, largest, i % 2 ? largest : largest / 2);
        drawMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        w.ui().Pic[0]->repaint();
        paintedMs.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(drawMs.begin(), drawMs.end());
    std::sort(paintedMs.begin(), paintedMs.end());
    std::printf("draw_ms=%.3f draw_max_ms=%.3f painted_ms=%.3f painted_max_ms=%.3f\n",
                drawMs[drawMs.size() / 2], drawMs.back(), paintedMs[paintedMs.size() / 2],
                paintedMs.back());
    return 0;
}

// What opening and closing the file for every arrival costs: `bytes` in
// pieces of `piece` bytes, written the way a session writes an arrival, then
// through one file kept open. CPU seconds of each.
int runReopen(const QString &path, qint64 bytes, qint64 piece)
{
    const QByteArray data(piece, 'z');
    const qint64 pieces = bytes / piece;
    auto timed = [&](bool reopen) {
        QFile::remove(path);
        QFile kept(path);
        if (!reopen && !kept.open(QIODevice::ReadWrite))
            return -1.0;
        const double before = cpuSeconds();
        for (qint64 i = 0; i < pieces; ++i) {
            if (reopen) {
                QFile file(path);
                if (!file.open(QIODevice::ReadWrite) || !file.seek(file.size())
                    || file.write(data) != piece || !file.flush())
                    return -1.0;
                file.close();
            } else if (kept.write(data) != piece || !kept.flush()) {
                return -1.0;
            }
        }
        const double cpu = cpuSeconds() - before;
        kept.close();
        QFile::remove(path);
        return cpu;
    };
    // Alternated, so that whatever the page cache is doing weighs on both.
    std::vector<double> reopenedRuns, keptRuns;
    for (int i = 0; i < 3; ++i) {
        reopenedRuns.push_back(timed(true));
        keptRuns.push_back(timed(false));
    }
    std::sort(reopenedRuns.begin(), reopenedRuns.end());
    std::sort(keptRuns.begin(), keptRuns.end());
    const double reopened = reopenedRuns[1];
    const double kept = keptRuns[1];
    std::printf("pieces=%lld reopen_cpu_s=%.3f kept_cpu_s=%.3f per_piece_us=%.1f\n", pieces,
                reopened, kept, 1e6 * (reopened - kept) / double(pieces));
    return reopenedRuns.front() >= 0 && keptRuns.front() >= 0 ? 0 : 1;
}

// A loopback listener with a backlog of 0 whose one queued connection is
// never accepted: every later SYN is dropped, so a connect never completes.
int fullListener(quint16 *port, std::vector<int> *fillers)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0
        || listen(listener, 0) != 0
        || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return -1;
    *port = ntohs(address.sin_port);
    for (int i = 0; i < 3; ++i) {
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<sockaddr *>(&address), length);
        fillers->push_back(filler);
    }
    usleep(200 * 1000);  // the first filler's handshake completes and fills the queue
    return listener;
}

int runConnectWait()
{
    quint16 port = 0;
    std::vector<int> fillers;
    const int listener = fullListener(&port, &fillers);
    if (listener < 0)
        return 1;
    QTemporaryDir folder;
    QStringList targets{folder.filePath(QStringLiteral("never.bin"))};
    frmDown w(benchSeams(&targets), folder.path());
    showAndWait(w);
    w.AddNewUrl(QStringLiteral("http://127.0.0.1:%1/never.bin").arg(port));
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    doubleClick(w, 1);
    // The start returns at once; the wait runs on the event loop until it gives up.
    QEventLoop wait;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &wait, [&] {
        if (w.rowState(1) == QLatin1String("error") || wall.elapsed() > 40000)
            wait.quit();
    });
    look.start(50);
    wait.exec();
    const double seconds = double(wall.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    const bool gaveUp = w.rowState(1) == QLatin1String("error");
    std::printf("wait_s=%.2f cpu_s=%.3f core_pct=%.2f gave_up=%d\n", seconds, cpu,
                100.0 * cpu / seconds, int(gaveUp));
    for (int filler : fillers)
        close(filler);
    close(listener);
    return gaveUp ? 0 : 1;
}

// One download under a speed limit of `bytesPerSecond` for a fixed 20 s of
// wall time: the bytes on disk sampled every 100 ms give the average over
// the whole, the lowest and highest average over any 10 s, and the most
// that came in any one second.
int runLimit(qint64 bytesPerSecond, const QString &url, const QString &target)
{
    QTemporaryDir listFolder;
    QStringList targets{target};
    frmDown w(benchSeams(&targets), listFolder.path());
    showAndWait(w);
    w.engine().setSpeedLimit(bytesPerSecond);
    w.AddNewUrl(url);
    doubleClick(w, 1);
    std::vector<qint64> onDisk;  // one every 100 ms from the double-click
    QElapsedTimer wall;
    wall.start();
    QTimer sample;
    sample.setTimerType(Qt::PreciseTimer);
    QEventLoop loop;
    QObject::connect(&sample, &QTimer::timeout, [&] {
        while (qint64(onDisk.size()) * 100 <= wall.elapsed())
            onDisk.push_back(QFileInfo(target).size());
        if (onDisk.size() > 200)
            loop.quit();
    });
    sample.start(20);
    loop.exec();
    const auto over = [&](int samples, bool highest) {
        double best = highest ? 0 : 1e18;
        for (size_t i = 0; i + samples < onDisk.size(); ++i) {
            const double rate = double(onDisk[i + samples] - onDisk[i]) * 10 / samples;
            best = highest ? std::max(best, rate) : std::min(best, rate);
        }
        return best;
    };
    // The first second is the connection and the first fill; the rest is the limit's.
    std::printf("limit=%lld average=%.0f low10=%.0f high10=%.0f high1=%.0f\n", bytesPerSecond,
                double(onDisk[200] - onDisk[10]) / 19, over(100, false), over(100, true),
                over(10, true));
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zipvane"));
    if (const QString ca = qEnvironmentVariable("ZV_BENCH_CA"); !ca.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(ca);
        QSslConfiguration::setDefaultConfiguration(tls);
    }
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString mode = args.value(0);
    if ((mode == QLatin1String("download") || mode == QLatin1String("stall"))
        && (args.size() == 3 || args.size() == 5))
        return runDownloads(args.mid(1), mode == QLatin1String("stall"));
    if (mode == QLatin1String("startup") && args.size() == 2)
        return runStartup(args[1].toInt());
    if (mode == QLatin1String("redraw"))
        return runRedraw();
    if (mode == QLatin1String("connectwait"))
        return runConnectWait();
    if (mode == QLatin1String("reopen") && args.size() == 2)
        return runReopen(args[1], qint64(1) << 30, 256 * 1024);
    if (mode == QLatin1String("limit") && args.size() == 4)
        return runLimit(args[1].toLongLong(), args[2], args[3]);
    std::fprintf(stderr, "usage: zvbench download|stall|startup|redraw|connectwait|limit ...\n");
    return 2;
}
