/* The configuration test page: collection strategy and device debug. */
#ifndef PAGES_CONFIGTESUI_H
#define PAGES_CONFIGTESUI_H

#include "tavrin/tavrin.h"

#include <QWidget>

class QLabel;

class ConfigTesUi : public QWidget {
    Q_OBJECT

public:
    explicit ConfigTesUi(QWidget *parent = nullptr);

    /* Take over the work parameters the camera last reported. */
    void refreshFromCamera(q7x_t *camera);
    const q7x_work_param_t &reportedParameters() const { return m_reported; }

private:
    q7x_work_param_t m_reported{};
    QLabel *m_title;
};

#endif
