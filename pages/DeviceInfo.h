/*
 * The device information page: the camera's serial number, firmware version
 * and release date. While no camera is connected its seven identity widgets
 * are hidden.
 */
#ifndef PAGES_DEVICEINFO_H
#define PAGES_DEVICEINFO_H

#include <QWidget>
#include <array>

class QLabel;
class QPushButton;
class QTimer;

class DeviceInfo : public QWidget {
    Q_OBJECT

public:
    static DeviceInfo *instance();

    void setIdentityVisible(bool visible);
    bool identityVisible() const;

    void startReleaseDatePoll(int periodMs);
    void startVersionCheck(int periodMs);
    void stopVersionCheck();

    QString serialText() const;
    QString versionText() const;
    QString releaseDateText() const;

    /* POS record size for a serial number; 0 when the serial number does not tell. */
    static int posRecordSizeFor(const QString &serial);

private slots:
    void onReleaseDatePoll();
    void onVersionCheck();

private:
    explicit DeviceInfo(QWidget *parent = nullptr);
    void refreshIdentity();

    QLabel *m_serial;
    QLabel *m_version;
    QLabel *m_hardware;
    QLabel *m_releaseDate;
    QLabel *m_firmwareDate;
    QLabel *m_hardwareCaption;
    QPushButton *m_update;
    std::array<QWidget *, 7> m_identity{};
    QTimer *m_releaseDatePoll;
    QTimer *m_versionCheck;
};

#endif
