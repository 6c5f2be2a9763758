/* The modal warning box: two lines of text, a turning icon and an OK button. */
#ifndef SHELL_MYFLYUI_H
#define SHELL_MYFLYUI_H

#include <QDialog>

class Mylabel;
class QLabel;
class QTimer;

class MyFlyUi : public QDialog {
    Q_OBJECT

public:
    explicit MyFlyUi(QWidget *parent = nullptr);

    void setLines(const QString &first, const QString &second);
    QString firstLine() const;
    QString secondLine() const;
    /* Hide the OK button while the box only asks the user to wait. */
    void setButtonsVisible(bool visible);

private slots:
    void onTimeout();

private:
    QLabel *m_first;
    QLabel *m_second;
    QLabel *m_icon;
    Mylabel *m_ok;
    QTimer *m_spin;
    int m_frame = 0;
};

#endif
