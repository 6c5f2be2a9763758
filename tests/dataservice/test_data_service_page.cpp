/*
 * The image data page on two real exFAT loop cards: a transfer started,
 * paused and resumed on the page (volumes, password, sorties) ends with the
 * same files as `orvex-cli offload` with the same options.
 */
#include "CliRun.h"
#include "ComparableRecord.h"
#include "LoopVolume.h"
#include "RecordingPresenter.h"
#include "TestFiles.h"
#include "TestJpeg.h"
#include "app/OrvexPages.h"
#include "dataservice/DataService.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

/* The files below `root` by relative path, zip volumes by the entries unzip extracts. */
QMap<QString, QByteArray> contents(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = QDir(root).relativeFilePath(path);
        if (!name.endsWith(QLatin1String(".zip"))) {
            files[name] = comparableRecord(name, readAll(path));
            continue;
        }
        QTemporaryDir out;
        QProcess::execute("unzip", {"-q", "-P", "pw123", path, "-d", out.path()});
        QDirIterator entries(out.path(), QDir::Files);
        while (entries.hasNext()) {
            const QString entry = entries.next();
            files[name + '!' + QFileInfo(entry).fileName()] = readAll(entry);
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
        for (LoopVolume *card : {&center, &left})
            folders << QString::fromStdString(card->mountPath()) + "/DCIM/100MEDIA";
        QTemporaryDir work;
        QList<PosRow> rows;
        for (int k = 0; k < 6; ++k) { /* a photo every 2 s on each card, a POS record at each */
            const QString second = QStringLiteral("%1").arg(k * 2, 2, 10, QLatin1Char('0'));
            rows.append({116.33 + k * 1e-3, 39.91 + k * 1e-3, 520, "2023-06-14 11-00-" + second});
            const TestExif exif{"Korvella", "K7", "2023:06:14 11:00:" + second, 35.0, true};
            for (const QString &folder : folders)
                QVERIFY(writeFile(folder + QStringLiteral("/K%1.JPG").arg(k),
                                  makeTestJpeg(640, 480, exif, k)));
        }
        const QString table = work.filePath("pos.xls");
        QVERIFY(writeFile(table, posTable(rows)));

        /* The command line's transfer, in a data folder of its own. */
        const CliRun cli = runCli({{"offload", "--save", work.filePath("cli"), "--lens",
                                    "center=" + folders[0], "--lens", "left=" + folders[1], "--pos",
                                    table, "--sorties", "--split", "1MB", "--password", "pw123"},
                                   work.filePath("cli-data")});
        QVERIFY2(cli.status == 0, qPrintable(cli.err));

        qputenv("ORVEX_DATA_DIR", work.filePath("page-data").toLocal8Bit());
        QDir().mkpath(work.filePath("page-data"));
        RecordingPresenter presenter;
        presenter.directoryAnswers = {folders[0], folders[1], work.filePath("page")};
        presenter.openAnswers = {table};
        installOrvexPages();
        DataService *page = DataService::instance();
        emit page->lensButton(0)->clicked();
        emit page->lensButton(1)->clicked();
        emit page->browseButton()->clicked();
        page->addButton()->click();
        QTRY_VERIFY(page->text().contains("添加成功"));
        page->sortieBox()->setChecked(true);
        page->splitBox()->setChecked(true);
        page->sizeEdit()->setText("1");
        page->unitBox()->setCurrentIndex(1); /* MB */
        page->passwordBox()->setChecked(true);
        page->passwordEdit()->setText("pw123");

        emit page->startControl()->clicked(); /* start */
        QVERIFY(page->running());
        emit page->startControl()->clicked(); /* pause: the workers stop between photos */
        QVERIFY(page->paused());
        emit page->startControl()->clicked(); /* go on */
        QTRY_VERIFY_WITH_TIMEOUT(
            presenter.warnings.contains("传输已经完成！|全部文件的副本已读回校验"), 60000);
        QCOMPARE(page->progress(), 12);
        QVERIFY(page->text().contains("传输已完成"));
        QVERIFY2(page->text().contains("已复制6张,已校验6张"), qPrintable(page->text()));

        const auto expected = contents(work.filePath("cli"));
        const auto got = contents(work.filePath("page"));
        QCOMPARE(got.keys(), expected.keys());
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QVERIFY2(got.value(it.key()) == it.value(), qPrintable(it.key()));
        QVERIFY(expected.contains("第1架次.xml"));
    }
};

QTEST_MAIN(TestDataServicePage)
#include "test_data_service_page.moc"
