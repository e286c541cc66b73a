#include "tasks/savefile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SaveFile {

namespace {

bool fail(QString *error, const QString &what, const QString &path)
{
    const int code = errno;
    if (error)
        *error = what + QLatin1Char(' ') + path + QStringLiteral(": ")
                 + QString::fromLocal8Bit(std::strerror(code));
    return false;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t done = ::write(fd, at, size_t(left));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = EIO;
            return false;
        }
        at += done;
        left -= done;
    }
    return true;
}

// The rename itself is on the disk only once its folder is. A file system
// that cannot sync a folder (EINVAL) keeps it in order by other means.
bool syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

}  // namespace

bool replace(const QString &path, const QByteArray &bytes, QString *error)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    struct stat old {};
    const bool existed = ::stat(target.constData(), &old) == 0;
    // mkstemp makes the file its owner's only, whatever the umask.
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return fail(error, QStringLiteral("cannot create a file beside"), path);
    const auto giveUp = [&](const QString &what) {
        const int code = errno;
        ::close(fd);
        ::unlink(temporary.constData());
        errno = code;
        return fail(error, what, path);
    };
    if (existed && ::fchmod(fd, old.st_mode & 07777) != 0)
        return giveUp(QStringLiteral("cannot keep the mode of"));
    if (!writeAll(fd, bytes))
        return giveUp(QStringLiteral("cannot write"));
    if (::fsync(fd) != 0)
        return giveUp(QStringLiteral("cannot sync"));
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(temporary.constData());
        errno = code;
        return fail(error, QStringLiteral("cannot close"), path);
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int code = errno;
        ::unlink(temporary.constData());
        errno = code;
        return fail(error, QStringLiteral("cannot rename over"), path);
    }
    if (!syncFolder(QFile::encodeName(QFileInfo(path).absolutePath())))
        return fail(error, QStringLiteral("cannot sync the folder of"), path);
    return true;
}

bool remove(const QString &path, QString *error)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        return fail(error, QStringLiteral("cannot remove"), path);
    return syncFolder(QFile::encodeName(QFileInfo(path).absolutePath()))
           || fail(error, QStringLiteral("cannot sync the folder of"), path);
}

}  // namespace SaveFile
