#include "tasks/piecemap.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QByteArray Magic = "Zipvane pieces 1";
const QByteArray EndLine = "end";
const QByteArray ValidatorKey = "validator ";
const QByteArray UrlKey = "url ";

// A hole before the end of the file: bytes never written, which a file
// grown only at its end cannot have. File systems that store no holes
// report none, and then the length is all there is to go by.
bool holdsHole(const QString &file)
{
    const QByteArray path = QFile::encodeName(file);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    const off_t hole = end > 0 ? ::lseek(fd, 0, SEEK_HOLE) : end;
    ::close(fd);
    return end > 0 && hole >= 0 && hole < end;
}

}  // namespace

void PieceMap::add(qint64 from, qint64 end)
{
    from = qMax<qint64>(0, from);
    if (size_ > 0)
        end = qMin(end, size_);
    if (end <= from)
        return;
    QList<Range> merged;
    merged.reserve(ranges_.size() + 1);
    bool placed = false;
    for (const Range &r : std::as_const(ranges_)) {
        if (r.second < from) {
            merged << r;
        } else if (end < r.first) {
            if (!placed)
                merged << Range(from, end), placed = true;
            merged << r;
        } else {
            from = qMin(from, r.first);
            end = qMax(end, r.second);
        }
    }
    if (!placed)
        merged << Range(from, end);
    ranges_ = std::move(merged);
}

qint64 PieceMap::done() const
{
    qint64 n = 0;
    for (const Range &r : ranges_)
        n += r.second - r.first;
    return n;
}

qint64 PieceMap::prefix() const
{
    return !ranges_.isEmpty() && ranges_.first().first == 0 ? ranges_.first().second : 0;
}

bool PieceMap::covers(qint64 from, qint64 end) const
{
    for (const Range &r : ranges_) {
        if (r.first <= from && end <= r.second)
            return true;
    }
    return end <= from;
}

qint64 PieceMap::nextDoneFrom(qint64 at) const
{
    for (const Range &r : ranges_) {
        if (r.first >= at)
            return r.first;
    }
    return size_;
}

QList<PieceMap::Range> PieceMap::holes() const
{
    QList<Range> out;
    qint64 at = 0;
    for (const Range &r : ranges_) {
        if (r.first > at)
            out << Range(at, r.first);
        at = r.second;
    }
    if (at < size_)
        out << Range(at, size_);
    return out;
}

QByteArray PieceMap::encode() const
{
    QByteArray text = Magic + "\nsize " + QByteArray::number(size_) + '\n';
    if (!validator_.isEmpty())
        text += ValidatorKey + validator_.toUtf8() + '\n';
    if (!url_.isEmpty())
        text += UrlKey + url_.toUtf8() + '\n';
    for (const Range &r : ranges_)
        text += QByteArray::number(r.first) + '-' + QByteArray::number(r.second) + '\n';
    return text + EndLine + '\n';
}

std::optional<PieceMap> PieceMap::decode(const QByteArray &bytes)
{
    const QList<QByteArray> lines = bytes.split('\n');
    // Magic, size, the ranges, "end", and the empty rest after the last break.
    if (lines.size() < 4 || lines[0] != Magic || !lines[1].startsWith("size ")
        || lines[lines.size() - 2] != EndLine || !lines.last().isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 size = lines[1].mid(5).toLongLong(&ok);
    if (!ok || size <= 0)
        return std::nullopt;
    PieceMap map(size);
    qsizetype first = 2;
    if (lines[first].startsWith(ValidatorKey))
        map.validator_ = QString::fromUtf8(lines[first++].mid(ValidatorKey.size()));
    if (lines[first].startsWith(UrlKey))
        map.url_ = QString::fromUtf8(lines[first++].mid(UrlKey.size()));
    qint64 at = -1;
    for (qsizetype i = first; i < lines.size() - 2; ++i) {
        const QList<QByteArray> ends = lines[i].split('-');
        bool okFrom = false, okEnd = false;
        const qint64 from = ends.size() == 2 ? ends[0].toLongLong(&okFrom) : -1;
        const qint64 end = ends.size() == 2 ? ends[1].toLongLong(&okEnd) : -1;
        // In order, apart, inside the file: what encode() writes, nothing else.
        if (!okFrom || !okEnd || from <= at || end <= from || end > size)
            return std::nullopt;
        map.ranges_ << Range(from, end);
        at = end;
    }
    return map;
}

QString PieceMap::controlPath(const QString &file)
{
    return file + QStringLiteral(".zvp");
}

bool PieceMap::save(const QString &file) const
{
    const QString path = controlPath(file);
    const QString aside = path + QStringLiteral(".new");
    QFile out(aside);
    const QByteArray text = encode();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(text) != text.size()
        || !out.flush()) {
        out.close();
        QFile::remove(aside);
        return false;
    }
    out.close();
    const QByteArray from = QFile::encodeName(aside), to = QFile::encodeName(path);
    return ::rename(from.constData(), to.constData()) == 0;
}

void PieceMap::remove(const QString &file)
{
    QFile::remove(controlPath(file));
    QFile::remove(controlPath(file) + QStringLiteral(".new"));
}

PiecesOnDisk PieceMap::onDisk(const QString &file, qint64 size, const QString &url)
{
    PiecesOnDisk result;
    if (file.isEmpty())
        return result;
    const QFileInfo info(file);
    const qint64 length = info.isFile() ? info.size() : 0;
    QFile control(controlPath(file));
    if (control.exists()) {
        std::optional<PieceMap> map;
        if (control.open(QIODevice::ReadOnly))
            map = decode(control.readAll());
        // A map of another size (or of another task, when the list has no
        // size), or one claiming bytes past the file's end, is not this file's.
        if (!map || (size > 0 ? map->size() != size : map->url() != url)
            || (!map->ranges().isEmpty() && map->ranges().last().second > length)) {
            result.untrusted = true;
            return result;
        }
        const qint64 done = map->done(), total = map->size();
        result.count = map->whole() ? total : qMax<qint64>(0, qMin(done, total - 2));
        result.map = std::move(map);
        return result;
    }
    if (holdsHole(file)) {
        result.untrusted = true;
        return result;
    }
    result.count = length;
    return result;
}
