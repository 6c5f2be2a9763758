/*
 * The POS download page. It owns the POS transfer manager of the current
 * link; the connection manager sets it up on connect and clears the page's
 * transfer view on disconnect.
 */
#ifndef POS_DOWNLOADDATA_H
#define POS_DOWNLOADDATA_H

#include "tavrin/tavrin.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QProgressBar;
class QTableWidget;

class DownloadData : public QWidget {
    Q_OBJECT

public:
    static DownloadData *instance();
    ~DownloadData() override;

    posfile_manager_t *transferManager() const { return m_manager; }
    /* A manager on `link`; one left from an earlier link is released first. */
    void setupTransferManager(rvtele_t *link);
    /* Empty the list, the status label and the progress bar. */
    void clearTransferView();
    /* Per-lens option for the camera's POS record size (52: shown, 0/-1/32: hidden). */
    void showLensOption(int recordSize);
    bool lensOptionVisible() const;

private:
    explicit DownloadData(QWidget *parent = nullptr);

    posfile_manager_t *m_manager = nullptr;
    QTableWidget *m_list;
    QLabel *m_status;
    QProgressBar *m_progress;
    QCheckBox *m_lensOption;
    QLabel *m_lensNote;
};

#endif
