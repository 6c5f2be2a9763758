/* The clickable picture label used for buttons and navigation entries. */
#ifndef SHELL_MYLABEL_H
#define SHELL_MYLABEL_H

#include <QLabel>

class Mylabel : public QLabel {
    Q_OBJECT

public:
    explicit Mylabel(QWidget *parent = nullptr);

    /* Show the picture at `path`, scaled to the label. */
    void setImage(const QString &path);
    QString image() const { return m_image; }

    int number = 0;                       // free integer for the page that owns the label
    QString drive = QStringLiteral("a:"); // a lens's card drive on the image page; "a:" = none
    bool flag = false;

signals:
    void clicked();
    void clickleave();
    void enterEvent();
    void leaveEvent();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QString m_image;
};

#endif
