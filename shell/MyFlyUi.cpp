#include "MyFlyUi.h"

#include "FramelessWindow.h"
#include "Mylabel.h"

#include <QLabel>
#include <QTimer>

namespace {
const char *const spinFrames[] = {":/Orvex/res/xuanzhuan.png", ":/Orvex/res/xuanzhuan1.png",
                                  ":/Orvex/res/xuanzhuan2.png"};
const QString whiteText = QStringLiteral("color:rgb(255, 255, 255);");
} // namespace

MyFlyUi::MyFlyUi(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(320, 180);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/bg_warningbox.png"));
    FramelessWindow::applyRoundedMask(this);

    m_icon = new QLabel(this);
    m_icon->setGeometry(30, 58, 32, 32);
    m_icon->setScaledContents(true);
    m_icon->setPixmap(QPixmap(QString::fromLatin1(spinFrames[0])));

    QFont font(QStringLiteral("微软雅黑"), 11);
    m_first = new QLabel(tr("请检查是否连接起落架！"), this);
    m_first->setGeometry(76, 48, 230, 24);
    m_second = new QLabel(this);
    m_second->setGeometry(76, 74, 230, 40);
    m_second->setWordWrap(true);
    for (QLabel *line : {m_first, m_second}) {
        line->setFont(font);
        line->setStyleSheet(whiteText);
    }

    m_ok = new Mylabel(this);
    m_ok->setImage(QStringLiteral(":/Orvex/res/btn_B_nor.png"));
    m_ok->setGeometry(120, 135, 80, 30);
    auto *caption = new QLabel(tr("确定"), m_ok);
    caption->setAlignment(Qt::AlignCenter);
    caption->setGeometry(0, 0, 80, 30);
    caption->setStyleSheet(whiteText);
    caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(m_ok, &Mylabel::clicked, this, &QDialog::accept);

    m_spin = new QTimer(this);
    connect(m_spin, &QTimer::timeout, this, &MyFlyUi::onTimeout);
    m_spin->start(200);
}

void MyFlyUi::setLines(const QString &first, const QString &second)
{
    m_first->setText(first);
    m_second->setText(second);
}

QString MyFlyUi::firstLine() const
{
    return m_first->text();
}

QString MyFlyUi::secondLine() const
{
    return m_second->text();
}

void MyFlyUi::setButtonsVisible(bool visible)
{
    m_ok->setVisible(visible);
}

void MyFlyUi::onTimeout()
{
    m_frame = (m_frame + 1) % 3;
    m_icon->setPixmap(QPixmap(QString::fromLatin1(spinFrames[m_frame])));
}
