/* A presenter for tests: records every warning and answers questions as told. */
#ifndef TESTS_RECORDINGPRESENTER_H
#define TESTS_RECORDINGPRESENTER_H

#include "platform/DialogPresenter.h"

#include <QStringList>

class RecordingPresenter : public DialogPresenter {
public:
    RecordingPresenter() { m_previous = DialogPresenter::install(this); }
    ~RecordingPresenter() override { DialogPresenter::install(m_previous); }

    void warn(QWidget *, const QString &line1, const QString &line2) override
    {
        warnings << (line2.isEmpty() ? line1 : line1 + QLatin1Char('|') + line2);
    }
    bool ask(QWidget *, const QString &question) override
    {
        questions << question;
        return answer;
    }

    QString askSaveFile(QWidget *, const QString &caption, const QString &name,
                        const QString &) override
    {
        questions << caption + QLatin1Char('|') + name;
        return saveAnswer;
    }

    QString askDirectory(QWidget *, const QString &caption, const QString &) override
    {
        questions << caption;
        return directoryAnswers.isEmpty() ? QString() : directoryAnswers.takeFirst();
    }
    QString askOpenFile(QWidget *, const QString &caption, const QString &) override
    {
        questions << caption;
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }

    QStringList warnings;
    QStringList questions;
    bool answer = true;
    QString saveAnswer;           /* the file name a save question gets */
    QStringList directoryAnswers; /* the folders folder questions get, in turn */
    QStringList openAnswers;      /* the files open questions get, in turn */

private:
    DialogPresenter *m_previous = nullptr;
};

#endif
