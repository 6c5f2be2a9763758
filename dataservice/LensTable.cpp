#include "LensTable.h"

namespace LensTable {

const std::array<Lens, count> &lenses()
{
    static const std::array<Lens, count> table = {{
        {0,
         QStringLiteral("Center"),
         QStringLiteral("center"),
         {QStringLiteral("Center"), QStringLiteral("CENTER"), QStringLiteral("center")},
         QStringLiteral(":/Orvex/res/center-nor.png"),
         QStringLiteral(":/Orvex/res/center-hor.png")},
        {1,
         QStringLiteral("Left"),
         QStringLiteral("left"),
         {QStringLiteral("Left"), QStringLiteral("LEFT"), QStringLiteral("left")},
         QStringLiteral(":/Orvex/res/left-nor.png"),
         QStringLiteral(":/Orvex/res/left-hor.png")},
        {2,
         QStringLiteral("Right"),
         QStringLiteral("right"),
         {QStringLiteral("Right"), QStringLiteral("right"), QStringLiteral("RIGHT")},
         QStringLiteral(":/Orvex/res/right-nor.png"),
         QStringLiteral(":/Orvex/res/right-hor.png")},
        {3,
         QStringLiteral("Front"),
         QStringLiteral("front"),
         {QStringLiteral("Front"), QStringLiteral("front"), QStringLiteral("FRONT")},
         QStringLiteral(":/Orvex/res/front-nor.png"),
         QStringLiteral(":/Orvex/res/front-hor.png")},
        {4,
         QStringLiteral("Back"),
         QStringLiteral("back"),
         {QStringLiteral("Back"), QStringLiteral("back"), QStringLiteral("BACK")},
         QStringLiteral(":/Orvex/res/back-nor.png"),
         QStringLiteral(":/Orvex/res/back-hor.png")},
    }};
    return table;
}

const Lens &lens(int disk)
{
    return lenses()[static_cast<size_t>(disk)];
}

int diskForLabel(const QString &label)
{
    /* Front first: a label naming two lenses counts as the first lens tested. */
    static const int order[count] = {3, 0, 4, 2, 1};
    for (int disk : order)
        for (const QString &spelling : lens(disk).labels)
            if (label.contains(spelling, Qt::CaseSensitive))
                return disk;
    return -1;
}

int diskForName(const QString &name)
{
    for (const Lens &l : lenses())
        if (name.compare(l.key, Qt::CaseInsensitive) == 0 ||
            (l.disk == 0 && name.compare(QLatin1String("centre"), Qt::CaseInsensitive) == 0))
            return l.disk;
    return -1;
}

} // namespace LensTable
