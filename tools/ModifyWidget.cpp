#include "ModifyWidget.h"

#include "MyThread.h"
#include "platform/DialogPresenter.h"
#include "shell/FramelessWindow.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {

const QString blueText = QStringLiteral("color:rgb(22, 155,213);");
const QString darkText = QStringLiteral("color: rgb(40, 40, 40);");

} // namespace

ModifyWidget::ModifyWidget(QWidget *parent) : QWidget(parent)
{
    setFixedSize(606, 508);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/configtest_bk.png"));

    auto *caption = new QLabel(tr("输入照片路径"), this);
    caption->setGeometry(30, 40, 100, 30);
    caption->setStyleSheet(darkText);
    m_path = new QLineEdit(this);
    m_path->setGeometry(130, 40, 340, 30);
    m_path->setReadOnly(true); // shows the chosen folder; the start button takes that one
    m_choose = new QPushButton(tr("选择目录"), this);
    m_choose->setGeometry(480, 40, 96, 30);
    m_start = new QPushButton(tr("开始"), this);
    m_start->setGeometry(253, 90, 100, 32);
    for (QPushButton *button : {m_choose, m_start}) {
        button->setFont(QFont(QStringLiteral("Microsoft YaHei")));
        button->setStyleSheet(blueText);
    }
    connect(m_start, &QPushButton::pressed, this, &ModifyWidget::onClicked);
    connect(m_choose, &QPushButton::pressed, this, &ModifyWidget::onClicked2);

    m_status = new QLabel(this);
    m_status->setGeometry(30, 140, 546, 30);
    m_status->setStyleSheet(darkText);
    m_progress = new QProgressBar(this);
    m_progress->setGeometry(30, 175, 546, 20);
    m_progress->hide();
    m_failureList = new QPlainTextEdit(this);
    m_failureList->setGeometry(30, 210, 546, 270);
    m_failureList->setReadOnly(true);
    m_failureList->hide();
}

QString ModifyWidget::status() const
{
    return m_status->text();
}

void ModifyWidget::onClicked()
{
    // One worker at a time: two over one folder would rewrite the same photos at once.
    if (m_folder.isEmpty() || m_worker)
        return;
    m_failures.clear();
    m_failureList->clear();
    m_failureList->hide();
    m_progress->hide();
    m_status->clear();
    m_start->setEnabled(false);

    m_worker = new MyThread(this);
    m_worker->setFolder(m_folder);
    connect(m_worker, &MyThread::SendCount, this, &ModifyWidget::onSendCount, Qt::QueuedConnection);
    connect(m_worker, &MyThread::SendProgress, this, &ModifyWidget::onSendProgress,
            Qt::QueuedConnection);
    connect(m_worker, &MyThread::SendFailed, this, &ModifyWidget::onSendFailed,
            Qt::QueuedConnection);
    connect(m_worker, &MyThread::SendSuucess, this, &ModifyWidget::onSendSuucess,
            Qt::QueuedConnection);
    connect(m_worker, &QThread::finished, this, &ModifyWidget::onWorkerFinished,
            Qt::QueuedConnection);
    m_worker->start();
}

void ModifyWidget::onClicked2()
{
    const QString folder =
        DialogPresenter::instance()->askDirectory(this, tr("请选择"), QDir::homePath());
    if (folder.isEmpty())
        return;
    m_folder = folder;
    m_path->setText(QDir::toNativeSeparators(folder));
}

void ModifyWidget::onSendCount(int count)
{
    m_status->setText(tr("总共%1张照片，正在处理中！").arg(count));
    m_progress->setRange(0, count > 0 ? count : 1);
    m_progress->setValue(0);
    m_progress->show();
}

void ModifyWidget::onSendProgress(int done, int total)
{
    m_progress->setRange(0, total > 0 ? total : 1);
    m_progress->setValue(done);
}

void ModifyWidget::onSendFailed(const QString &path, const QString &reason)
{
    m_failures << QDir::toNativeSeparators(path) + QStringLiteral("：") + reason;
}

void ModifyWidget::onSendSuucess()
{
    m_progress->setValue(m_progress->maximum());
    if (m_failures.isEmpty()) {
        m_status->setText(tr("处理完成"));
        return;
    }
    m_status->setText(tr("处理完成，%1个文件未能修改：").arg(m_failures.size()));
    m_failureList->setPlainText(m_failures.join(QLatin1Char('\n')));
    m_failureList->show();
}

void ModifyWidget::onWorkerFinished()
{
    if (m_worker)
        m_worker->deleteLater();
    m_worker = nullptr;
    m_start->setEnabled(true);
}
