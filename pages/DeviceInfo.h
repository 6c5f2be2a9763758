/*
 * The device information page, first page of the main window's stack: the
 * camera's serial number, firmware and hardware versions and release date,
 * the offer of the firmware named in UpdateConfig.xml when it is newer than
 * the camera's, and the "更新" button that upgrades from a file the operator
 * chooses. While no camera is connected its seven identity widgets are hidden.
 */
#ifndef PAGES_DEVICEINFO_H
#define PAGES_DEVICEINFO_H

#include <QWidget>
#include <array>

class QLabel;
class QPushButton;
class QTimer;

class ShengJiUi;

class DeviceInfo : public QWidget {
    Q_OBJECT

public:
    static DeviceInfo *instance();

    void setIdentityVisible(bool visible);
    bool identityVisible() const;

    void startReleaseDatePoll(int periodMs);
    /* Ask for the release date again once the upgrade of `dialog` (may be none) succeeds. */
    void followUpgrade(ShengJiUi *dialog);
    void startVersionCheck(int periodMs);
    void stopVersionCheck();

    /* For tests and screenshots: what the page shows and which timers run. */
    QString serialText() const;
    QString versionText() const;
    QString hardwareText() const;
    QString releaseDateText() const;
    bool versionCheckActive() const;
    bool identityRefreshActive() const;

    /* POS record size for a serial number; 0 when the serial number does not tell. */
    static int posRecordSizeFor(const QString &serial);

public slots:
    /* "更新": upgrade from a file the operator chooses. */
    void onUpdateClicked();

private slots:
    void onReleaseDatePoll();
    void onVersionCheck();
    void refreshIdentity();

private:
    explicit DeviceInfo(QWidget *parent = nullptr);
    /* The upgrade offered after the version check, with the file UpdateConfig.xml names. */
    void upgradeAsConfigured();

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
    QTimer *m_identityRefresh;
    bool m_configProblemLogged = false;
};

#endif
