#include "FlightPlanner.h"

#include "tavrin/tavrin.h"

#include <QRegularExpression>

namespace FlightPlanner {

namespace {

/* Digits with at most one "." between digits: no sign, no exponent, no blank, no "inf". */
bool isPlainNumber(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    return plain.match(text).hasMatch();
}

bool isPercentage(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    bool whole = false;
    return digits.match(text).hasMatch() && text.toInt(&whole) <= 100 && whole;
}

/* The characters before the first "." (the whole text when there is none). */
qsizetype wholePartLength(const QString &text)
{
    return text.left(text.indexOf(QLatin1Char('.'))).size();
}

Plan refuse(Field field, const QString &message, const QString &reason)
{
    Plan plan;
    plan.refused = field;
    plan.message = message;
    plan.reason = reason;
    return plan;
}

/* A field's text is there and has the field's form; the refusal otherwise. */
bool checkForm(const QString &text, Field field, Plan *refusal)
{
    const bool percentage = field == Field::Forward || field == Field::Side;
    if (text.isEmpty()) {
        const QString name = field == Field::Gsd       ? QStringLiteral("GSD")
                             : field == Field::Focal   ? QStringLiteral("焦距")
                             : field == Field::Forward ? QStringLiteral("重叠度")
                                                       : QStringLiteral("旁向重叠度");
        *refusal = refuse(field, QStringLiteral("请输入%1!").arg(name), QStringLiteral("is empty"));
        return false;
    }
    if (percentage ? isPercentage(text) : isPlainNumber(text))
        return true;
    *refusal = refuse(field, QStringLiteral("输入值非法"),
                      percentage ? QStringLiteral("is not a whole percentage from 0 to 100")
                                 : QStringLiteral("is not a plain decimal number (digits with "
                                                  "at most one '.' between them)"));
    return false;
}

} // namespace

Plan calculate(const Inputs &inputs)
{
    Plan refusal;
    if (!checkForm(inputs.gsd, Field::Gsd, &refusal))
        return refusal;
    if (wholePartLength(inputs.gsd) > 3)
        return refuse(Field::Gsd, QStringLiteral("GSD输入应小于1000!"),
                      QStringLiteral("must be less than 1000 cm"));
    /* The focal length's size is judged on its raw text, before its form is. */
    if (wholePartLength(inputs.focal) > 2)
        return refuse(Field::Focal, QStringLiteral("焦距输入应小于100!"),
                      QStringLiteral("has more than two characters before the '.'; the focal "
                                     "length must be less than 100 mm"));
    if (!checkForm(inputs.forward, Field::Forward, &refusal) ||
        !checkForm(inputs.side, Field::Side, &refusal) ||
        !checkForm(inputs.focal, Field::Focal, &refusal))
        return refusal;

    const float gsd = inputs.gsd.toFloat() / 100;
    const float forward = inputs.forward.toFloat() / 100;
    const float side = inputs.side.toFloat() / 100;
    const double focal = inputs.focal.toDouble();
    /* A zero lens or pixel on the ground plans a flight at 0 m: refused like a bad text. */
    if (focal == 0)
        return refuse(Field::Focal, QStringLiteral("焦距应大于0!"),
                      QStringLiteral("must be greater than 0 mm"));
    if (gsd == 0)
        return refuse(Field::Gsd, QStringLiteral("GSD应大于0!"),
                      QStringLiteral("must be greater than 0 cm"));

    /* Below 1000 cm and 100 mm every figure fits an int; the checks above keep them finite. */
    Plan plan;
    plan.altitude = static_cast<int>(q7x_calc_alt_by_GSD(gsd, focal));
    plan.photoBase = static_cast<int>(q7x_calc_baseline(gsd, forward));
    plan.lineSpacing = static_cast<int>(q7x_calc_sidelap(gsd, side));
    return plan;
}

QString metresText(int metres)
{
    return QStringLiteral("%1m").arg(metres);
}

QString gsdForScale(int index)
{
    static const char *const gsd[] = {"5", "10", "20", "50"};
    return index >= 0 && index < 4 ? QString::fromLatin1(gsd[index]) : QString();
}

int scaleForGsd(const QString &gsdText)
{
    bool whole = false;
    const int gsd = gsdText.toInt(&whole);
    if (!whole || gsd < 1)
        return -1;
    if (gsd <= 5)
        return 0;
    if (gsd <= 10)
        return 1;
    return gsd <= 20 ? 2 : 3;
}

QString cappedOverlap(const QString &text)
{
    bool whole = false;
    const int overlap = text.toInt(&whole);
    return whole && overlap > 99 ? QStringLiteral("100") : text;
}

} // namespace FlightPlanner
