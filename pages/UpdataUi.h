/* The version dialog of the title bar: serial number and firmware version. */
#ifndef PAGES_UPDATAUI_H
#define PAGES_UPDATAUI_H

#include <QDialog>

class QLabel;
class QPushButton;

class UpdataUi : public QDialog {
    Q_OBJECT

public:
    explicit UpdataUi(QWidget *parent = nullptr);

private:
    QLabel *m_serial;
    QLabel *m_version;
    QLabel *m_status;
    QPushButton *m_localUpgrade;
    QPushButton *m_checkNew;
};

#endif
