/*
 * The photo tool's work, without widgets: find the photos of a folder tree and
 * reset the EXIF orientation of each to 1 (normal), in process through the
 * same EXIF writer as geotagging. The page's worker thread and orvex-cli
 * both run it.
 *
 * A photo is rewritten only when its orientation changes: the new photo goes
 * to a temporary file beside it, which is flushed and renamed over it, so a
 * crash leaves the old photo or the new one, never half of one. The file
 * keeps its mode (and its owner where the process may set it). Only the
 * orientation tag changes; a JPEG's image data is copied byte for byte. A
 * photo without EXIF or without the tag gets the tag with 1, as the
 * exiv2 "set" command would.
 */
#ifndef TOOLS_ORIENTATIONRESET_H
#define TOOLS_ORIENTATIONRESET_H

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

struct OrientationFailure {
    QString path;   /* the photo, or a sub-folder that could not be listed */
    QString reason; /* English, one line */
};

struct OrientationSummary {
    int found = 0;     /* photos collected (those that could be opened by name) */
    int changed = 0;   /* rewritten with orientation 1 */
    int unchanged = 0; /* already 1: left as they were */
    QList<OrientationFailure> failures;
    QString error;        /* why the folder itself could not be listed; nothing was done */
    bool stopped = false; /* the run was asked to stop before the last photo */
};

namespace OrientationReset {

/* Whether `fileName` has one of the suffixes the tool takes: exactly jpg, JPG, jpeg or png. */
bool isPhotoName(const QString &fileName);

/*
 * The photos under `folder`, in the tool's order: a folder's own files first
 * (hidden ones included; symbolic links are neither taken nor followed, so
 * nothing outside the tree is touched and a link cannot make a loop), sorted
 * by name, then what each of its sub-folders contributes in the same way, the
 * sub-folders sorted by name. Only isPhotoName() files are kept. False with
 * `error` saying why when `folder` is not a folder that can be listed. A
 * sub-folder that cannot be listed, and a photo or folder whose name is not
 * valid UTF-8 (it cannot be opened by a decoded name), go to `failures`.
 */
bool collectPhotos(const QString &folder, QStringList *photos, QList<OrientationFailure> *failures,
                   QString *error);

enum class Result { Changed, Unchanged, Failed };

/* Resets the orientation of the photo at `path` to 1; `reason` is set when it fails. */
Result resetPhoto(const QString &path, QString *reason);

/*
 * The whole run over `folder`: collects the photos, calls `counted` with their
 * number, then resets each in turn, calling `progress` after every photo.
 * `stop` (when given) is asked before each photo; once it says true the run
 * ends there. Callbacks run on the caller's thread.
 */
OrientationSummary run(const QString &folder, const std::function<void(int count)> &counted,
                       const std::function<void(int done, int total)> &progress,
                       const std::function<bool()> &stop = {});

} // namespace OrientationReset

#endif
