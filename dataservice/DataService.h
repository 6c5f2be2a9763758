/*
 * The image data page: the operator chooses each lens's photo folder, the
 * save folder and the POS tables, sets the options (sorties, zip volumes,
 * password), starts, pauses and resumes the transfer and watches it. The
 * page reads its controls and drives OffloadController; it holds no transfer
 * logic of its own.
 */
#ifndef DATASERVICE_DATASERVICE_H
#define DATASERVICE_DATASERVICE_H

#include "OffloadController.h"

#include <QStringList>
#include <QWidget>
#include <array>

class Mylabel;
class QCheckBox;
class QComboBox;
class QDeviceWatcher;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTextEdit;

class DataService : public QWidget {
    Q_OBJECT

public:
    static DataService *instance();

    /* For tests and the tour. */
    OffloadController &controller() { return m_controller; }
    QString lensSource(int disk) const { return m_sources[static_cast<size_t>(disk)]; }
    QString saveDir() const { return m_saveDir; }
    QString text() const;
    int progress() const;
    bool running() const { return m_state == Running; }
    bool paused() const { return m_state == Paused; }
    Mylabel *lensButton(int disk) const { return m_lensButtons[static_cast<size_t>(disk)]; }
    Mylabel *startControl() const { return m_start; }
    Mylabel *browseButton() const { return m_browse; }
    QPushButton *addButton() const { return m_add; }
    QCheckBox *verifyBox() const { return m_verify; }
    QCheckBox *sortieBox() const { return m_sorties; }
    QCheckBox *splitBox() const { return m_split; }
    QCheckBox *passwordBox() const { return m_usePassword; }
    QLineEdit *sizeEdit() const { return m_size; }
    QLineEdit *passwordEdit() const { return m_password; }
    QComboBox *unitBox() const { return m_unit; }

    /* Offer to continue an unfinished transfer (each time the page is shown). */
    void offerResume();

public slots:
    void onClicked();
    void slotnewObject(MyExcelObject *table);
    /* The main window is about to close: a running transfer is stopped and saved first. */
    void onsignalclose();

private:
    enum State { Idle, Running, Paused };

    explicit DataService(QWidget *parent = nullptr);
    void chooseLens(int disk);
    void chooseSaveDir();
    void addPosFile();
    void forgetPosFiles();
    void startOrPause();
    void setInputsEnabled(bool enabled);
    void showLensLine(int disk, int photos);
    void refreshText();
    void onProgress(int done, int planned);
    /* Per lens: photos planned, done, copied and verified. */
    QString lensLines() const;
    void onFinished(bool ok);

    OffloadController m_controller;
    State m_state = Idle;
    std::array<QString, 5> m_sources;
    std::array<QString, 5> m_lensLines;
    QString m_saveDir;
    QStringList m_posTables;
    QStringList m_posLines;
    QString m_statusLines;
    QStringList m_failures;
    qint64 m_lastBytes = 0;

    std::array<Mylabel *, 5> m_lensButtons{};
    Mylabel *m_path;
    Mylabel *m_browse;
    Mylabel *m_start;
    QPushButton *m_add;
    QPushButton *m_deselect;
    QCheckBox *m_verify;
    QCheckBox *m_sorties;
    QCheckBox *m_usePassword;
    QCheckBox *m_split;
    QLineEdit *m_password;
    QLineEdit *m_size;
    QComboBox *m_unit;
    QLabel *m_saveLabel;
    QProgressBar *m_progress;
    QTextEdit *m_text;
    QLabel *m_speed;
};

#endif
