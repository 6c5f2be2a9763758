#include "FirmwareUpgrade.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QXmlStreamReader>

namespace {

const QString configName = QStringLiteral("UpdateConfig.xml");

/* The upgrader's pace: one block of at most 200 bytes every 150 ms. */
constexpr qint64 blockBytes = 200;
constexpr qint64 blockMs = 150;
constexpr int pollMs = 500;
constexpr int requestSettleMs = 1000;

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

/* Why `path` cannot be opened for reading, in the system's words. */
QString openError(const QString &path)
{
    QFile file(path);
    if (!QFileInfo::exists(path))
        return QStringLiteral("no such file");
    if (!QFileInfo(path).isFile())
        return QStringLiteral("not a file");
    return file.open(QIODevice::ReadOnly) ? QStringLiteral("read error") : file.errorString();
}

} // namespace

UpdateConfig readUpdateConfig()
{
    QStringList searched;
    const QString found = AppPaths::findShared(configName, &searched);
    if (!found.isEmpty())
        return readUpdateConfig(found);
    UpdateConfig config;
    config.file = AppPaths::programDir() + QLatin1Char('/') + configName;
    config.problem = QStringLiteral("%1 not found (looked in %2)")
                         .arg(configName, searched.join(QStringLiteral(", ")));
    return config;
}

UpdateConfig readUpdateConfig(const QString &file)
{
    UpdateConfig config;
    config.file = file;
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly)) {
        config.problem = QStringLiteral("%1: %2").arg(native(file), input.errorString());
        return config;
    }
    QXmlStreamReader xml(&input);
    if (!xml.readNextStartElement()) {
        config.problem =
            QStringLiteral("%1: not an XML document (%2)").arg(native(file), xml.errorString());
        return config;
    }
    if (xml.name() != QLatin1String("config")) {
        config.problem = QStringLiteral("%1: the document element is <%2>, not <config>")
                             .arg(native(file), xml.name().toString());
        return config;
    }
    bool haveName = false;
    bool haveNum = false;
    /* The first "filename" and the first "num" among the children of <config>. */
    while (xml.readNextStartElement()) {
        const QString value = xml.attributes().value(QLatin1String("value")).toString();
        if (xml.name() == QLatin1String("filename") && !haveName) {
            haveName = true;
            if (!value.isEmpty())
                config.firmwarePath = QFileInfo(file).absoluteDir().filePath(value);
        } else if (xml.name() == QLatin1String("num") && !haveNum) {
            haveNum = true;
            config.newestVersion = value.trimmed();
        }
        xml.skipCurrentElement();
    }
    QStringList missing;
    if (config.firmwarePath.isEmpty())
        missing << QStringLiteral("<filename value=\"...\">");
    if (config.newestVersion.isEmpty())
        missing << QStringLiteral("<num value=\"...\">");
    if (xml.hasError())
        config.problem = QStringLiteral("%1: line %2: %3")
                             .arg(native(file))
                             .arg(xml.lineNumber())
                             .arg(xml.errorString());
    else if (!missing.isEmpty())
        config.problem = QStringLiteral("%1: no %2 in <config>")
                             .arg(native(file), missing.join(QStringLiteral(" and no ")));
    return config;
}

FirmwareUpgrade::FileKind FirmwareUpgrade::inspect(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    switch (rvupgrader_file_is_encrypt(name.constData())) {
    case 0:
        return FileKind::Plain;
    case 1:
        return FileKind::Encrypted;
    default:
        return FileKind::Unreadable;
    }
}

QString FirmwareUpgrade::decryptedPath()
{
    return AppPaths::dataDir() + QStringLiteral("/tempfile.bin");
}

FirmwareUpgrade::Firmware FirmwareUpgrade::prepare(const QString &chosen, bool decrypt)
{
    Firmware firmware;
    firmware.chosen = chosen;
    const auto refuse = [&firmware](Failure failure, const QString &reason) {
        if (firmware.decrypted)
            QFile::remove(decryptedPath());
        firmware.path.clear();
        firmware.decrypted = false;
        firmware.failure = failure;
        firmware.reason = reason;
        return firmware;
    };
    const FileKind kind = inspect(chosen);
    if (kind == FileKind::Unreadable)
        return refuse(Failure::Unreadable,
                      QStringLiteral("cannot read %1: %2").arg(native(chosen), openError(chosen)));
    if (kind == FileKind::Encrypted) {
        if (!decrypt)
            return refuse(
                Failure::Unreadable,
                QStringLiteral("%1 is encrypted and was not decrypted").arg(native(chosen)));
        /* The decryption writes beside its destination and renames, so a failure leaves
         * whatever was there; an old copy must not be taken for this file's. */
        QFile::remove(decryptedPath());
        const QByteArray source = QFile::encodeName(chosen);
        const QByteArray target = QFile::encodeName(decryptedPath());
        if (rvupgrader_file_decrypt(source.constData(), target.constData()) != 1)
            return refuse(Failure::Undecryptable,
                          QStringLiteral("cannot decrypt %1 into %2")
                              .arg(native(chosen), native(decryptedPath())));
        firmware.decrypted = true;
    }
    firmware.path = firmware.decrypted ? decryptedPath() : chosen;
    const QByteArray name = QFile::encodeName(firmware.path);
    rvupgrader_fileinfo_t info{};
    if (rvupgrader_get_fileinfo(name.constData(), &info) != 0) {
        if (inspect(firmware.path) == FileKind::Encrypted)
            return refuse(Failure::Unreadable,
                          QStringLiteral("%1 is still encrypted").arg(native(firmware.path)));
        return refuse(Failure::Unreadable,
                      QStringLiteral("cannot read %1: %2")
                          .arg(native(firmware.path), openError(firmware.path)));
    }
    if (info.length == 0)
        return refuse(Failure::Unreadable,
                      QStringLiteral("%1 holds no firmware (0 bytes)").arg(native(firmware.path)));
    firmware.length = info.length;
    return firmware;
}

void FirmwareUpgrade::discard(Firmware &firmware)
{
    if (firmware.decrypted)
        QFile::remove(firmware.path);
    firmware.decrypted = false;
}

FirmwareUpgrade::Options FirmwareUpgrade::manualOptions()
{
    Options options;
    options.requestFirst = true;
    return options;
}

/* Every upgrade requests the upgrader afresh: one that reused the context of an earlier upgrade
 * in the same link session would start from that upgrade's offsets. */
FirmwareUpgrade::Options FirmwareUpgrade::configuredOptions()
{
    return manualOptions();
}

FirmwareUpgrade::Options FirmwareUpgrade::localOptions()
{
    Options options = manualOptions();
    options.announce1 = 3;
    options.announce2 = 22;
    options.tag = "20180510";
    return options;
}

FirmwareUpgrade::FirmwareUpgrade(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (m_state == State::Requesting)
            begin();
        else if (m_state == State::Running)
            poll();
    });
}

FirmwareUpgrade::~FirmwareUpgrade()
{
    cancel();
}

void FirmwareUpgrade::start(rvtele_t *link, rvupgrader_t *upgrader, const Firmware &firmware,
                            const Options &options)
{
    if (isActive())
        return;
    m_firmware = firmware;
    m_options = options;
    m_upgrader = upgrader;
    m_progress = 0;
    m_stage = -1;
    m_finishedFlag = 0;
    m_failure = Failure::None;
    m_reason.clear();
    if (firmware.path.isEmpty()) {
        fail(firmware.failure == Failure::None ? Failure::Unreadable : firmware.failure,
             firmware.reason.isEmpty() ? QStringLiteral("no firmware file") : firmware.reason);
        return;
    }
    if (options.requestFirst) {
        if (!link) {
            fail(Failure::NoLink, QStringLiteral("no camera link"));
            return;
        }
        m_upgrader = rvupgrader_request(link, RVUPGRADER_MSG_ID);
        /* The loader is given a second before the first command, on a timer: the
         * window (or the terminal's progress) stays alive meanwhile. */
        m_state = State::Requesting;
        m_timer->setSingleShot(true);
        m_timer->start(requestSettleMs);
        return;
    }
    begin();
}

void FirmwareUpgrade::begin()
{
    if (!m_upgrader) {
        fail(Failure::NoLink, QStringLiteral("no upgrader on the camera link"));
        return;
    }
    const QByteArray path = QFile::encodeName(m_firmware.path);
    const QByteArray tag = m_options.tag.left(8);
    rvupgrader_prepare_firmware(m_upgrader, path.constData(), m_options.announce1,
                                m_options.announce2, tag.constData());
    if (rvupgrader_start(m_upgrader) != 0) {
        fail(Failure::Refused,
             QStringLiteral("the upgrader would not start with %1").arg(native(m_firmware.path)));
        return;
    }
    rvupgrader_set(m_upgrader);
    m_state = State::Running;
    m_stage = rvupgrader_get_stage(m_upgrader);
    m_sinceChange.start();
    m_timer->setSingleShot(false);
    m_timer->start(pollMs);
    emit started();
    emit progressChanged(m_progress);
}

qint64 FirmwareUpgrade::stallLimitMs() const
{
    /* A large file may need longer than the stall time for one percent at the upgrader's
     * pace; allow two such steps before calling it stalled. */
    const qint64 percentBytes = m_firmware.length / 100 + 1;
    const qint64 percentMs = (percentBytes + blockBytes - 1) / blockBytes * blockMs;
    return qMax<qint64>(qint64(m_options.stallSeconds) * 1000, 2 * percentMs);
}

void FirmwareUpgrade::poll()
{
    const int stage = rvupgrader_get_stage(m_upgrader);
    const int progress = rvupgrader_get_progress(m_upgrader);
    const int finishedFlag = rvupgrader_get_rev(m_upgrader);
    if (stage != m_stage || progress != m_progress || finishedFlag != m_finishedFlag)
        m_sinceChange.restart();
    m_stage = stage;
    m_finishedFlag = finishedFlag;
    if (progress != m_progress) {
        m_progress = progress;
        emit progressChanged(progress);
    }
    /* Done only once the loader has confirmed the image (stage 5), not when the last bytes and
     * the upgrade-over command have merely been sent: a loader that rejects the image must not
     * be reported as a success. */
    if (progress == 100 && finishedFlag == 1 && stage == RVUPGRADER_DONE) {
        m_timer->stop();
        rvupgrader_stop(m_upgrader);
        setprogressempty(m_upgrader);
        release();
        m_state = State::Finished;
        emit finished();
        return;
    }
    if (stage == RVUPGRADER_FAILED) {
        fail(Failure::ReadError, QStringLiteral("the upgrader could not read %1 while sending it")
                                     .arg(native(m_firmware.path)));
        return;
    }
    if (m_sinceChange.elapsed() >= stallLimitMs())
        fail(Failure::Stalled,
             QStringLiteral("the upgrade stopped progressing: no progress for %1 s at %2%")
                 .arg(m_sinceChange.elapsed() / 1000)
                 .arg(m_progress));
}

void FirmwareUpgrade::fail(Failure failure, const QString &reason)
{
    m_timer->stop();
    if (m_upgrader && (m_state == State::Running || m_state == State::Requesting))
        rvupgrader_stop(m_upgrader);
    release();
    m_state = State::Failed;
    m_failure = failure;
    m_reason = reason;
    emit failed(failure, reason);
}

void FirmwareUpgrade::cancel()
{
    m_timer->stop();
    if (m_upgrader && isActive())
        rvupgrader_stop(m_upgrader);
    if (isActive())
        m_state = State::Idle;
    release();
}

void FirmwareUpgrade::release()
{
    discard(m_firmware);
}
