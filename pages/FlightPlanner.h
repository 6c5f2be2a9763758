/*
 * The collection assistant's decisions, shared by its page and orvex-cli plan:
 * the checks of the four input texts in the page's order, the flight
 * altitude, photo base and line spacing from Tavrin's survey calculations,
 * and the rules that tie the scale to the GSD field and cap the overlaps.
 */
#ifndef PAGES_FLIGHTPLANNER_H
#define PAGES_FLIGHTPLANNER_H

#include <QString>
#include <QStringList>

namespace FlightPlanner {

/* The input texts as the page's fields hold them. */
struct Inputs {
    QString gsd;     /* wanted ground sample distance, centimetres */
    QString focal;   /* focal length, millimetres */
    QString forward; /* forward overlap, whole percent */
    QString side;    /* side overlap, whole percent */
};

enum class Field { None, Gsd, Focal, Forward, Side };

/* One calculation: the three figures, or the first check that refused an input. */
struct Plan {
    Field refused = Field::None; /* the field whose text was refused; None when computed */
    QString message;             /* the page's warning (Chinese) */
    QString reason;              /* the same in English, for orvex-cli */
    int altitude = 0;            /* metres, truncated toward zero */
    int photoBase = 0;           /* distance between exposures along a line, metres */
    int lineSpacing = 0;         /* distance between lines, metres */

    bool ok() const { return refused == Field::None; }
};

/*
 * Check the texts in the page's order and compute the figures. Every text
 * must be a plain number (digits with at most one inner "."; the overlaps
 * whole percentages up to 100), the GSD less than 1000 cm and the focal
 * length less than 100 mm; an empty field, a zero GSD and a zero focal length
 * are refused too. A refused plan carries no figures.
 */
Plan calculate(const Inputs &inputs);

/* A figure as the page shows it: "448m". */
QString metresText(int metres);

/* The scale choices in the page's order. */
inline const QStringList scales = {QStringLiteral("1:500"), QStringLiteral("1:1000"),
                                   QStringLiteral("1:2000"), QStringLiteral("1:5000")};
/* The GSD text (cm) that choosing scale `index` puts into the GSD field; empty when out of range.
 */
QString gsdForScale(int index);
/* The scale an edited GSD text selects, as an index of `scales`; -1 leaves the scale as it is. */
int scaleForGsd(const QString &gsdText);
/* An edited overlap text as the field keeps it: a whole number above 99 becomes "100". */
QString cappedOverlap(const QString &text);

/* The overlaps the page starts with, and orvex-cli plan's defaults. */
inline const QString defaultForward = QStringLiteral("80");
inline const QString defaultSide = QStringLiteral("70");

} // namespace FlightPlanner

#endif
