#include "MyThread.h"

#include "OrientationReset.h"

MyThread::MyThread(QObject *parent) : QThread(parent) {}

MyThread::~MyThread()
{
    requestInterruption();
    wait();
}

void MyThread::run()
{
    if (m_folder.isEmpty())
        return;
    const OrientationSummary summary = OrientationReset::run(
        m_folder, [this](int count) { emit SendCount(count); },
        [this](int done, int total) { emit SendProgress(done, total); },
        [this] { return isInterruptionRequested(); });
    if (!summary.error.isEmpty()) {
        // The folder itself could not be listed: no photo was found in it.
        emit SendFailed(m_folder, summary.error);
        emit SendCount(0);
    }
    for (const OrientationFailure &failure : summary.failures)
        emit SendFailed(failure.path, failure.reason);
    emit SendSuucess();
}
