#include "StatusDisplay.h"

#include <QCoreApplication>

namespace StatusDisplay {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("StatusDisplay", text);
}

/* "1号、4号" followed by the fault words; all five gives the all-broken text. */
QString faultList(const std::array<bool, 5> &faulty)
{
    int count = 0;
    QString numbers;
    for (int bit = 0; bit < 5; ++bit) {
        if (!faulty[static_cast<size_t>(bit)])
            continue;
        if (count++ > 0)
            numbers += tr("、");
        numbers += tr("%1号").arg(bit + 1);
    }
    if (count == 0)
        return QString();
    if (count == 5)
        return tr("5个相机全部故障，请检查");
    return numbers + tr("相机故障，请检查");
}

} // namespace

Strategy strategy(int mode, int fixTime, int distanceInterval)
{
    const QString collecting = tr("采集策略：");
    switch (mode) {
    case 1:
        return {tr("当前策略："), tr("调试模式")};
    case 2:
        return {collecting, tr("定时%1s").arg(QString::number(fixTime / 10, 'f', 2))};
    case 3:
        return {collecting, tr("定距%1m").arg(QString::number(distanceInterval / 10.0, 'f', 1))};
    case 4:
        return {collecting, tr("PWM触发")};
    case 5:
        return {collecting, tr("IO触发")};
    case 6:
        return {collecting, tr("沿触发")};
    default:
        return {collecting, QString()};
    }
}

bool isNewFirmware(int major, int minor)
{
    if (major != 4)
        return major > 4;
    /* The minor is the decimal part: 5 is .5, above .41. Compare its digits with 41's, the
     * shorter padded with zeros. */
    QString digits = QString::number(minor);
    QString reference = QStringLiteral("41");
    const qsizetype width = qMax(digits.size(), reference.size());
    digits = digits.leftJustified(width, QLatin1Char('0'));
    reference = reference.leftJustified(width, QLatin1Char('0'));
    return digits >= reference;
}

Cameras cameras(int major, int minor, int faultMask, int selfCheck)
{
    Cameras result;
    std::array<bool, 5> faulty{};
    if (isNewFirmware(major, minor)) {
        if (selfCheck == 0) {
            result.changed = false;
            result.faultText = tr("          设备自检中");
            return result;
        }
        /* Bit set: the camera reports itself in order. Bits 0-4: top, right, bottom, left, centre.
         */
        static constexpr Icon order[5] = {Top, Right, Bottom, Left, Centre};
        for (int bit = 0; bit < 5; ++bit) {
            faulty[static_cast<size_t>(bit)] = !(faultMask & (1 << bit));
            result.yellow[order[bit]] = faulty[static_cast<size_t>(bit)];
        }
    } else {
        /* Bit set: the camera has fallen behind. Bits 0-4: right, left, top, bottom, centre. */
        static constexpr Icon order[5] = {Right, Left, Top, Bottom, Centre};
        for (int bit = 0; bit < 5; ++bit) {
            faulty[static_cast<size_t>(bit)] = faultMask & (1 << bit);
            result.yellow[order[bit]] = faulty[static_cast<size_t>(bit)];
        }
    }
    result.faultText = faultList(faulty);
    return result;
}

std::optional<QString> gpsText(int gpsFix, int satellites)
{
    if (gpsFix == 1 && satellites < 4)
        return tr("GPS未定位");
    if (gpsFix == 0)
        return tr("GPS硬件故障");
    if (gpsFix == -1)
        return tr("网络断开");
    if (gpsFix == 1)
        return tr("GPS已定位");
    return std::nullopt;
}

} // namespace StatusDisplay
