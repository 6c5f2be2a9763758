/*
 * The photo tool's worker: resets the orientation of the photos under its
 * folder on its own thread and tells the page through queued signals.
 */
#ifndef TOOLS_MYTHREAD_H
#define TOOLS_MYTHREAD_H

#include <QString>
#include <QThread>

class MyThread : public QThread {
    Q_OBJECT

public:
    explicit MyThread(QObject *parent = nullptr);
    /* Asks the run to stop after the photo at hand and waits for it. */
    ~MyThread() override;

    /* The folder to work on; set before start(). */
    void setFolder(const QString &folder) { m_folder = folder; }

signals:
    /* The number of photos found, once they are collected. */
    void SendCount(int count);
    /* `done` of `total` photos handled, after each one. */
    void SendProgress(int done, int total);
    /* A photo (or a folder) that could not be changed, and why; before SendSuucess. */
    void SendFailed(const QString &path, const QString &reason);
    /* The work has ended. */
    void SendSuucess();

protected:
    void run() override;

private:
    QString m_folder;
};

#endif
