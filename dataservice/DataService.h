/* The image data page: offloading the five memory cards. */
#ifndef DATASERVICE_DATASERVICE_H
#define DATASERVICE_DATASERVICE_H

#include <QWidget>

class DataService : public QWidget {
    Q_OBJECT

public:
    static DataService *instance();

public slots:
    /* The main window is about to close: a running transfer is saved first. */
    void onsignalclose();

private:
    explicit DataService(QWidget *parent = nullptr);
};

#endif
