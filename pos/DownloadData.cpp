#include "DownloadData.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <atomic>

DownloadData *DownloadData::instance()
{
    static DownloadData *page = new DownloadData;
    return page;
}

DownloadData::DownloadData(QWidget *parent) : QWidget(parent)
{
    m_list = new QTableWidget(0, 3, this);
    m_list->setGeometry(20, 60, 560, 300);
    m_status = new QLabel(this);
    m_status->setGeometry(20, 370, 400, 22);
    m_progress = new QProgressBar(this);
    m_progress->setGeometry(20, 400, 560, 20);
    m_progress->setValue(0);
    m_lensOption = new QCheckBox(tr("分相机POS"), this);
    m_lensOption->setGeometry(20, 20, 150, 24);
    m_lensNote = new QLabel(this);
    m_lensNote->setGeometry(180, 20, 300, 24);
    m_lensOption->hide();
    m_lensNote->hide();
}

DownloadData::~DownloadData()
{
    posfile_manager_exit(m_manager);
}

void DownloadData::setupTransferManager(rvtele_t *link)
{
    if (m_manager && m_manager->link == link)
        return;
    posfile_manager_exit(m_manager);
    m_manager = link ? posfile_manager_init(link) : nullptr;
}

void DownloadData::clearTransferView()
{
    m_list->setRowCount(0);
    m_list->clearContents();
    m_status->clear();
    m_progress->setValue(0);
}

void DownloadData::showLensOption(int recordSize)
{
    if (recordSize == 52) {
        m_lensOption->show();
        m_lensNote->show();
        if (m_manager)
            std::atomic_ref<uint32_t>(m_manager->lens_mode).store(1, std::memory_order_relaxed);
    } else if (recordSize == 0 || recordSize == -1 || recordSize == 32) {
        m_lensOption->hide();
        m_lensNote->hide();
        if (m_manager)
            std::atomic_ref<uint32_t>(m_manager->lens_mode).store(0, std::memory_order_relaxed);
    }
}

bool DownloadData::lensOptionVisible() const
{
    return !m_lensOption->isHidden();
}
