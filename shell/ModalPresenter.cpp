#include "ModalPresenter.h"

#include "FramelessWindow.h"
#include "MyFlyUi.h"
#include "MyTipUi.h"

#include <QDir>
#include <QFileDialog>

void ModalPresenter::warn(QWidget *anchor, const QString &line1, const QString &line2)
{
    MyFlyUi box(anchor);
    box.setLines(line1, line2);
    if (anchor)
        FramelessWindow::centreOn(&box, anchor);
    box.exec();
}

bool ModalPresenter::ask(QWidget *anchor, const QString &question)
{
    MyTipUi box(question, anchor);
    if (anchor)
        FramelessWindow::centreOn(&box, anchor);
    return box.exec() == QDialog::Accepted;
}

QString ModalPresenter::askSaveFile(QWidget *anchor, const QString &caption, const QString &name,
                                    const QString &filter)
{
    return QFileDialog::getSaveFileName(anchor, caption, QDir::home().filePath(name), filter);
}

QString ModalPresenter::askDirectory(QWidget *anchor, const QString &caption, const QString &start)
{
    return QFileDialog::getExistingDirectory(anchor, caption,
                                             start.isEmpty() ? QDir::homePath() : start);
}

QString ModalPresenter::askOpenFile(QWidget *anchor, const QString &caption, const QString &filter)
{
    return QFileDialog::getOpenFileName(anchor, caption, QDir::homePath(), filter);
}
