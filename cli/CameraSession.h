/*
 * orvex-cli's link to the camera: the link, camera handle and POS transfer
 * manager the desktop program's connection manager makes, opened for one
 * command and closed when it ends.
 */
#ifndef CLI_CAMERASESSION_H
#define CLI_CAMERASESSION_H

#include "tavrin/tavrin.h"

#include <QString>

class CameraSession {
public:
    CameraSession() = default;
    ~CameraSession();
    CameraSession(const CameraSession &) = delete;
    CameraSession &operator=(const CameraSession &) = delete;

    /* Open the link to the configured camera and greet it; false with `error`. */
    bool open(QString *error);
    /*
     * Wait up to `seconds` for the camera's serial number and firmware version,
     * asking for them every half second; false when no camera answered (or on
     * an interrupt).
     */
    bool waitForIdentity(double seconds);

    q7x_t *camera() const { return m_camera; }
    posfile_manager_t *posManager() const { return m_posManager; }
    QString serial() const;
    /* The firmware as a decimal number (4.41); 0 before it is known. */
    double firmware() const;
    /* 32 or 52 from the serial number; 0 when it does not tell. */
    int recordSize() const;

private:
    rvtele_t *m_link = nullptr;
    q7x_t *m_camera = nullptr;
    posfile_manager_t *m_posManager = nullptr;
};

/* Sleep a little while letting queued signals through; false once interrupted. */
bool pauseBriefly(int milliseconds = 50);

#endif
