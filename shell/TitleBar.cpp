#include "TitleBar.h"

#include "FramelessWindow.h"
#include "Mylabel.h"
#include "platform/AppPaths.h"
#include "platform/DialogPresenter.h"

#include <QDesktopServices>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>

namespace {

Mylabel *makeButton(QWidget *parent, const char *image, QSize size, const QString &tip)
{
    auto *button = new Mylabel(parent);
    button->setImage(QString::fromLatin1(image));
    button->setFixedSize(size);
    button->setToolTip(tip);
    return button;
}

} // namespace

TitleBar::TitleBar(QWidget *parent) : QWidget(parent)
{
    setFixedSize(760, 32);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/title_bk.png"));

    m_logo = new QLabel(this);
    m_logo->setPixmap(QPixmap(QStringLiteral(":/Orvex/res/logo.png")));
    m_logo->setScaledContents(true);
    m_logo->setGeometry(8, 4, 108, 24);

    m_title = new QLabel(this);
    m_title->setGeometry(130, 0, 400, 32);
    m_title->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
    m_title->setText(parent->windowTitle());

    m_help = makeButton(this, ":/Orvex/res/help.png", {12, 12}, tr("帮助文档"));
    m_version = makeButton(this, ":/Orvex/res/update.png", {12, 14}, tr("版本信息"));
    m_minimise = makeButton(this, ":/Orvex/res/shrink.png", {32, 32}, tr("最小化"));
    m_close = makeButton(this, ":/Orvex/res/close.png", {12, 12}, tr("关闭"));
    m_help->move(640, 10);
    m_version->move(668, 9);
    m_minimise->move(690, 0);
    m_close->move(734, 10);
    for (Mylabel *button : {m_help, m_version, m_minimise, m_close})
        connect(button, &Mylabel::clicked, this, &TitleBar::onClicked);

    parent->installEventFilter(this);
}

const QString TitleBar::helpDocumentName = QStringLiteral("R7 Izurudizi.pdf");

bool TitleBar::openHelpDocument(QWidget *anchor, const QString &name)
{
    QStringList lookedIn;
    const QString document = AppPaths::findShared(name, &lookedIn);
    if (document.isEmpty()) {
        DialogPresenter::instance()->warn(
            anchor, tr("找不到帮助文档%1").arg(name),
            tr("已查找：%1").arg(lookedIn.join(QStringLiteral("、"))));
        return false;
    }
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(document)))
        return true;
    DialogPresenter::instance()->warn(anchor, tr("无法打开帮助文档"),
                                      tr("没有程序可以打开%1").arg(document));
    return false;
}

bool TitleBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::WindowTitleChange)
        m_title->setText(parentWidget()->windowTitle());
    return QWidget::eventFilter(watched, event);
}

void TitleBar::mousePressEvent(QMouseEvent *event)
{
    /* A press on the bar itself drags the frameless window. */
    if (event->button() == Qt::LeftButton)
        FramelessWindow::startDrag(this);
    event->ignore();
}

void TitleBar::onClicked()
{
    QWidget *window = this->window();
    if (!window->isWindow() || !window->isVisible())
        return;
    const QObject *button = sender();
    if (button == m_help) {
        openHelpDocument(window);
    } else if (button == m_version) {
        emit versionRequested();
    } else if (button == m_minimise) {
        window->showMinimized();
    } else if (button == m_close) {
        emit signalclose();
        window->close();
    }
}
