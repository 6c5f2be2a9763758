/* Title bar of the communication window: its title and a close button that hides it. */
#ifndef SHELL_WIFITITLEBAR_H
#define SHELL_WIFITITLEBAR_H

#include <QWidget>

class Mylabel;
class QLabel;

class WifiTitleBar : public QWidget {
    Q_OBJECT

public:
    WifiTitleBar(const QString &title, QWidget *parent);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private slots:
    void onClicked();

private:
    QLabel *m_title;
    Mylabel *m_close;
};

#endif
