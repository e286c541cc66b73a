#pragma once
// Which byte ranges of a download are on disk, when several connections
// write it at once, and its control file: "<file>.zvp" beside the download.
// The control file claims only bytes already written; it is replaced whole
// (written aside, then renamed), so a kill leaves the old one or the new
// one, never half of either. While it exists the file may hold holes; it
// goes when the file is whole.
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

struct PiecesOnDisk;

class PieceMap {
public:
    using Range = QPair<qint64, qint64>;  // [first, end)

    explicit PieceMap(qint64 size = 0) : size_(size) {}

    qint64 size() const { return size_; }
    // What the server named this version of the file with (ETag or
    // Last-Modified): a kill may come before the task list has learnt it.
    const QString &validator() const { return validator_; }
    void setValidator(const QString &validator) { validator_ = validator; }
    // The task's URL: a map beside a file is taken for a task the list has
    // no size for only when it is that task's.
    const QString &url() const { return url_; }
    void setUrl(const QString &url) { url_ = url; }
    // Marks [from, end) as on disk; ranges that meet become one.
    void add(qint64 from, qint64 end);
    // The ranges on disk, in order, none touching another.
    const QList<Range> &ranges() const { return ranges_; }
    // Bytes on disk, and those from the file's start without a hole.
    qint64 done() const;
    qint64 prefix() const;
    bool whole() const { return size_ > 0 && prefix() >= size_; }
    // True when all of [from, end) is on disk.
    bool covers(qint64 from, qint64 end) const;
    // Where the first range on disk at or after `at` starts; size() if none.
    qint64 nextDoneFrom(qint64 at) const;
    // The missing ranges, in order.
    QList<Range> holes() const;

    // The control file's text, and reading it back: nullopt for anything
    // that is not a whole, consistent map.
    QByteArray encode() const;
    static std::optional<PieceMap> decode(const QByteArray &bytes);

    static QString controlPath(const QString &file);
    // Writes the control file of `file`: aside first, then renamed over the
    // old one. False when it could not be written.
    bool save(const QString &file) const;
    static void remove(const QString &file);

    // What is on disk for `file` of `size` bytes (0: the task list does not
    // know it; the control file's size is taken when it names `url`). With a
    // control file that reads right, its map: the count is its bytes done
    // (never a count the completion rule would take as whole while a hole
    // remains). With one that does not, or without one while the file has a
    // hole before its end (written by pieces whose map was lost), nothing is
    // trusted: the count is 0 and the file starts over. Otherwise the file
    // is a prefix of its length, as it always was.
    static PiecesOnDisk onDisk(const QString &file, qint64 size, const QString &url = {});

private:
    qint64 size_;
    QString validator_, url_;
    QList<Range> ranges_;
};

struct PiecesOnDisk {
    qint64 count = 0;
    std::optional<PieceMap> map;
    bool untrusted = false;
};
