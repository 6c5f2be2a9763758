/*
 * The clearing guard: over facts, a good card passes on every kind of device
 * a card may sit on, and each rule alone refuses it with its own reason and
 * the card named; gathered for real, the root volume and a plain folder named
 * like a card are refused.
 */
#include "cards/CardGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace {

using Attachment = CardFacts::Attachment;

CardFacts leftCard()
{
    CardFacts facts;
    facts.disk = 1; /* Left */
    facts.mountPath = QStringLiteral("/media/op/Left");
    facts.device = QStringLiteral("/dev/sdc1");
    facts.label = QStringLiteral("Left");
    facts.ownMount = true;
    facts.hasAvfInfo = true;
    facts.attachment = Attachment::Removable;
    return facts;
}

TEST(CardGuardRules, GoodCardPassesOnEveryCardDevice)
{
    for (Attachment attachment :
         {Attachment::Removable, Attachment::Mmc, Attachment::Usb, Attachment::Loop})
        for (const char *label : {"Left", "LEFT", "left", "K4_Left"}) {
            CardFacts facts = leftCard();
            facts.attachment = attachment;
            facts.label = QString::fromLatin1(label);
            EXPECT_EQ(CardGuard::refusal(facts).toStdString(), "")
                << label << " on attachment " << int(attachment);
        }
}

TEST(CardGuardRules, EachRuleAloneRefusesNamingTheCard)
{
    struct Rule {
        const char *what;
        std::function<void(CardFacts &)> change;
        const char *reason;
    };
    const Rule rules[] = {
        {"no lens", [](CardFacts &f) { f.disk = -1; }, "no lens was named"},
        {"a folder", [](CardFacts &f) { f.ownMount = false; }, "not a volume of its own"},
        {"no label", [](CardFacts &f) { f.label.clear(); }, "has no label"},
        {"another lens", [](CardFacts &f) { f.label = "Center"; },
         "label 'Center' is not lens left's"},
        {"front named first", [](CardFacts &f) { f.label = "FrontLeft"; }, "label 'FrontLeft'"},
        {"mixed case", [](CardFacts &f) { f.label = "LeFt"; }, "label 'LeFt'"},
        {"system folder", [](CardFacts &f) { f.systemFolder = "/boot/efi"; },
         "system folder /boot/efi"},
        {"system disk", [](CardFacts &f) { f.onSystemDisk = true; }, "disk that holds / or /home"},
        {"program", [](CardFacts &f) { f.holds = {"the program folder"}; },
         "holds the program folder"},
        {"save folder", [](CardFacts &f) { f.holds = {"the save folder"}; },
         "holds the save folder"},
        {"no block device", [](CardFacts &f) { f.attachment = Attachment::None; },
         "not mounted from a block device"},
        {"fixed disk", [](CardFacts &f) { f.attachment = Attachment::Fixed; }, "on a fixed disk"},
        {"write-protected", [](CardFacts &f) { f.readOnly = true; }, "write-protected"},
        {"no AVF_INFO", [](CardFacts &f) { f.hasAvfInfo = false; }, "no AVF_INFO folder"},
    };
    for (const Rule &rule : rules) {
        CardFacts facts = leftCard();
        rule.change(facts);
        const std::string refusal = CardGuard::refusal(facts).toStdString();
        EXPECT_NE(refusal.find(rule.reason), std::string::npos) << rule.what << ": " << refusal;
        EXPECT_NE(refusal.find("/media/op/Left (/dev/sdc1)"), std::string::npos) << refusal;
        EXPECT_EQ(refusal.find("; "), std::string::npos) << rule.what << ": one reason only";
    }
}

TEST(CardGuardFacts, RootVolumeAndPlainFolderAreNoCards)
{
    int argc = 1;
    char name[] = "cards_guard_tests";
    char *argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv); /* the program folder is one the guard protects */
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    ASSERT_TRUE(mounts.open(QIODevice::ReadOnly));
    Volume root;
    for (const Volume &volume : VolumeQuery::parseMounts(mounts.readAll()))
        if (volume.mountPath == QLatin1String("/"))
            root = volume;
    QTemporaryDir work;
    const QString folder = work.filePath(QStringLiteral("Center"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/AVF_INFO")));

    const CardFacts plain = CardGuard::gather(
        {QStringLiteral("Center"), folder, root.device, root.fsType}, 0, QString(), work.path());
    EXPECT_FALSE(plain.ownMount);
    EXPECT_NE(CardGuard::refusal(plain).indexOf(QLatin1String("not a volume of its own")), -1);

    if (root.device.isEmpty())
        return; /* the root file system is on no block device here: nothing more to gather */
    root.label = QStringLiteral("Center");
    const CardFacts facts = CardGuard::gather(root, 0, QString(), work.path());
    EXPECT_TRUE(facts.ownMount);
    EXPECT_EQ(facts.systemFolder.toStdString(), "/");
    EXPECT_TRUE(facts.onSystemDisk);
    EXPECT_TRUE(facts.holds.contains(QStringLiteral("the data folder")));
    EXPECT_NE(CardGuard::refusal(facts), QString());
}

} // namespace
