/*
 * The camera watch thread: measures the free and total space of the lens
 * cards plugged into the computer and hands the figures to the clearing page,
 * then asks it to refresh (`upgrade()`) or to ask for the cameras (`popui()`).
 * It runs once per visit of the clearing page and ends.
 */
#ifndef CARDS_CHECKQ7THREAD_H
#define CARDS_CHECKQ7THREAD_H

#include <QStringList>
#include <QThread>

class CheckQ7Thread : public QThread {
    Q_OBJECT

public:
    /* `drives`: each lens's card mount path in disk order (LensTable); empty: no card. */
    explicit CheckQ7Thread(const QStringList &drives, QObject *parent = nullptr);

    /* The mount paths of the lens cards mounted now, in disk order; empty where none. */
    static QStringList currentDrives();

signals:
    void upgrade();
    void popui();
    /* A lens's figures in GB; -1 and -1 when its card is not there or cannot be measured. */
    void measured(int disk, double freeGb, double totalGb);

protected:
    void run() override;

private:
    const QStringList m_drives;
};

#endif
