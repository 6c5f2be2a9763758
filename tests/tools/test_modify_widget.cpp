// The photo tool page offscreen: no start without a folder, one worker at a time, the end
// message with the photos that could not be changed.
#include "RecordingPresenter.h"
#include "tools/ModifyWidget.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class ModifyWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void startsOnceWithAFolderAndNamesFailures()
    {
        RecordingPresenter presenter;
        QTemporaryDir temp;
        QFile bad(temp.filePath(QStringLiteral("坏 照片.jpg")));
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("no photo") == 8);
        bad.close();
        ModifyWidget page;
        page.onClicked(); // no folder chosen: nothing happens
        QVERIFY(!page.running() && page.status().isEmpty());
        presenter.directoryAnswers << QString() << temp.path();
        page.onClicked2(); // the dialog cancelled
        QVERIFY(page.folder().isEmpty());
        QTest::mouseClick(page.chooseButton(), Qt::LeftButton);
        QCOMPARE(page.folder(), temp.path());
        QCOMPARE(page.findChild<QLineEdit *>()->text(), temp.path());
        page.onClicked();
        page.onClicked(); // while one runs, a second start is ignored
        QVERIFY(page.running() && !page.startButton()->isEnabled());
        QCOMPARE(page.findChildren<MyThread *>().size(), 1);
        QTRY_VERIFY(!page.running());
        QCOMPARE(page.status(), QStringLiteral("处理完成，1个文件未能修改："));
        QCOMPARE(page.failures().size(), 1);
        QVERIFY(page.failures().first().contains(QStringLiteral("坏 照片.jpg")));
        // An empty folder: the count of 0, then done at once.
        QVERIFY(bad.remove());
        QTest::mouseClick(page.startButton(), Qt::LeftButton);
        QTRY_COMPARE(page.status(), QStringLiteral("处理完成"));
        QVERIFY(page.failures().isEmpty());
        QTRY_VERIFY(page.startButton()->isEnabled());
    }
};

QTEST_MAIN(ModifyWidgetTest)
#include "test_modify_widget.moc"
