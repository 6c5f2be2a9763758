/*
 * The reader thread runs only while there are tables to load. A path queued
 * while it runs is picked up by the same run; once run() has found the queue
 * empty (under the mutex) it ends, and the next load() starts it again.
 */
#include "MyReadExcelThread.h"

#include <QMetaMethod>

MyReadExcelThread *MyReadExcelThread::instance()
{
    static MyReadExcelThread thread;
    return &thread;
}

MyReadExcelThread::MyReadExcelThread(QObject *parent) : QThread(parent)
{
    qRegisterMetaType<MyExcelObject *>();
}

MyReadExcelThread::~MyReadExcelThread()
{
    wait();
    /* QThread::wait() synchronises through Qt's own primitives; taking the mutex the thread
       released last makes its end visible to race detectors as well. */
    const std::lock_guard<std::mutex> guard(m_mutex);
}

void MyReadExcelThread::load(const QString &path)
{
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        m_queue.append(path);
        if (m_loading)
            return;
        m_loading = true;
    }
    /* The previous run has decided to end but may not have returned yet: start() would be
       ignored while it is still running. */
    wait();
    start();
}

void MyReadExcelThread::run()
{
    const QMetaMethod signal = QMetaMethod::fromSignal(&MyReadExcelThread::newObject);
    while (true) {
        QString path;
        {
            const std::lock_guard<std::mutex> guard(m_mutex);
            if (m_queue.isEmpty()) {
                m_loading = false;
                return;
            }
            path = m_queue.takeFirst();
        }
        auto *object = new MyExcelObject;
        object->load(path);
        if (isSignalConnected(signal))
            emit newObject(object);
        else
            delete object; /* nobody would take ownership */
    }
}
