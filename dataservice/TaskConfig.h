/*
 * "Taskconfig.xml" in the data folder: the settings of the current transfer
 * (lens sources, save folder, POS tables, options) and whether it completed,
 * so that an interrupted transfer can be resumed with its own options. The
 * file is written whole to a temporary name and renamed (mode 0600: it holds
 * the zip password).
 */
#ifndef DATASERVICE_TASKCONFIG_H
#define DATASERVICE_TASKCONFIG_H

#include "Geotagger.h"

#include <QList>
#include <QString>
#include <array>
#include <optional>

struct TaskConfig {
    /* One lens, by disk number (LensTable). */
    struct Pan {
        QString path; /* the lens's photo folder; empty: not offloaded */
        int planCount = 0;
        int hasCount = 0;
        bool hasTask = false; /* zipPath and zipName are written only then */
        QString zipPath;
        QString zipName;
    };
    /* One POS table as loaded. */
    struct PosTable {
        QString path;
        QList<quint32> times;
        QList<GeoPosition> positions;
    };

    std::array<Pan, 5> pans;
    QString saveDir;
    QList<PosTable> pose;
    bool sorties = false;
    bool split = false;
    QString splitValue; /* as typed, e.g. "4GB" or "700MB"; empty when not split */
    bool usePassword = false;
    QString password;
    bool success = false; /* tasksuccess */

    /* The file in the data folder. */
    static QString path(const QString &dataDir);

    /* Write the file (temporary name, rename, mode 0600); false with `error`. */
    bool write(const QString &file, QString *error) const;

    /*
     * Read a file written by write(). Nothing, with `error` saying why, when it
     * is missing, not XML, cut short, of another layout, or names values that
     * cannot be (a negative count, a position that is not a number).
     */
    static std::optional<TaskConfig> read(const QString &file, QString *error);
};

#endif
