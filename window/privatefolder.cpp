#include "window/privatefolder.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

enum class Check { Usable, Missing, Foreign, Open };

#ifdef Q_OS_UNIX
// lstat, so that a link is judged itself and never followed to its target.
Check check(const QString &path)
{
    struct stat status {};
    if (lstat(QFile::encodeName(path).constData(), &status) != 0)
        return Check::Missing;
    if (status.st_uid != getuid())
        return Check::Foreign;
    if (!S_ISDIR(status.st_mode) || (status.st_mode & 077) != 0)
        return Check::Open;
    return Check::Usable;
}
#endif

}  // namespace

PrivateFolder privateRuntimeFolder()
{
#ifdef Q_OS_UNIX
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && check(runtime) == Check::Usable)
        return {runtime, {}, false};

    const QString own = QDir::tempPath() + QStringLiteral("/zipvane-") + QString::number(getuid());
    mkdir(QFile::encodeName(own).constData(), 0700);  // may be there already: checked next
    switch (check(own)) {
    case Check::Usable:
        return {own, {}, false};
    case Check::Missing:
        return {{}, QStringLiteral("无法创建文件夹：") + own, false};
    case Check::Foreign:
        return {{}, QStringLiteral("文件夹属于另一个用户：") + own, true};
    case Check::Open:
        return {{}, QStringLiteral("文件夹不是本用户专用的：") + own, false};
    }
    return {};
#else
    return {QDir::tempPath(), {}, false};
#endif
}
