#include "ScreenshotTour.h"

#include "AirSerial.h"
#include "Mylabel.h"
#include "Orvex.h"
#include "QNetConfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

ScreenshotTour::ScreenshotTour(const QString &folder, QObject *parent)
    : QObject(parent), m_folder(folder)
{
}

void ScreenshotTour::start()
{
    QDir().mkpath(m_folder);
    QTimer::singleShot(1000, this, [this] {
        save(QStringLiteral("main-window-disconnected.png"));
        connectCamera();
    });
}

bool ScreenshotTour::save(const QString &name)
{
    const QString path = QDir(m_folder).absoluteFilePath(name);
    if (!Orvex::instance()->grab().save(path)) {
        std::fprintf(stderr, "orvex: cannot save %s\n", qPrintable(path));
        ++m_failures;
        return false;
    }
    std::printf("orvex: saved %s\n", qPrintable(path));
    return true;
}

void ScreenshotTour::connectCamera()
{
    /* The link button opens the communication window; its button connects. */
    emit Orvex::instance()->linkButton()->clicked();
    QTimer::singleShot(800, this, [this] {
        const QString path =
            QDir(m_folder).absoluteFilePath(QStringLiteral("connection-window.png"));
        AirSerial::instance()->grab().save(path);
        QNetConfig::instance()->onClicked();
        AirSerial::instance()->hide();
        /* Give the camera time to report its identity and a few status rounds. */
        QTimer::singleShot(4000, this, [this] {
            if (!Orvex::instance()->connected) {
                std::fprintf(stderr, "orvex: the camera did not connect\n");
                ++m_failures;
            }
            save(QStringLiteral("main-window-connected.png"));
            finish();
        });
    });
}

void ScreenshotTour::finish()
{
    QNetConfig::instance()->closeLink();
    QCoreApplication::exit(m_failures == 0 ? 0 : 1);
}
