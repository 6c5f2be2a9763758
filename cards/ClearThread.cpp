#include "ClearThread.h"

ClearThread::ClearThread(const QList<ClearCard> &cards, const QString &saveFolder,
                         const QString &dataDir, QObject *parent)
    : QThread(parent), m_cards(cards), m_saveFolder(saveFolder), m_dataDir(dataDir)
{
}

void ClearThread::run()
{
    m_outcomes =
        CardClearer::clear(m_cards, m_saveFolder, m_dataDir,
                           [this](int disk, const QString &what) { emit step(disk, what); });
}
