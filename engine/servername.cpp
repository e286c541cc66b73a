#include "engine/servername.h"

#include "engine/response.h"
#include "tasks/filenames.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Makes the file at `path`, failing where anything is already there: two
// slots naming their files at the same moment cannot both get the same name.
enum class Claim { Made, Taken, Failed };
Claim claim(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno == EEXIST ? Claim::Taken : Claim::Failed;
    ::close(fd);
    return Claim::Made;
}

}  // namespace

std::optional<QString> claimServerName(QByteArrayView header, const QString &path,
                                       const QStringList &otherTasksPaths)
{
    const auto disposition = Response::contentDisposition(header);
    if (!disposition)
        return std::nullopt;
    const auto given = FileNames::fromContentDisposition(*disposition);
    if (!given)
        return std::nullopt;
    const QFileInfo current(path);
    const QString name = FileNames::safe(*given, current.fileName());
    if (name == current.fileName())
        return std::nullopt;
    bool failed = false;
    const QString chosen
        = FileNames::freePath(current.path(), name, [&](const QString &candidate) {
              if (failed)
                  return false;  // ends the search; the answer is dropped below
              if (otherTasksPaths.contains(candidate))
                  return true;
              switch (claim(candidate)) {
              case Claim::Made:
                  return false;
              case Claim::Taken:
                  return true;
              case Claim::Failed:
                  failed = true;
                  return false;
              }
              return false;
          });
    if (failed || chosen == path)
        return std::nullopt;
    return chosen;
}
