/* The image clearing page: formatting and restoring the memory cards. */
#ifndef CARDS_REDUCTIONWIDGET_H
#define CARDS_REDUCTIONWIDGET_H

#include <QWidget>

class ReductionWidget : public QWidget {
    Q_OBJECT

public:
    static ReductionWidget *instance();

private:
    explicit ReductionWidget(QWidget *parent = nullptr);
};

#endif
