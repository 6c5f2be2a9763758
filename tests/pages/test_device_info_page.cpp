// The device information page, offscreen, against q7sim: the offer of the configured firmware
// carried out to "升级成功", and the manual upgrade's refusals.
#include "RecordingPresenter.h"
#include "app/OrvexPages.h"
#include "sim_process.h"

#include "pages/DeviceInfo.h"
#include "pages/ShengJiUi.h"
#include "platform/AppSettings.h"
#include "shell/CameraFields.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestDeviceInfoPage : public QObject {
    Q_OBJECT

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    static void write(const QString &file, const QByteArray &bytes)
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    static QByteArray read(const QString &file)
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    static void pressConnect()
    {
        QMetaObject::invokeMethod(QNetConfig::instance(), "onClicked", Qt::DirectConnection);
    }

private slots:
    void initTestCase()
    {
        qputenv("ORVEX_DATA_DIR", path(QStringLiteral("data")).toLocal8Bit());
        /* UpdateConfig.xml is looked for in the installed data folder too. */
        qputenv("XDG_DATA_HOME", path(QStringLiteral("share")).toLocal8Bit());
        const QString configDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(QDir().mkpath(configDir));
        write(configDir + QStringLiteral("/UpdateConfig.xml"),
              "<config><filename value=\"fw45.bin\"/><num value=\"4.5\"/></config>");
        m_firmware = QByteArray(1234, '\0');
        for (int i = 0; i < m_firmware.size(); ++i)
            m_firmware[i] = char(i * 13);
        write(configDir + QStringLiteral("/fw45.bin"), m_firmware);
        installOrvexPages();
        Orvex::instance()->show();
    }

    void manualUpgradeNeedsACamera()
    {
        m_presenter.warnings.clear();
        DeviceInfo::instance()->onUpdateClicked();
        QCOMPARE(m_presenter.warnings, QStringList{QStringLiteral("相机未连接！")});
        QVERIFY(m_presenter.questions.isEmpty());
    }

    void offeredFirmwareIsSentAndTheVersionAskedAgain()
    {
        SimProcess sim({"--firmware", "4.41", "--upgraded-firmware", "4.5", "--loader-image",
                        path("received.bin").toStdString()});
        QVERIFY2(sim.running(), sim.error().c_str());
        QString error;
        QVERIFY(AppSettings::applyCommandLine(
            {QStringLiteral("orvex"), QStringLiteral("--camera-address"),
             QStringLiteral("127.0.0.1"), QStringLiteral("--camera-port"),
             QString::number(sim.port())},
            error));
        m_presenter.answer = true;
        m_presenter.warnings.clear();
        pressConnect();
        QTRY_COMPARE_WITH_TIMEOUT(m_presenter.questions,
                                  QStringList{QStringLiteral("当前固件版本是4.41,是否升级？")},
                                  10000);
        QVERIFY(!DeviceInfo::instance()->versionCheckActive());
        QVERIFY(DeviceInfo::instance()->identityRefreshActive());
        auto *dialog = qobject_cast<ShengJiUi *>(Orvex::instance()->upgradeDialog);
        QVERIFY(dialog);
        QTRY_COMPARE_WITH_TIMEOUT(dialog->resultText(), QStringLiteral("升级成功"), 60000);
        QCOMPARE(dialog->percentText(), QStringLiteral("100%"));
        QCOMPARE(CameraFields::load(QNetConfig::instance()->posManager()->activity), 0u);
        QTRY_COMPARE_WITH_TIMEOUT(read(path(QStringLiteral("received.bin"))), m_firmware, 5000);
        /* The restarted camera is asked for its version, which the page shows. */
        QTRY_COMPARE_WITH_TIMEOUT(DeviceInfo::instance()->versionText(), QStringLiteral("V4.5"),
                                  10000);
        QCOMPARE(Orvex::instance()->firmwareVersion, QStringLiteral("4.5"));
        QVERIFY(m_presenter.warnings.isEmpty());

        /* An encrypted file answered "否" changes nothing. */
        dialog->close();
        m_presenter.answer = false;
        m_presenter.questions.clear();
        write(path(QStringLiteral("enc.bin")), "OVRE\1\2\3\4encrypted body");
        m_presenter.openAnswers = {path(QStringLiteral("enc.bin"))};
        DeviceInfo::instance()->onUpdateClicked();
        QCOMPARE(m_presenter.questions,
                 (QStringList{QStringLiteral("打开"),
                              QStringLiteral("您选的文件是加密文件，是否解密并继续升级？")}));
        QTRY_VERIFY(!Orvex::instance()->upgradeDialog);
        QVERIFY(!QFile::exists(path(QStringLiteral("data/tempfile.bin"))));
        pressConnect(); // disconnect
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_firmware;
    RecordingPresenter m_presenter;
};

QTEST_MAIN(TestDeviceInfoPage)
#include "test_device_info_page.moc"
