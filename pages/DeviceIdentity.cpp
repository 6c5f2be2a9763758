#include "DeviceIdentity.h"

#include "shell/CameraFields.h"
#include "shell/StatusDisplay.h"

#include <optional>

namespace DeviceIdentity {

namespace {

/* A version number split into its whole part and its decimals, without padding zeros. */
struct Decimal {
    QString whole;    /* no leading zeros: "" for 0 */
    QString decimals; /* no trailing zeros: "" for .0 */
};

bool allDigits(const QString &text)
{
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

std::optional<Decimal> parse(const QString &text)
{
    const QString trimmed = text.trimmed();
    const qsizetype point = trimmed.indexOf(QLatin1Char('.'));
    Decimal number;
    number.whole = point < 0 ? trimmed : trimmed.left(point);
    number.decimals = point < 0 ? QString() : trimmed.mid(point + 1);
    if (number.whole.isEmpty() || !allDigits(number.whole) || !allDigits(number.decimals) ||
        (point >= 0 && number.decimals.isEmpty()))
        return std::nullopt;
    while (number.whole.startsWith(QLatin1Char('0')))
        number.whole.remove(0, 1);
    while (number.decimals.endsWith(QLatin1Char('0')))
        number.decimals.chop(1);
    return number;
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

QString versionNumber(int major, int minor)
{
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}

QString versionText(int major, int minor)
{
    return QStringLiteral("V") + versionNumber(major, minor);
}

QString hardwareText(int modelFlag)
{
    return QStringLiteral("V%1.0").arg(modelFlag);
}

bool isVersionNumber(const QString &text)
{
    return parse(text).has_value();
}

int compareVersions(const QString &a, const QString &b)
{
    const std::optional<Decimal> x = parse(a);
    const std::optional<Decimal> y = parse(b);
    if (!x || !y)
        return int(x.has_value()) - int(y.has_value());
    /* Whole parts without leading zeros: the longer is the larger. */
    if (x->whole.size() != y->whole.size())
        return x->whole.size() < y->whole.size() ? -1 : 1;
    if (const int whole = x->whole.compare(y->whole))
        return sign(whole);
    /* Decimals digit by digit, the shorter padded with zeros: .5 > .41. */
    const qsizetype digits = qMax(x->decimals.size(), y->decimals.size());
    for (qsizetype i = 0; i < digits; ++i) {
        const QChar p = i < x->decimals.size() ? x->decimals.at(i) : QLatin1Char('0');
        const QChar q = i < y->decimals.size() ? y->decimals.at(i) : QLatin1Char('0');
        if (p != q)
            return p < q ? -1 : 1;
    }
    return 0;
}

bool isNewFirmware(int major, int minor)
{
    return StatusDisplay::isNewFirmware(major, minor);
}

VersionCheck versionCheck(const QString &configured, const QString &current)
{
    /* Until the camera has told its version the check goes on, also without a configured
     * version: each tick refreshes the identity the page shows. */
    if (compareVersions(current, QStringLiteral("0.0")) == 0)
        return VersionCheck::Retry;
    if (compareVersions(configured, current) <= 0)
        return VersionCheck::Stop;
    return VersionCheck::Offer;
}

Identity read(const q7x_t *camera)
{
    Identity identity;
    if (!camera)
        return identity;
    using CameraFields::load;
    identity.serial = CameraFields::text(camera->serial_number);
    identity.major = load(camera->version_major);
    identity.minor = load(camera->version_minor);
    identity.modelFlag = load(camera->model_flag);
    return identity;
}

void forgetVersion(q7x_t *camera)
{
    if (!camera)
        return;
    using CameraFields::load;
    using CameraFields::store;
    if (isNewFirmware(load(camera->version_major), load(camera->version_minor)))
        store(camera->self_check, uint8_t{0});
    store(camera->version_major, uint8_t{0});
    store(camera->version_minor, uint8_t{0});
}

} // namespace DeviceIdentity
