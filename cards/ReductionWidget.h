/*
 * The image clearing page: how full each lens card is, and the restore
 * button that formats the cards and gives them back their card files, on a
 * worker thread behind a wait box. Cards are measured by the camera watch
 * thread each time the page is opened.
 */
#ifndef CARDS_REDUCTIONWIDGET_H
#define CARDS_REDUCTIONWIDGET_H

#include <QWidget>

#include <array>

class ClearThread;
class Mylabel;
class MyFlyUi;
class QLabel;
class QProgressBar;

class ReductionWidget : public QWidget {
    Q_OBJECT

public:
    static ReductionWidget *instance();

    /* A lens's figures in GB (disk order); both 0 or below means the card is not there. */
    void setSpace(int disk, double freeGb, double totalGb);
    /* Show the figures: "未连接" with a 0 to 100 bar, or used and total space. */
    void refreshStorage();
    /* Start the camera watch thread, as opening the page does. */
    void checkCards();

    /* For tests and the screenshot tour. */
    Mylabel *restoreButton() const { return m_restore; }
    QString storageText(int disk) const;
    int barValue(int disk) const;
    MyFlyUi *waitBox() const { return m_box; }
    bool cardsPresent() const { return m_cardsPresent; }
    bool working() const { return m_thread != nullptr; }

public slots:
    void UpGrade();
    void poptip();
    void closetip();

private:
    explicit ReductionWidget(QWidget *parent = nullptr);
    void restore();
    bool eventFilter(QObject *watched, QEvent *event) override;

    struct Row {
        QProgressBar *bar = nullptr;
        QLabel *storage = nullptr;
        QLabel *status = nullptr;
        double freeGb = -1.0;
        double totalGb = -1.0;
    };
    std::array<Row, 5> m_rows; /* by disk number */
    Mylabel *m_restore = nullptr;
    QLabel *m_step = nullptr;
    MyFlyUi *m_box = nullptr;
    ClearThread *m_thread = nullptr;
    bool m_cardsPresent = false;
    bool m_checking = false;
};

#endif
