/*
 * The image data page on two real exFAT loop cards: a transfer started,
 * paused and resumed on the page (volumes, password, sorties) ends with the
 * same files as `orvex-cli offload` with the same options.
 */
#include "ComparableRecord.h"
#include "LoopVolume.h"
#include "RecordingPresenter.h"
#include "TestJpeg.h"
#include "app/OrvexPages.h"
#include "dataservice/DataService.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/* Every file below `root` by relative path, zip volumes by the entries unzip extracts. */
QMap<QString, QByteArray> contents(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = QDir(root).relativeFilePath(path);
        if (!name.endsWith(QLatin1String(".zip"))) {
            files[name] = QCryptographicHash::hash(comparableRecord(name, readAll(path)),
                                                   QCryptographicHash::Sha256);
            continue;
        }
        QTemporaryDir out;
        QProcess::execute(QStringLiteral("unzip"), {"-q", "-P", "pw123", path, "-d", out.path()});
        QDirIterator entries(out.path(), QDir::Files);
        while (entries.hasNext()) {
            const QString entry = entries.next();
            files[name + '!' + QFileInfo(entry).fileName()] =
                QCryptographicHash::hash(readAll(entry), QCryptographicHash::Sha256);
        }
    }
    return files;
}

} // namespace

class TestDataServicePage : public QObject {
    Q_OBJECT

private slots:
    void startPauseResumeGivesTheFilesOfTheCli()
    {
        if (const std::string why = LoopVolume::unavailableReason(); !why.empty())
            QSKIP(why.c_str());
        LoopVolume center("Center", 16);
        LoopVolume left("Left", 16);
        QVERIFY2(center.ok() && left.ok(), (center.whyNot() + left.whyNot()).c_str());
        QStringList folders;
        for (LoopVolume *card : {&center, &left}) {
            const QString folder = QString::fromStdString(card->mountPath()) + "/DCIM/100MEDIA";
            QDir().mkpath(folder);
            for (int k = 0; k < 6; ++k) {
                QFile photo(folder + QStringLiteral("/K%1.JPG").arg(k));
                QVERIFY(photo.open(QIODevice::WriteOnly));
                photo.write(makeTestJpeg(
                    640, 480,
                    {"Korvella", "K7",
                     QStringLiteral("2023:06:14 11:00:%1").arg(k * 2, 2, 10, QLatin1Char('0')),
                     35.0, true},
                    k));
            }
            folders << folder;
        }
        QTemporaryDir work;
        QFile table(work.filePath("pos.xls"));
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \r\n");
        for (int k = 0; k < 6; ++k)
            table.write(
                QStringLiteral("%1 \t116.33%2 \t39.91%2 \t520.000 \t1.70 \t0.0 \t0.0 \t0.00 "
                               "\t20.0 \t2023-06-14 11-00-%3 \t \r\n")
                    .arg(k + 1)
                    .arg(k)
                    .arg(k * 2, 2, 10, QLatin1Char('0'))
                    .toUtf8());
        table.close();

        /* The command line's transfer, in a data folder of its own. */
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVEX_DATA_DIR"), work.filePath("cli-data"));
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(ORVEX_CLI_PATH),
                  {"offload", "--save", work.filePath("cli"), "--lens", "center=" + folders[0],
                   "--lens", "left=" + folders[1], "--pos", table.fileName(), "--sorties",
                   "--split", "1MB", "--password", "pw123"});
        QVERIFY(cli.waitForFinished(120000));
        QCOMPARE(cli.exitCode(), 0);

        qputenv("ORVEX_DATA_DIR", work.filePath("page-data").toLocal8Bit());
        QDir().mkpath(work.filePath("page-data"));
        RecordingPresenter presenter;
        presenter.directoryAnswers = {folders[0], folders[1], work.filePath("page")};
        presenter.openAnswers = {table.fileName()};
        installOrvexPages();
        DataService *page = DataService::instance();
        emit page->lensButton(0)->clicked();
        emit page->lensButton(1)->clicked();
        emit page->browseButton()->clicked();
        page->addButton()->click();
        QTRY_VERIFY(page->text().contains(QStringLiteral("添加成功")));
        page->sortieBox()->setChecked(true);
        page->splitBox()->setChecked(true);
        page->sizeEdit()->setText(QStringLiteral("1"));
        page->unitBox()->setCurrentIndex(1); /* MB */
        page->passwordBox()->setChecked(true);
        page->passwordEdit()->setText(QStringLiteral("pw123"));

        emit page->startControl()->clicked(); /* start */
        QVERIFY(page->running());
        emit page->startControl()->clicked(); /* pause: the workers stop between photos */
        QVERIFY(page->paused());
        emit page->startControl()->clicked(); /* go on */
        QTRY_VERIFY_WITH_TIMEOUT(
            presenter.warnings.contains(QStringLiteral("传输已经完成！|全部文件的副本已读回校验")),
            60000);
        QCOMPARE(page->progress(), 12);
        QVERIFY(page->text().contains(QStringLiteral("传输已完成")));
        QVERIFY2(page->text().contains(QStringLiteral("已复制6张,已校验6张")),
                 qPrintable(page->text()));

        const auto expected = contents(work.filePath("cli"));
        const auto got = contents(work.filePath("page"));
        QCOMPARE(got.keys(), expected.keys());
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QVERIFY2(got.value(it.key()) == it.value(), qPrintable(it.key()));
        QVERIFY(expected.contains(QStringLiteral("第1架次.xml")));
    }
};

QTEST_MAIN(TestDataServicePage)
#include "test_data_service_page.moc"
