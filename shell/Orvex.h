/*
 * The main window: title bar, six navigation entries, the status panel that
 * mirrors the camera twice a second, the link button and the page stack.
 */
#ifndef SHELL_ORVEX_H
#define SHELL_ORVEX_H

#include "StatusDisplay.h"
#include "tavrin/tavrin.h"

#include <QWidget>
#include <array>

class Mylabel;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;
class TitleBar;

class Orvex : public QWidget {
    Q_OBJECT

public:
    /* The navigation entries, in their order on the left. */
    enum Entry {
        DeviceInfoEntry,
        ConfigTestEntry,
        AssistantEntry,
        PosEntry,
        ImageEntry,
        ClearEntry,
        PhotoToolPage /* no navigation entry: the status panel's "数据服务" button */
    };

    static Orvex *instance();

    /*
     * The pages of the stack, in the entries' order and then the photo tool.
     * The program's composition (installOrvexPages) hands them over once.
     */
    void setPages(const QList<QWidget *> &pages);

    void onConnected();
    void onDisconnected();
    void setAllCamerasWhite();

    /* Connection state, kept from the connection manager's signals. */
    bool connected = false;
    int linkKind = 0;        // 2 while connected over WiFi
    int cameraConnected = 0; // 1 while connected
    /* Device identity, set by the device-information page. */
    QString serialNumber;
    int posRecordSize = 0; // 32 or 52; 0 until known
    QString firmwareVersion;
    std::array<int, 5> cardFlags{1, 1, 1, 1, 1};
    QWidget *upgradeDialog = nullptr;

    /* For tests and screenshots: what the status panel shows now. */
    QString strategyCaption() const;
    QString strategyValue() const;
    QString faultText() const;
    QString gpsText() const;
    QString photoCount() const;
    QString satelliteCount() const;
    bool cameraIconYellow(StatusDisplay::Icon icon) const;
    bool statusVisible() const;
    int currentPage() const;
    QWidget *currentPageWidget() const;
    bool pageStackVisible() const;
    QString navigationImage(int entry) const;
    QString linkButtonImage() const;
    Mylabel *navigationEntry(int entry) const { return m_entries[static_cast<size_t>(entry)]; }
    Mylabel *linkButton() const { return m_linkButton; }
    QPushButton *dataServiceButton() const { return m_dataServiceButton; }
    TitleBar *titleBar() const { return m_titleBar; }

signals:
    /* The status panel switched to connected (true) or disconnected. */
    void connectionChanged(bool connected);
    /* The user opened the page of `entry` (an Entry). */
    void pageShown(int entry);
    /* The twice-a-second status refresh read the camera handle. */
    void statusRefreshed(q7x_t *camera);

public slots:
    void onClicked();
    void onenterEvent();
    void onleaveEvent();
    void onenterEvent1();
    void onleaveEvent1();
    void onTimeout();

private:
    explicit Orvex(QWidget *parent = nullptr);
    void buildStatusPanel();
    void selectEntry(int entry);
    void setStatusVisible(bool visible);
    void setCameraIcon(StatusDisplay::Icon icon, bool yellow);

    std::array<Mylabel *, 6> m_entries{};
    QStackedWidget *m_stack;
    Mylabel *m_linkButton;
    QTimer *m_statusTimer;
    TitleBar *m_titleBar;

    QWidget *m_statusPanel;
    std::array<QLabel *, StatusDisplay::IconCount> m_cameraIcons{};
    std::array<bool, StatusDisplay::IconCount> m_cameraYellow{};
    QLabel *m_faultText;
    QPushButton *m_dataServiceButton;
    QLabel *m_gpsText;
    QLabel *m_strategyCaption;
    QLabel *m_strategyValue;
    QLabel *m_photoIcon;
    QLabel *m_photoCount;
    QLabel *m_satelliteIcon;
    QLabel *m_satelliteCount;
};

#endif
