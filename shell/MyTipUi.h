/* The modal yes/no question box. */
#ifndef SHELL_MYTIPUI_H
#define SHELL_MYTIPUI_H

#include <QDialog>

class QLabel;

class MyTipUi : public QDialog {
    Q_OBJECT

public:
    explicit MyTipUi(const QString &question, QWidget *parent = nullptr);

    QString question() const;

private:
    QLabel *m_question;
};

#endif
