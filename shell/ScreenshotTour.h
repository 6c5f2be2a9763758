/*
 * For demonstrations on a machine without a screen: saves a picture of the
 * main window disconnected, connects to the configured camera, saves one of
 * the connected window once the camera has reported, and quits.
 */
#ifndef SHELL_SCREENSHOTTOUR_H
#define SHELL_SCREENSHOTTOUR_H

#include <QObject>
#include <QString>

class ScreenshotTour : public QObject {
    Q_OBJECT

public:
    explicit ScreenshotTour(const QString &folder, QObject *parent = nullptr);
    void start();

private:
    bool save(const QString &name);
    void connectCamera();
    void finish();

    QString m_folder;
    int m_failures = 0;
};

#endif
