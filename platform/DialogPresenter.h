/*
 * Every message box and question of the program goes through the installed
 * presenter. The program's presenter shows modal dialogs; tests install one
 * that records the messages and answers the questions, so nothing blocks.
 */
#ifndef PLATFORM_DIALOGPRESENTER_H
#define PLATFORM_DIALOGPRESENTER_H

#include <QString>

class QWidget;

class DialogPresenter {
public:
    virtual ~DialogPresenter() = default;

    /* A warning of two lines, acknowledged with OK; `anchor` is the window to centre on. */
    virtual void warn(QWidget *anchor, const QString &line1, const QString &line2) = 0;
    /* A yes/no question; true when accepted. */
    virtual bool ask(QWidget *anchor, const QString &question) = 0;
    /*
     * A file name to save under, asked with `caption`, offering `name` (in the
     * user's home folder when relative) and the file `filter`; empty when the
     * user gave none.
     */
    virtual QString askSaveFile(QWidget *anchor, const QString &caption, const QString &name,
                                const QString &filter) = 0;
    /* A folder, asked with `caption` starting in `start` (the home folder when empty). */
    virtual QString askDirectory(QWidget *anchor, const QString &caption, const QString &start) = 0;
    /* An existing file to open, with the file `filter`; empty when the user gave none. */
    virtual QString askOpenFile(QWidget *anchor, const QString &caption, const QString &filter) = 0;

    /* The installed presenter (never none once the program or a test has installed one). */
    static DialogPresenter *instance();
    /* Install `presenter` (not owned); returns the previous one. */
    static DialogPresenter *install(DialogPresenter *presenter);
};

#endif
