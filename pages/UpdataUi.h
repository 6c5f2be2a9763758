/*
 * The version dialog of the title bar's update button: the camera's serial
 * number and firmware version, "本地升级" (upgrade from a file the operator
 * chooses) and "检查新版本". Made anew each time it is opened.
 */
#ifndef PAGES_UPDATAUI_H
#define PAGES_UPDATAUI_H

#include <QDialog>

class QLabel;
class QPushButton;

class UpdataUi : public QDialog {
    Q_OBJECT

public:
    explicit UpdataUi(QWidget *parent = nullptr);

    /* A new dialog over `window`, window-modal, at a third of its width and height. */
    static UpdataUi *open(QWidget *window);

    /* For tests and screenshots: what the dialog shows. */
    QString serialText() const;
    QString versionText() const;
    QString statusText() const;
    bool upgradeEnabled() const;

public slots:
    /* "本地升级": choose a file; the dialog closes itself when the upgrade starts. */
    void onLocalUpgrade();

private:
    QLabel *m_serial;
    QLabel *m_version;
    QLabel *m_status;
    QPushButton *m_localUpgrade;
    QPushButton *m_checkNew;
};

#endif
