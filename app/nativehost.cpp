// zipvane-native-host: what a browser's extension starts to hand a link to
// Zipvane. It reads messages on stdin, hands each link to the program that
// holds the task list (starting it, detached, when none runs) and answers
// each on stdout with {"ok":true} or {"ok":false,"error":…}. The browser
// gives it the extension's origin (or manifest and id) as arguments: they
// are not needed, since only the extensions the host's manifest allows
// can start it.
#include "tasks/listlocation.h"
#include "tasks/nativemessage.h"
#include "window/outsideurls.h"
#include "window/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The program beside the host (a build folder), else the installed one.
QString programPath()
{
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath("zipvane");
    return QFileInfo(beside).isExecutable() ? beside : QStringLiteral(ZV_INSTALLED_PROGRAM);
}

// Started in a session of its own with no terminal and no pipe of ours:
// the browser ends the host, never the program, and reads no byte of its.
bool startDetached(const QString &program)
{
    const QByteArray path = QFile::encodeName(program);
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        setsid();
        if (fork() != 0)
            _exit(0);
        const int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd)
            dup2(null, fd);
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        execl(path.constData(), path.constData(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void reply(const QString &error)
{
    const QByteArray bytes = NativeMessage::frame(NativeMessage::answer(error));
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// What became of one link, in the log's words; empty when it was added.
QString handOver(SingleInstance &instance, const UrlMessage::Item &item)
{
    UrlMessage::Outcome outcome = UrlMessage::Outcome::Unusable;
    switch (instance.deliver(item, outcome, [] { return startDetached(programPath()); })) {
    case SingleInstance::Claim::HandedOver:
        return outsideUrlRefusal(outcome);
    case SingleInstance::Claim::TooLarge:
        return QStringLiteral("消息太长，无法交给迅羽");
    case SingleInstance::Claim::Foreign:
        return QStringLiteral("迅羽的套接字属于另一个用户，没有发送");
    case SingleInstance::Claim::Owner:
    case SingleInstance::Claim::NoAnswer:
        break;
    }
    return QStringLiteral("迅羽没有应答");
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zipvane"));
    // The list the program would choose, from its own folder.
    const ListLocation where
        = chooseListLocation(QFileInfo(programPath()).absolutePath(),
                             QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    SingleInstance instance(where.path);

    QByteArray buffer;
    char chunk[65536];
    for (;;) {
        NativeMessage::Frame f = NativeMessage::unframe(buffer);
        if (f.status == NativeMessage::FrameStatus::TooLarge) {
            // The rest of it cannot be told from the next message: the end.
            reply(QStringLiteral("消息超过1 MiB"));
            return 1;
        }
        if (f.status == NativeMessage::FrameStatus::Complete) {
            buffer.remove(0, f.consumed);
            const NativeMessage::Request request = NativeMessage::parse(f.payload);
            reply(request.error.isEmpty() ? handOver(instance, request.item) : request.error);
            continue;
        }
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n > 0) {
            buffer.append(chunk, n);
            continue;
        }
        if (buffer.isEmpty())
            return 0;  // the browser closed the pipe between messages
        reply(QStringLiteral("消息不完整"));
        return 1;
    }
}
