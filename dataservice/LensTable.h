/*
 * The five lenses of the camera as the image data service knows them: the
 * volume labels that mark each lens's card, the word that names its folder in
 * the save directory, the key that names its files, and its disk number (the
 * index of its offload task).
 */
#ifndef DATASERVICE_LENSTABLE_H
#define DATASERVICE_LENSTABLE_H

#include <QString>
#include <QStringList>
#include <array>

struct Lens {
    int disk;           /* Centre 0, Left 1, Right 2, Front 3, Back 4 */
    QString word;       /* "Center": the lens's folder in the save directory */
    QString key;        /* "center": Taskconfig.xml element, task and information files */
    QStringList labels; /* volume labels of its card, as tested */
    QString iconNormal;
    QString iconSelected;
};

namespace LensTable {

constexpr int count = 5;

/* The lenses in disk-number order: Centre, Left, Right, Front, Back. */
const std::array<Lens, count> &lenses();
const Lens &lens(int disk);

/*
 * The lens a volume label marks, or -1: the label must contain one of the
 * lens's label spellings (case-sensitive), lenses tested in the order Front,
 * Centre, Back, Right, Left, so "FrontLeft" is Front and "CeNtEr" nothing.
 */
int diskForLabel(const QString &label);

/* The lens a user names ("center", "Left", "FRONT"...): disk number or -1. */
int diskForName(const QString &name);

} // namespace LensTable

#endif
