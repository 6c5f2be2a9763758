/*
 * The photo tool page: the operator chooses a folder and starts; a MyThread
 * resets the EXIF orientation of every photo under it to 1 while the page
 * shows the count, the progress and, at the end, the photos it could not
 * change.
 */
#ifndef TOOLS_MODIFYWIDGET_H
#define TOOLS_MODIFYWIDGET_H

#include "MyThread.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class ModifyWidget : public QWidget {
    Q_OBJECT

public:
    explicit ModifyWidget(QWidget *parent = nullptr);

    /* For tests. */
    QString folder() const { return m_folder; }
    QString status() const;
    QStringList failures() const { return m_failures; }
    bool running() const { return m_worker != nullptr; }
    QPushButton *startButton() const { return m_start; }
    QPushButton *chooseButton() const { return m_choose; }

public slots:
    /* Start: a new worker over the chosen folder, unless one is running or none is chosen. */
    void onClicked();
    /* Choose the folder. */
    void onClicked2();
    void onSendCount(int count);
    void onSendSuucess();

private:
    void onSendProgress(int done, int total);
    void onSendFailed(const QString &path, const QString &reason);
    void onWorkerFinished();

    QString m_folder;
    QStringList m_failures;
    QPointer<MyThread> m_worker;
    QLineEdit *m_path;
    QPushButton *m_choose;
    QPushButton *m_start;
    QLabel *m_status;
    QProgressBar *m_progress;
    QPlainTextEdit *m_failureList;
};

#endif
