/*
 * The clearing worker: clears the surveyed cards through the clearing engine
 * on its own thread while the page's wait box is up. Its outcomes are read on
 * the GUI thread once QThread::finished() has arrived.
 */
#ifndef CARDS_CLEARTHREAD_H
#define CARDS_CLEARTHREAD_H

#include "CardClearer.h"

#include <QList>
#include <QThread>

class ClearThread : public QThread {
    Q_OBJECT

public:
    ClearThread(const QList<ClearCard> &cards, const QString &saveFolder, const QString &dataDir,
                QObject *parent = nullptr);

    /* What became of each card; complete once the thread has finished. */
    QList<ClearOutcome> outcomes() const { return m_outcomes; }

signals:
    /* What is being done to a lens's card now (queued to the page). */
    void step(int disk, const QString &what);

protected:
    void run() override;

private:
    const QList<ClearCard> m_cards;
    const QString m_saveFolder;
    const QString m_dataDir;
    QList<ClearOutcome> m_outcomes;
};

#endif
