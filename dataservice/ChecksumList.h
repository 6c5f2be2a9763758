/*
 * "XXH64SUMS" in a lens folder: the XXH64 of each copy, in the form that
 * `xxhsum -c XXH64SUMS` (xxhash 0.8) checks when it runs in that folder, one
 * line per file:
 *
 *   <16 lowercase hex digits><two blanks><file name relative to the folder>\n
 *
 * as `xxhsum -H64 FILE` prints it. Names are written as they are, without
 * escapes; a name holding a line break cannot be written this way and is
 * refused. The list is replaced whole: written to a temporary file beside it,
 * synced, and renamed over it, so it is always either the old or the new list.
 */
#ifndef DATASERVICE_CHECKSUMLIST_H
#define DATASERVICE_CHECKSUMLIST_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace ChecksumList {

struct Entry {
    QString name; /* relative to the folder, '/'-separated */
    quint64 hash = 0;
    bool operator==(const Entry &) const = default;
};

/* "XXH64SUMS" */
QString fileName();

/* The text of a list. */
QByteArray format(const QList<Entry> &entries);

/*
 * The entries of the list in `folder`, in order; none when it has no list.
 * Nothing, with `error` naming the list and the line, when it cannot be read
 * or a line is not of the form above.
 */
std::optional<QList<Entry>> read(const QString &folder, QString *error);

/*
 * Add `entries` to the list in `folder`: a line of the same name is replaced
 * in its place, others are appended in the order given. False with `error`
 * when the list cannot be read or written, or a name is empty, absolute, has
 * a "." or ".." part or a line break; the list is then as it was. Two writers
 * on one folder at once would lose lines: one lens worker owns its folder.
 */
bool update(const QString &folder, const QList<Entry> &entries, QString *error);

} // namespace ChecksumList

#endif
