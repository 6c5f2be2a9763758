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

    /* Path of the help document the help button opens. */
    static QString helpDocumentPath();

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
