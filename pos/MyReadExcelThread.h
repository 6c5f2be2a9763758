/*
 * Loads POS tables on a background thread and hands each loaded table to
 * whoever listens, through a queued signal.
 */
#ifndef ORVEX_POS_MYREADEXCELTHREAD_H
#define ORVEX_POS_MYREADEXCELTHREAD_H

#include "MyExcelObject.h"

#include <QStringList>
#include <QThread>

#include <mutex>

class MyReadExcelThread : public QThread {
    Q_OBJECT
public:
    /* The process-wide reader, created on first use. */
    static MyReadExcelThread *instance();

    explicit MyReadExcelThread(QObject *parent = nullptr);
    /* Waits for the tables already queued to be loaded. */
    ~MyReadExcelThread() override;

    /* Queues a table; the thread is started when it is not loading already. */
    void load(const QString &path);

signals:
    /* One per queued path, emitted on the reader thread; the receiver owns the object. */
    void newObject(MyExcelObject *object);

protected:
    /* Loads every queued table, then ends. */
    void run() override;

private:
    std::mutex m_mutex;     /* a standard mutex, so that ThreadSanitizer sees it */
    QStringList m_queue;    /* guarded by m_mutex */
    bool m_loading = false; /* guarded by m_mutex: run() has not yet found the queue empty */
};

#endif
