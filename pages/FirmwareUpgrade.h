/*
 * The firmware upgrade as the device pages and orvex-cli run it, without
 * widgets: the firmware file checked (and decrypted into the data folder when
 * it is encrypted), the library's upgrader requested, prepared, started and
 * polled on timers of the calling thread, never with a blocking wait. An
 * upgrade that stops progressing is stopped and reported. Also the reading
 * of UpdateConfig.xml, which names the firmware file and the newest version.
 */
#ifndef PAGES_FIRMWAREUPGRADE_H
#define PAGES_FIRMWAREUPGRADE_H

#include "tavrin/tavrin.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;

/* What UpdateConfig.xml says; `problem` tells what is missing and where it was looked for. */
struct UpdateConfig {
    QString file;          /* the UpdateConfig.xml read, or the first place it was looked for */
    QString firmwarePath;  /* "filename" value, beside UpdateConfig.xml; empty when missing */
    QString newestVersion; /* "num" value (4.5); empty when missing */
    QString problem;       /* empty when both were found */
};

/* UpdateConfig.xml found beside the program or in the installed data folder. */
UpdateConfig readUpdateConfig();
/* The given UpdateConfig.xml. */
UpdateConfig readUpdateConfig(const QString &file);

class FirmwareUpgrade : public QObject {
    Q_OBJECT

public:
    /* What a chosen firmware file is. */
    enum class FileKind { Plain, Encrypted, Unreadable };
    static FileKind inspect(const QString &path);

    /* Why an upgrade did not happen. */
    enum class Failure {
        None,
        Unreadable,    /* the file cannot be read (or is empty, or still encrypted) */
        Undecryptable, /* the encrypted file could not be decrypted */
        NoLink,        /* no camera link or no upgrader */
        Refused,       /* the upgrader would not start */
        Stalled,       /* no progress for the stall time */
        ReadError      /* the upgrader could not read the file while sending */
    };
    Q_ENUM(Failure)

    /* The file to send: the chosen one, or its decrypted copy in the data folder. */
    struct Firmware {
        QString chosen;
        QString path; /* empty when there is nothing to send */
        quint32 length = 0;
        bool decrypted = false;
        Failure failure = Failure::None;
        QString reason; /* English, names the file */
    };
    /*
     * Check `chosen` and, with `decrypt`, decrypt it into decryptedPath().
     * Nothing goes to the camera here; a failure leaves no decrypted copy.
     */
    static Firmware prepare(const QString &chosen, bool decrypt);
    /* Remove the decrypted copy of firmware that will not be sent after all. */
    static void discard(Firmware &firmware);
    /* Where decrypted firmware goes: tempfile.bin in the data folder. */
    static QString decryptedPath();

    /* How the upgrade greets the loader. */
    struct Options {
        bool requestFirst = false; /* request the upgrader on the link, then wait a second */
        quint8 announce1 = 0;
        quint8 announce2 = 0;
        QByteArray tag = "0";
        int stallSeconds = 30; /* no visible progress for this long: failed */
    };
    /* The device page's "更新": request, wait a second, announce 0, 0, "0". */
    static Options manualOptions();
    /* The upgrade offered from UpdateConfig.xml: as the manual one. */
    static Options configuredOptions();
    /* The version dialog's "本地升级": requested afresh too, announce 3, 22, "20180510". */
    static Options localOptions();

    enum class State { Idle, Requesting, Running, Finished, Failed };

    explicit FirmwareUpgrade(QObject *parent = nullptr);
    /* Stops a running upgrade and removes the decrypted copy. */
    ~FirmwareUpgrade() override;

    /*
     * Send `firmware` over `link` (needed with requestFirst) with `upgrader`
     * (the link's, used without requestFirst). Returns at once; the outcome
     * comes by finished() or failed(), also when it is known at once, so
     * connect before starting. Ignored while an upgrade runs.
     */
    void start(rvtele_t *link, rvupgrader_t *upgrader, const Firmware &firmware,
               const Options &options);
    /* Stop a running upgrade without a signal. */
    void cancel();

    State state() const { return m_state; }
    bool isActive() const { return m_state == State::Requesting || m_state == State::Running; }
    int progress() const { return m_progress; }
    quint32 length() const { return m_firmware.length; }
    Failure failure() const { return m_failure; }
    QString reason() const { return m_reason; }
    rvupgrader_t *upgrader() const { return m_upgrader; }

signals:
    /* The upgrader was started: the file is on its way. */
    void started();
    void progressChanged(int percent);
    /* 100 % acknowledged and upgrade-over sent; the upgrader is stopped. */
    void finished();
    void failed(FirmwareUpgrade::Failure failure, const QString &reason);

private:
    void begin();
    void poll();
    void fail(Failure failure, const QString &reason);
    void release();
    qint64 stallLimitMs() const;

    QTimer *m_timer;
    State m_state = State::Idle;
    Firmware m_firmware;
    Options m_options;
    rvupgrader_t *m_upgrader = nullptr;
    int m_progress = 0;
    int m_stage = -1;
    int m_finishedFlag = 0;
    QElapsedTimer m_sinceChange;
    Failure m_failure = Failure::None;
    QString m_reason;
};

#endif
