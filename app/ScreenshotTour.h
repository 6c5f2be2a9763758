/*
 * For demonstrations on a machine without a screen: saves a picture of the
 * main window disconnected, connects to the configured camera, saves one of
 * the connected window once the camera has reported, then visits the POS page
 * (its listing, and a finished download of two files into the screenshot
 * folder) and the image data page (an offload of five folders of photos,
 * running and done) and quits.
 */
#ifndef APP_SCREENSHOTTOUR_H
#define APP_SCREENSHOTTOUR_H

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class DialogPresenter;
class TourPresenter;

class ScreenshotTour : public QObject {
    Q_OBJECT

public:
    explicit ScreenshotTour(const QString &folder, QObject *parent = nullptr);
    ~ScreenshotTour() override;
    void start();

private:
    bool save(const QString &name);
    void connectCamera();
    void visitDevicePages();
    void visitPosPage();
    void downloadPos();
    void visitImagePage();
    void visitClearingPage();
    void visitPhotoTool();
    /* Call `then` once `ready` holds, checking every 200 ms; after `seconds` count a failure. */
    void when(const std::function<bool()> &ready, int seconds, const QString &what,
              const std::function<void()> &then);
    void finish();

    QString m_folder;
    int m_failures = 0;
    std::unique_ptr<DialogPresenter> m_presenter;
    DialogPresenter *m_previousPresenter = nullptr;
    TourPresenter *m_tourPresenter = nullptr;
};

#endif
