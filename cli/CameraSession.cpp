#include "CameraSession.h"

#include "CliOutput.h"
#include "platform/AppSettings.h"
#include "pos/PosRules.h"
#include "shell/CameraFields.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

CameraSession::~CameraSession()
{
    if (!m_link)
        return;
    rvtele_stop(m_link);
    posfile_manager_exit(m_posManager);
    rvtele_free(m_link);
    q7x_free(m_camera);
    rvtele_module_exit();
}

bool CameraSession::open(QString *error)
{
    rvtele_module_init();
    const QString address = AppSettings::cameraAddress();
    const QByteArray name = address.toLatin1();
    m_link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, name.constData(), AppSettings::cameraPort(),
                          TAVRIN_RING_CAPACITY);
    if (m_link)
        m_camera = q7x_alloc(m_link);
    if (m_camera)
        m_posManager = posfile_manager_init(m_link);
    if (!m_posManager || rvtele_start(m_link) != 0) {
        *error = QStringLiteral("cannot open the link to the camera at %1:%2")
                     .arg(address)
                     .arg(AppSettings::cameraPort());
        return false;
    }
    return true;
}

bool CameraSession::waitForIdentity(double seconds)
{
    QElapsedTimer clock;
    clock.start();
    qint64 lastAsk = -1000;
    while (clock.elapsed() < seconds * 1000) {
        if (firmware() > 0 && !serial().isEmpty())
            return true;
        if (clock.elapsed() - lastAsk >= 500) {
            q7x_get_version(m_camera);
            lastAsk = clock.elapsed();
        }
        if (!pauseBriefly())
            return false;
    }
    return false;
}

QString CameraSession::serial() const
{
    return m_camera ? CameraFields::text(m_camera->serial_number) : QString();
}

double CameraSession::firmware() const
{
    if (!m_camera)
        return 0;
    return PosRules::firmwareNumber(CameraFields::load(m_camera->version_major),
                                    CameraFields::load(m_camera->version_minor));
}

int CameraSession::recordSize() const
{
    return PosRules::recordSizeForSerial(serial());
}

bool pauseBriefly(int milliseconds)
{
    QCoreApplication::processEvents();
    QThread::msleep(static_cast<unsigned long>(milliseconds));
    return !CliOutput::interrupted();
}
