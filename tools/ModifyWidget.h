/* The photo tool page: resets the EXIF orientation of a folder of photographs. */
#ifndef TOOLS_MODIFYWIDGET_H
#define TOOLS_MODIFYWIDGET_H

#include <QWidget>

class ModifyWidget : public QWidget {
    Q_OBJECT

public:
    explicit ModifyWidget(QWidget *parent = nullptr);
};

#endif
