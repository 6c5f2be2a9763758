/*
 * The connection manager: owns the program's one link to the camera, checks
 * the WiFi network on connect, polls the camera's version, and declares the
 * camera lost when it falls silent. Every page gets the camera handle and the
 * POS transfer manager here, and learns of connections by signal; so does the
 * main window, which this class does not know.
 */
#ifndef SHELL_QNETCONFIG_H
#define SHELL_QNETCONFIG_H

#include "tavrin/tavrin.h"

#include <QWidget>

class Mylabel;
class QLabel;
class QTimer;

class QNetConfig : public QWidget {
    Q_OBJECT

public:
    static QNetConfig *instance();

    q7x_t *cameraHandle() const { return m_camera; }
    rvtele_t *link() const { return m_link; }
    rvupgrader_t *upgrader() const { return m_upgrader; }
    /* The POS transfer manager of the link, made when the camera connects; null before. */
    posfile_manager_t *posManager() const { return m_posManager; }

    int openLink();
    int closeLink();
    /* Bit 0 of the handle's flags; -1 without a handle. */
    int linkValid() const;
    int clearLinkValid();
    /* Bit 1 of the handle's flags; -1 without a handle. */
    int gpsFix() const;
    /* Coordinate 1 truncated to whole degrees; -1 without a handle. */
    int coordinateDegrees() const;

    /* Forget the index seen at the last check, so that the next cannot declare a loss. */
    void resetLastSeenIndex() { m_lastSeenIndex = -1; }

    QString stateText() const;
    QString networkName() const;
    QString captionText() const;

signals:
    /* The link was opened: the camera is being greeted. */
    void linkOpened();
    /* The camera answered on the link and the page may talk to it. */
    void cameraConnected();
    /* The camera was disconnected, by the user or because it fell silent. */
    void cameraDisconnected();
    /* The POS transfer manager changed (null first when an old one goes away). */
    void posManagerChanged(posfile_manager_t *manager);

    /*
     * For the main window, which keeps the connection state the pages read.
     * The camera's WiFi was checked on connect: the camera pages can be shown.
     */
    void networkJoined();
    /* The link is up (after networkJoined, before cameraConnected). */
    void linkUp();
    /* The link is down (before cameraDisconnected). */
    void linkDown();

public slots:
    void onClicked();
    void onTimeout();
    void onTimeoutcheck();
    void onenterEvent();
    void onleaveEvent();

private:
    explicit QNetConfig(QWidget *parent = nullptr);
    void showDisconnected();
    void setupPosManager();

    Mylabel *m_button;
    Mylabel *m_caption;
    rvtele_t *m_link = nullptr;
    q7x_t *m_camera = nullptr;
    rvupgrader_t *m_upgrader = nullptr;
    posfile_manager_t *m_posManager = nullptr;
    QTimer *m_versionTimer;
    QTimer *m_checkTimer;
    qint64 m_lastSeenIndex = -1;
    bool m_connected = false;
    QLabel *m_state;
    QLabel *m_networkName;
};

#endif
