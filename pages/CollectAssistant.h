/* The collection assistant page: flight parameters from lens and overlaps. */
#ifndef PAGES_COLLECTASSISTANT_H
#define PAGES_COLLECTASSISTANT_H

#include <QWidget>

class CollectAssistant : public QWidget {
    Q_OBJECT

public:
    explicit CollectAssistant(QWidget *parent = nullptr);
};

#endif
