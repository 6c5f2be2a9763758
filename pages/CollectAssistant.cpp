#include "CollectAssistant.h"

#include "FlightPlanner.h"
#include "platform/DialogPresenter.h"
#include "shell/FramelessWindow.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"

#include <QComboBox>
#include <QDoubleValidator>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>

namespace {

const QString darkText = QStringLiteral("color: rgb(40, 40, 40);");

/* The form: captions at x 150, fields at x 290, one row every 44 px from y 70. */
constexpr int captionX = 150;
constexpr int fieldX = 290;
constexpr int fieldWidth = 160;
constexpr int rowHeight = 26;
constexpr int firstRow = 70;
constexpr int rowStep = 44;

int rowY(int row)
{
    return firstRow + row * rowStep;
}

QLabel *caption(QWidget *parent, const QString &text, int x, int y, int width = 130)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, y, width, rowHeight);
    label->setFont(QFont(QStringLiteral("微软雅黑"), 11));
    label->setStyleSheet(darkText);
    return label;
}

/*
 * Decimal fields take numbers from 0 to 100 with up to 3 decimals as they are
 * typed; what typing can leave behind beyond that (1000, 1e3, ".5") is for
 * the calculation's checks to refuse.
 */
QLineEdit *decimalField(QWidget *parent, int row)
{
    auto *edit = new QLineEdit(parent);
    edit->setGeometry(fieldX, rowY(row), fieldWidth, rowHeight);
    auto *validator = new QDoubleValidator(0, 100, 3, edit);
    validator->setLocale(QLocale::c());
    edit->setValidator(validator);
    return edit;
}

QLineEdit *percentField(QWidget *parent, int row, const QString &text)
{
    auto *edit = new QLineEdit(text, parent);
    edit->setGeometry(fieldX, rowY(row), fieldWidth, rowHeight);
    edit->setValidator(new QIntValidator(0, 100, edit));
    /* A whole number above 99 becomes 100 as it is typed; setText does not re-enter here. */
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString &typed) {
        const QString kept = FlightPlanner::cappedOverlap(typed);
        if (kept != typed)
            edit->setText(kept);
    });
    return edit;
}

} // namespace

CollectAssistant::CollectAssistant(QWidget *parent) : QWidget(parent)
{
    setFixedSize(606, 508);
    FramelessWindow::setBackground(this, QStringLiteral(":/Orvex/res/configtest_bk.png"));

    caption(this, tr("相机型号："), captionX, rowY(0));
    caption(this, QStringLiteral("KorvellaQ7"), fieldX, rowY(0), fieldWidth);

    caption(this, tr("焦距（mm）:"), captionX, rowY(1));
    m_focal = decimalField(this, 1);

    caption(this, tr("重叠度："), captionX, rowY(2));
    m_forward = percentField(this, 2, FlightPlanner::defaultForward);
    caption(this, tr("旁向重叠度："), captionX, rowY(3));
    m_side = percentField(this, 3, FlightPlanner::defaultSide);

    caption(this, tr("比例尺："), captionX, rowY(4));
    m_scale = new QComboBox(this);
    m_scale->setGeometry(fieldX, rowY(4), fieldWidth, rowHeight);
    m_scale->addItems(FlightPlanner::scales);
    /* Only the operator's choice sets the GSD: a scale selected from a typed GSD does not. */
    connect(m_scale, &QComboBox::activated, this, &CollectAssistant::onScaleChosen);

    caption(this, tr("GSD（cm）："), captionX, rowY(5));
    m_gsd = decimalField(this, 5);
    m_gsd->setText(FlightPlanner::gsdForScale(m_scale->currentIndex()));
    connect(m_gsd, &QLineEdit::textEdited, this, &CollectAssistant::onGsdEdited);

    m_calculate = new Mylabel(this);
    m_calculate->setGeometry(253, rowY(6) + 4, 100, 32);
    m_calculate->setImage(QStringLiteral(":/Orvex/res/calc.png"));
    connect(m_calculate, &Mylabel::clicked, this, &CollectAssistant::onCalculate);

    const int resultsY = rowY(7) + 10;
    caption(this, tr("飞行高度："), 50, resultsY, 90);
    m_altitude = caption(this, QString(), 140, resultsY, 80);
    caption(this, tr("航向间隔："), 225, resultsY, 90);
    m_photoBase = caption(this, QString(), 315, resultsY, 80);
    caption(this, tr("航线间隔："), 400, resultsY, 90);
    m_lineSpacing = caption(this, QString(), 490, resultsY, 80);
}

QString CollectAssistant::altitudeText() const
{
    return m_altitude->text();
}

QString CollectAssistant::photoBaseText() const
{
    return m_photoBase->text();
}

QString CollectAssistant::lineSpacingText() const
{
    return m_lineSpacing->text();
}

void CollectAssistant::onScaleChosen(int index)
{
    m_gsd->setText(FlightPlanner::gsdForScale(index));
}

void CollectAssistant::onGsdEdited(const QString &text)
{
    const int scale = FlightPlanner::scaleForGsd(text);
    if (scale >= 0)
        m_scale->setCurrentIndex(scale);
}

void CollectAssistant::onCalculate()
{
    const FlightPlanner::Plan plan = FlightPlanner::calculate(
        {m_gsd->text(), m_focal->text(), m_forward->text(), m_side->text()});
    if (!plan.ok()) {
        DialogPresenter::instance()->warn(Orvex::instance(), plan.message, QString());
        return;
    }
    m_altitude->setText(FlightPlanner::metresText(plan.altitude));
    m_photoBase->setText(FlightPlanner::metresText(plan.photoBase));
    m_lineSpacing->setText(FlightPlanner::metresText(plan.lineSpacing));
}
