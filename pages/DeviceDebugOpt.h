/*
 * The device debug tab: a test exposure on all cameras, and per still camera
 * the controller's shutter releases, the camera's photographs and whether it
 * works, refreshed by the main window's status refresh.
 */
#ifndef PAGES_DEVICEDEBUGOPT_H
#define PAGES_DEVICEDEBUGOPT_H

#include "CameraCounts.h"
#include "tavrin/tavrin.h"

#include <QWidget>
#include <array>

class Mylabel;
class QLabel;

class DeviceDebugOpt : public QWidget {
    Q_OBJECT

public:
    static DeviceDebugOpt *instance();

    /* For tests and screenshots, per camera 1 to 5. */
    QString triggerText(int camera) const;
    QString photoText(int camera) const;
    QString boxImage(int camera) const;
    QString dotImage(int camera) const;
    Mylabel *shutterButton() const { return m_shutter; }

public slots:
    /* Test exposure: the pressed picture, and the shutter command when there is a camera. */
    void onClicked();
    /* The button's picture back when it is released. */
    void onClickleave();
    /* Rewrite all figures and pictures from the camera handle. */
    void refresh(q7x_t *camera);

private:
    explicit DeviceDebugOpt(QWidget *parent = nullptr);

    struct Row {
        QLabel *trigger;
        QLabel *photos;
        Mylabel *box;
        Mylabel *dot;
    };
    std::array<Row, CameraCounts::cameraCount> m_rows{};
    Mylabel *m_shutter;
};

#endif
