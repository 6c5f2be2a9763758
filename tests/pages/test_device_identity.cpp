// The identity rules: version texts, versions compared as decimal numbers, the firmware
// generation (the status panel's, which this one passes on), and the version check against
// UpdateConfig.xml.
#include "pages/DeviceIdentity.h"
#include "pages/FirmwareUpgrade.h"

#include <QtCore>
#include <gtest/gtest.h>

namespace {

using DeviceIdentity::VersionCheck;

TEST(DeviceIdentity, VersionsTextsOrderGenerationAndCheck)
{
    EXPECT_EQ(DeviceIdentity::versionText(4, 41), QStringLiteral("V4.41"));
    EXPECT_EQ(DeviceIdentity::versionNumber(0, 0), QStringLiteral("0.0"));
    EXPECT_EQ(DeviceIdentity::hardwareText(2), QStringLiteral("V2.0"));
    const struct {
        int major, minor; /* the camera's */
        const char *other;
        int order; /* camera compared with `other` */
        bool isNew;
    } versions[] = {
        {4, 41, "4.41", 0, true},   {4, 5, "4.41", 1, true},   {5, 0, "4.41", 1, true},
        {4, 40, "4.41", -1, false}, {4, 40, "4.4", 0, false},  {4, 4, "4.41", -1, false},
        {4, 100, "4.1", 0, false},  {3, 99, "4.0", -1, false}, {10, 0, "9.99", 1, true},
        {0, 0, "", 1, false},       {4, 5, "4.5x", 1, true},   {4, 5, "V4.5", 1, true},
    };
    for (const auto &row : versions) {
        const QString camera = DeviceIdentity::versionNumber(row.major, row.minor);
        SCOPED_TRACE((camera + QStringLiteral(" vs ") + QLatin1String(row.other)).toStdString());
        EXPECT_EQ(DeviceIdentity::compareVersions(camera, QLatin1String(row.other)), row.order);
        EXPECT_EQ(DeviceIdentity::compareVersions(QLatin1String(row.other), camera), -row.order);
        EXPECT_EQ(DeviceIdentity::isNewFirmware(row.major, row.minor), row.isNew);
    }
    /* Only a newer configured version is offered; an unknown camera version is asked again. */
    const struct {
        const char *configured, *camera;
        VersionCheck decision;
    } checks[] = {
        {"4.41", "4.41", VersionCheck::Stop}, {"4.5", "4.41", VersionCheck::Offer},
        {"4.41", "4.5", VersionCheck::Stop},  {"4.5", "0.0", VersionCheck::Retry},
        {"", "4.41", VersionCheck::Stop},     {"", "0.0", VersionCheck::Retry},
    };
    for (const auto &row : checks)
        EXPECT_EQ(
            DeviceIdentity::versionCheck(QLatin1String(row.configured), QLatin1String(row.camera)),
            row.decision)
            << row.configured << " against " << row.camera;
}

TEST(UpdateConfig, NamesTheFirmwareBesideItOrWhatIsMissing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("UpdateConfig.xml"));
    const struct {
        const char *xml;
        const char *firmware, *version, *problem;
    } rows[] = {
        {"<config><filename value=\"fw.bin\"/><num value=\"4.5\"/><num value=\"9.9\"/></config>",
         "fw.bin", "4.5", ""},
        {"<config><num value=\"4.5\"/></config>", "", "4.5", "no <filename value=\"...\">"},
        {"<settings><num value=\"4.5\"/></settings>", "", "", "is <settings>, not <config>"},
        {"<config><filename value=\"fw.bin\">", "fw.bin", "", "line 1"},
    };
    for (const auto &row : rows) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    file.write(row.xml) > 0);
        file.close();
        const UpdateConfig config = readUpdateConfig(path);
        SCOPED_TRACE(row.xml);
        EXPECT_EQ(config.firmwarePath,
                  *row.firmware ? dir.filePath(QLatin1String(row.firmware)) : QString());
        EXPECT_EQ(config.newestVersion, QLatin1String(row.version));
        /* A problem names the file and what is wrong with it. */
        EXPECT_EQ(config.problem.isEmpty(), !*row.problem);
        EXPECT_TRUE(config.problem.contains(QLatin1String(row.problem)));
        EXPECT_TRUE(!*row.problem || config.problem.contains(path)) << config.problem.toStdString();
    }
    EXPECT_TRUE(readUpdateConfig(dir.filePath(QStringLiteral("none.xml")))
                    .problem.contains(QStringLiteral("none.xml")));
}

} // namespace
