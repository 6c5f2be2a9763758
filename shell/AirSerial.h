/* The communication window: network and serial-port tabs over the connection page. */
#ifndef SHELL_AIRSERIAL_H
#define SHELL_AIRSERIAL_H

#include <QDialog>

class Mylabel;
class QStackedWidget;
class WifiTitleBar;

class AirSerial : public QDialog {
    Q_OBJECT

public:
    static AirSerial *instance();

private slots:
    void onClicked();

private:
    explicit AirSerial(QWidget *parent = nullptr);

    WifiTitleBar *m_titleBar;
    Mylabel *m_networkTab;
    Mylabel *m_serialTab;
    QStackedWidget *m_stack;
};

#endif
