/* The commands of orvex-cli: each takes the words after its name and returns the exit status. */
#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

#include <QString>
#include <QStringList>

struct Command {
    const char *name;
    const char *summary;
    int (*run)(const QStringList &args);
};

int runPos(const QStringList &args);
int runCards(const QStringList &args);
int runOffload(const QStringList &args);
int runClear(const QStringList &args);
int runOrientation(const QStringList &args);
int runStatus(const QStringList &args);
int runStrategy(const QStringList &args);
int runShutter(const QStringList &args);
int runUpgrade(const QStringList &args);
int runPlan(const QStringList &args);
int runVerify(const QStringList &args);

inline const Command commands[] = {
    {"status", "the camera's identity, strategy, exposure counts and faults", runStatus},
    {"strategy", "send a shutter-release strategy as the strategy pages do", runStrategy},
    {"shutter", "one test exposure on all cameras, with the counts before and after", runShutter},
    {"pos", "list, download and delete the camera's POS files; USB POS files; read tables", runPos},
    {"cards", "the lens cards found by their volume labels", runCards},
    {"offload", "copy the lens cards into a save folder, geotagging every photo", runOffload},
    {"verify", "re-read a save folder's copies; tell which lens cards are safe to clear",
     runVerify},
    {"clear", "format the lens cards as exFAT and give them back their card files", runClear},
    {"orientation", "reset the EXIF orientation of a folder tree's photos to 1", runOrientation},
    {"upgrade", "send a firmware file to the camera's controller, with progress", runUpgrade},
    {"plan", "flight altitude, photo base and line spacing for a GSD and a lens", runPlan},
};

#endif
