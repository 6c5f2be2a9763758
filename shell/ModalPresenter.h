/* The program's presenter: MyFlyUi and MyTipUi, modal, centred on the anchor window. */
#ifndef SHELL_MODALPRESENTER_H
#define SHELL_MODALPRESENTER_H

#include "platform/DialogPresenter.h"

class ModalPresenter : public DialogPresenter {
public:
    void warn(QWidget *anchor, const QString &line1, const QString &line2) override;
    bool ask(QWidget *anchor, const QString &question) override;
    QString askSaveFile(QWidget *anchor, const QString &caption, const QString &name,
                        const QString &filter) override;
    QString askDirectory(QWidget *anchor, const QString &caption, const QString &start) override;
    QString askOpenFile(QWidget *anchor, const QString &caption, const QString &filter) override;
};

#endif
