/*
 * The firmware upgrade's progress dialog: frameless, rounded, window-modal
 * over the main window until the operator closes it. It runs the upgrade
 * engine, shows its percentage, and once the camera has taken the whole file
 * switches to "升级成功" and brings the camera's identity back up to date.
 */
#ifndef PAGES_SHENGJIUI_H
#define PAGES_SHENGJIUI_H

#include "FirmwareUpgrade.h"

#include <QDialog>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

/* The dialog's title bar: "正在升级固件，请勿退出"; it drags the dialog. */
class ShengjiTitlebar : public QWidget {
    Q_OBJECT

public:
    explicit ShengjiTitlebar(QWidget *parent);
    QString title() const;

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QLabel *m_title;
};

class ShengJiUi : public QDialog {
    Q_OBJECT

public:
    /*
     * Upgrade the camera with `chosen` as the device pages do from the file
     * check on: ask before decrypting an encrypted file, report a file that
     * cannot be read or decrypted (nothing is sent then), start the upgrade
     * with `options`, call `beforeOpening` and open the progress dialog.
     * Returns the dialog, or none when no upgrade was started.
     */
    static ShengJiUi *startUpgrade(const QString &chosen, const FirmwareUpgrade::Options &options,
                                   const std::function<void()> &beforeOpening = {});

    explicit ShengJiUi(QWidget *parent = nullptr);

    FirmwareUpgrade *engine() const { return m_engine; }
    /* For tests and screenshots: what the dialog shows. */
    int progressValue() const;
    QString percentText() const;
    QString resultText() const;
    bool succeeded() const { return m_succeeded; }

signals:
    /* The loader confirmed the new firmware. */
    void upgraded();

protected:
    /* Neither Escape nor the window system closes the dialog while the upgrade runs. */
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void onProgress(int percent);
    void onFinished();
    void onFailed(FirmwareUpgrade::Failure failure, const QString &reason);
    void onVersionPoll();

private:
    void showResult(const QString &text);
    static void setUpgrading(bool upgrading);

    ShengjiTitlebar *m_titleBar;
    QProgressBar *m_progress;
    QLabel *m_percentCaption;
    QLabel *m_percent;
    QLabel *m_warning;
    QLabel *m_result;
    QPushButton *m_ok;
    QTimer *m_versionPoll;
    FirmwareUpgrade *m_engine;
    bool m_succeeded = false;
};

#endif
