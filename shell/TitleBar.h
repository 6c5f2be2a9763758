/* The main window's title bar: logo, title, help, version, minimise and close. */
#ifndef SHELL_TITLEBAR_H
#define SHELL_TITLEBAR_H

#include <QWidget>

class Mylabel;
class QLabel;

class TitleBar : public QWidget {
    Q_OBJECT

public:
    explicit TitleBar(QWidget *parent);

    /* File name of the help document the help button opens. */
    static const QString helpDocumentName;
    /*
     * Open the help document `name` (looked for by AppPaths::findShared) in the desktop's
     * viewer; when it is found nowhere, or no viewer takes it, say so through the dialog
     * presenter, centred on `anchor`, naming the folders looked in. True when it was opened.
     */
    static bool openHelpDocument(QWidget *anchor, const QString &name = helpDocumentName);

signals:
    void signalclose();
    /* The update button was pressed: the version dialog is wanted. */
    void versionRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onClicked();

private:
    QLabel *m_logo;
    QLabel *m_title;
    Mylabel *m_help;
    Mylabel *m_version;
    Mylabel *m_minimise;
    Mylabel *m_close;
};

#endif
