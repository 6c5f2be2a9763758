// The status panel's rules for strategy, camera icons, fault text and GPS text.
#include "shell/StatusDisplay.h"

#include <QTest>

using StatusDisplay::Icon;

class TestStatusDisplay : public QObject {
    Q_OBJECT

private slots:
    void strategy_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("fixTime");
        QTest::addColumn<int>("distance");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("value");
        QTest::newRow("debug") << 1 << 0 << 0 << "当前策略："
                               << "调试模式";
        QTest::newRow("timed 2.5 s shows whole seconds") << 2 << 25 << 0 << "采集策略："
                                                         << "定时2.00s";
        QTest::newRow("distance") << 3 << 0 << 1005 << "采集策略："
                                  << "定距100.5m";
        QTest::newRow("pwm") << 4 << 0 << 0 << "采集策略："
                             << "PWM触发";
        QTest::newRow("io") << 5 << 0 << 0 << "采集策略："
                            << "IO触发";
        QTest::newRow("edge") << 6 << 0 << 0 << "采集策略："
                              << "沿触发";
        QTest::newRow("unknown") << 9 << 0 << 0 << "采集策略："
                                 << "";
        QTest::newRow("none yet") << 0 << 0 << 0 << "采集策略："
                                  << "";
    }
    void strategy()
    {
        QFETCH(int, mode);
        QFETCH(int, fixTime);
        QFETCH(int, distance);
        QFETCH(QString, caption);
        QFETCH(QString, value);
        const auto shown = StatusDisplay::strategy(mode, fixTime, distance);
        QCOMPARE(shown.caption, caption);
        QCOMPARE(shown.value, value);
    }

    void cameras_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("selfCheck");
        QTest::addColumn<QString>("yellow"); // icons in order top, right, bottom, left, centre
        QTest::addColumn<QString>("text");
        QTest::newRow("new, bits 0 and 3 clear") << 4 << 41 << 0b10110 << 1 << "Y..Y."
                                                 << "1号、4号相机故障，请检查";
        QTest::newRow("new, all working") << 4 << 41 << 31 << 1 << "....."
                                          << "";
        QTest::newRow("new, none working") << 4 << 50 << 0 << 1 << "YYYYY"
                                           << "5个相机全部故障，请检查";
        QTest::newRow("new, centre only") << 4 << 41 << 0b01111 << 1 << "....Y"
                                          << "5号相机故障，请检查";
        QTest::newRow("old, bits 0 and 2 set") << 4 << 40 << 0b00101 << 0 << "YY..."
                                               << "1号、3号相机故障，请检查";
        QTest::newRow("old, all faulty") << 4 << 40 << 31 << 1 << "YYYYY"
                                         << "5个相机全部故障，请检查";
        QTest::newRow("old, none faulty") << 3 << 99 << 0 << 0 << "....."
                                          << "";
        QTest::newRow("unknown version counts as old") << 0 << 0 << 0b01000 << 0 << "..Y.."
                                                       << "4号相机故障，请检查";
        /* Versions compare as decimal numbers: 4.5 and 5.0 are later than 4.41. */
        QTest::newRow("4.5 is new firmware") << 4 << 5 << 0b01111 << 1 << "....Y"
                                             << "5号相机故障，请检查";
        QTest::newRow("5.0 is new firmware") << 5 << 0 << 0b01111 << 1 << "....Y"
                                             << "5号相机故障，请检查";
    }
    void cameras()
    {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(int, mask);
        QFETCH(int, selfCheck);
        QFETCH(QString, yellow);
        QFETCH(QString, text);
        const auto shown = StatusDisplay::cameras(major, minor, mask, selfCheck);
        QVERIFY(shown.changed);
        QString icons;
        for (int icon = 0; icon < StatusDisplay::IconCount; ++icon)
            icons += shown.yellow[static_cast<size_t>(icon)] ? QLatin1Char('Y') : QLatin1Char('.');
        QCOMPARE(icons, yellow);
        QCOMPARE(shown.faultText, text);
    }

    void selfCheckInProgressLeavesIconsAlone()
    {
        const auto shown = StatusDisplay::cameras(4, 41, 0, 0);
        QVERIFY(!shown.changed);
        QCOMPARE(shown.faultText, QStringLiteral("          设备自检中"));
    }

    void gps()
    {
        QCOMPARE(StatusDisplay::gpsText(1, 3), std::optional<QString>(QStringLiteral("GPS未定位")));
        QCOMPARE(StatusDisplay::gpsText(0, 12),
                 std::optional<QString>(QStringLiteral("GPS硬件故障")));
        QCOMPARE(StatusDisplay::gpsText(-1, 0), std::optional<QString>(QStringLiteral("网络断开")));
        QCOMPARE(StatusDisplay::gpsText(1, 4), std::optional<QString>(QStringLiteral("GPS已定位")));
    }
};

QTEST_APPLESS_MAIN(TestStatusDisplay)
#include "test_status_display.moc"
