#include "MyTipUi.h"

#include "FramelessWindow.h"
#include "Mylabel.h"

#include <QLabel>

namespace {

Mylabel *makeButton(QWidget *parent, const QString &caption, int x)
{
    auto *button = new Mylabel(parent);
    button->setImage(QStringLiteral(":/Orvex/res/btn_B_nor.png"));
    button->setGeometry(x, 135, 80, 30);
    auto *text = new QLabel(caption, button);
    text->setAlignment(Qt::AlignCenter);
    text->setGeometry(0, 0, 80, 30);
    text->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
    text->setAttribute(Qt::WA_TransparentForMouseEvents);
    return button;
}

} // namespace

MyTipUi::MyTipUi(const QString &question, QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);

    m_question = new QLabel(question, this);
    m_question->setWordWrap(true);
    m_question->setAlignment(Qt::AlignCenter);
    m_question->setFont(QFont(QStringLiteral("微软雅黑"), 11));
    m_question->setStyleSheet(QStringLiteral("color:rgb(255, 255, 255);"));
    /* A question of several lines (one per card, say) makes the box taller. */
    const int extra = qMax(0, m_question->heightForWidth(260) - 60);
    setFixedSize(320, 180 + extra);
    m_question->setGeometry(30, 50, 260, 60 + extra);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/bg_warningbox.png"));
    FramelessWindow::applyRoundedMask(this);

    Mylabel *yes = makeButton(this, tr("确定"), 60);
    Mylabel *no = makeButton(this, tr("取消"), 180);
    for (Mylabel *button : {yes, no})
        button->move(button->x(), button->y() + extra);
    connect(yes, &Mylabel::clicked, this, &QDialog::accept);
    connect(no, &Mylabel::clicked, this, &QDialog::reject);
}

QString MyTipUi::question() const
{
    return m_question->text();
}
