#include "StrategyPages.h"

#include "platform/DialogPresenter.h"
#include "shell/CameraFields.h"
#include "shell/Mylabel.h"
#include "shell/Orvex.h"
#include "shell/QNetConfig.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleValidator>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

#include <tuple>
#include <utility>

using StrategyRecords::Outcome;

namespace {

const QString darkText = QStringLiteral("color: rgb(40, 40, 40);");

/* A positive number; the points are the expression's any-character dot. */
const char timedPattern[] =
    "^(([0-9]+.[0-9]*[1-9][0-9]*)|([0-9]*[1-9][0-9]*.[0-9]+)|([0-9]*[1-9][0-9]*))$";

QLabel *textLabel(QWidget *parent, const QString &text, const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(geometry);
    label->setStyleSheet(darkText);
    return label;
}

QLineEdit *lineEdit(QWidget *parent, const QRect &geometry)
{
    auto *edit = new QLineEdit(parent);
    edit->setGeometry(geometry);
    return edit;
}

/* Two radio buttons of their own group, the first checked. */
std::pair<QRadioButton *, QRadioButton *> radioPair(QWidget *parent, const QString &first,
                                                    const QString &second, int x, int y)
{
    auto *group = new QButtonGroup(parent);
    auto *one = new QRadioButton(first, parent);
    auto *other = new QRadioButton(second, parent);
    one->setGeometry(x, y, 90, 24);
    other->setGeometry(x + 100, y, 90, 24);
    for (QRadioButton *button : {one, other}) {
        button->setStyleSheet(darkText);
        group->addButton(button);
    }
    one->setChecked(true);
    return {one, other};
}

void setDecimalValidator(QLineEdit *edit)
{
    auto *validator = new QDoubleValidator(0, 500, 3, edit);
    edit->setValidator(validator);
}

void warn(const QString &message)
{
    DialogPresenter::instance()->warn(Orvex::instance(), message, QString());
}

} // namespace

StrategyPage::StrategyPage(QWidget *parent) : QWidget(parent)
{
    setFixedSize(581, 373);
    m_setButton = new Mylabel(this);
    m_setButton->setGeometry(260, 270, 84, 27);
    m_setButton->setImage(QStringLiteral(":/Orvex/res/setup_normal.png"));
    connect(m_setButton, &Mylabel::clicked, this, &StrategyPage::onClicked);
}

QLineEdit *StrategyPage::addField(const QString &caption, const QString &unit, int x, int y,
                                  int captionWidth)
{
    textLabel(this, caption, QRect(x, y + 2, captionWidth, 24));
    QLineEdit *edit = lineEdit(this, QRect(x + captionWidth + 10, y, 160, 28));
    textLabel(this, unit, QRect(x + captionWidth + 180, y + 2, 30, 24));
    return edit;
}

void StrategyPage::onClicked()
{
    if (!Orvex::instance()->connected) {
        warn(tr("相机未连接！"));
        return;
    }
    q7x_t *camera = QNetConfig::instance()->cameraHandle();
    if (!camera)
        return;
    q7x_work_param_t reported{};
    q7x_get_work_param(&reported, camera);
    const Outcome outcome = build(reported);
    if (!outcome.accepted() && !outcome.afterConfirmation) {
        warn(outcome.message);
        return;
    }
    if (!DialogPresenter::instance()->ask(Orvex::instance(), tr("是否切换工作模式？")))
        return;
    if (!outcome.accepted()) {
        warn(outcome.message);
        return;
    }
    /* The camera's own record, reported back, tells whether it took the strategy. */
    q7x_set_work_param(camera, &outcome.record);
    warn(tr("设置完成"));
}

ActivationPage::ActivationPage(const QString &intervalCaption, const QString &intervalUnit,
                               const QString &gearCaption, QWidget *parent)
    : StrategyPage(parent)
{
    m_interval = addField(intervalCaption, intervalUnit, 150, 50);

    m_activation = new QComboBox(this);
    m_activation->setGeometry(240, 100, 160, 28);
    m_activation->addItems({tr("起落架信号"), tr("外部高低电平"), tr("上电延时触发"),
                            tr("手动延时触发"), tr("高度触发")});

    /* One row below the combo box per choice; only the chosen one is shown. */
    const QRect row(60, 150, 480, 40);
    for (QWidget *&choice : m_choices) {
        choice = new QWidget(this);
        choice->setGeometry(row);
    }
    QWidget *gear = m_choices[StrategyRecords::GearIndex];
    textLabel(gear, gearCaption, QRect(90, 8, 200, 24));
    m_gear = new QCheckBox(gear);
    m_gear->setGeometry(300, 8, 24, 24);
    connect(m_gear, &QCheckBox::stateChanged, this, &ActivationPage::onStateChanged);

    std::tie(m_high, m_low) =
        radioPair(m_choices[StrategyRecords::LevelIndex], tr("高电平"), tr("低电平"), 180, 8);

    const auto choiceField = [this](int index, const QString &caption, const QString &unit) {
        QWidget *choice = m_choices[static_cast<size_t>(index)];
        textLabel(choice, caption, QRect(60, 8, 100, 24));
        QLineEdit *edit = lineEdit(choice, QRect(180, 6, 160, 28));
        textLabel(choice, unit, QRect(350, 8, 30, 24));
        return edit;
    };
    m_powerOnDelay = choiceField(StrategyRecords::PowerDelayIndex, tr("延迟时间"), tr("s"));
    m_manualDelay = choiceField(StrategyRecords::ManualDelayIndex, tr("延时时间"), tr("s"));
    m_height = choiceField(StrategyRecords::HeightIndex, tr("激活相机高度"), tr("m"));

    connect(m_activation, &QComboBox::currentIndexChanged, this,
            &ActivationPage::slotcurrentIndexChanged);
    slotcurrentIndexChanged(StrategyRecords::GearIndex);
}

QList<QLineEdit *> ActivationPage::textFields() const
{
    return {m_interval, m_powerOnDelay, m_manualDelay, m_height};
}

void ActivationPage::slotcurrentIndexChanged(int index)
{
    for (int choice = 0; choice < StrategyRecords::activationCount; ++choice)
        m_choices[static_cast<size_t>(choice)]->setVisible(choice == index);
}

StrategyRecords::Activation ActivationPage::activation() const
{
    StrategyRecords::Activation activation;
    activation.index = m_activation->currentIndex();
    activation.landingGear = m_landingGear;
    activation.levelHigh = m_high->isChecked();
    activation.powerOnDelay = m_powerOnDelay->text();
    activation.manualDelay = m_manualDelay->text();
    activation.height = m_height->text();
    return activation;
}

void ActivationPage::applySync(const QString &interval, int activationIndex,
                               const StrategySync::Texts &texts)
{
    m_interval->setText(interval);
    if (activationIndex >= 0)
        m_activation->setCurrentIndex(activationIndex);
    (texts.levelHigh ? m_high : m_low)->setChecked(true);
    m_powerOnDelay->setText(texts.powerOnDelay);
    m_manualDelay->setText(texts.manualDelay);
    m_height->setText(texts.height);
    m_landingGear = texts.landingGear;
    /* The flag is taken over as it is: the check box's own checks do not run here. */
    const QSignalBlocker quiet(m_gear);
    m_gear->setChecked(texts.landingGear);
}

DistanceAutoOptUi::DistanceAutoOptUi(QWidget *parent)
    : ActivationPage(tr("间隔距离"), tr("m"), tr("请确认设备正常连接并放下起落架"), parent)
{
    for (QLineEdit *edit : textFields())
        setDecimalValidator(edit);
}

void DistanceAutoOptUi::onStateChanged(int)
{
    /* Only a reminder: the flag follows the camera's signal, not the box. */
    if (QNetConfig::instance()->cameraHandle() && !m_landingGear)
        warn(tr("请检查是否连接起落架！"));
}

Outcome DistanceAutoOptUi::build(const q7x_work_param_t &reported) const
{
    return StrategyRecords::distance(reported, intervalEdit()->text(), activation());
}

TimerAutoOptUi::TimerAutoOptUi(QWidget *parent)
    : ActivationPage(tr("间隔时间"), tr("s"), tr("已放下起落架"), parent)
{
    const QRegularExpression positive(QString::fromLatin1(timedPattern));
    for (QLineEdit *edit : textFields())
        edit->setValidator(new QRegularExpressionValidator(positive, edit));
}

void TimerAutoOptUi::onStateChanged(int)
{
    q7x_t *camera = QNetConfig::instance()->cameraHandle();
    if (!camera)
        return;
    m_landingGear = CameraFields::load(camera->option_word) != 0;
    if (!m_landingGear)
        warn(tr("请检查是否连接起落架！"));
}

Outcome TimerAutoOptUi::build(const q7x_work_param_t &reported) const
{
    return StrategyRecords::timed(reported, intervalEdit()->text(), activation());
}

EdgeExternalOptUi::EdgeExternalOptUi(QWidget *parent) : StrategyPage(parent)
{
    std::tie(m_rising, m_falling) = radioPair(this, tr("上升沿"), tr("下降沿"), 220, 100);
}

void EdgeExternalOptUi::applySync(const StrategySync::Texts &texts)
{
    (texts.rising ? m_rising : m_falling)->setChecked(true);
}

Outcome EdgeExternalOptUi::build(const q7x_work_param_t &reported) const
{
    return StrategyRecords::edge(reported, m_rising->isChecked());
}

IOExternalOptUi::IOExternalOptUi(QWidget *parent) : StrategyPage(parent)
{
    std::tie(m_high, m_low) = radioPair(this, tr("高电平"), tr("低电平"), 240, 60);
    m_duration = addField(tr("持续时间"), tr("ms"), 150, 120);
    setDecimalValidator(m_duration);
}

void IOExternalOptUi::applySync(const StrategySync::Texts &texts)
{
    (texts.ioHigh ? m_high : m_low)->setChecked(true);
    m_duration->setText(texts.ioDuration);
}

Outcome IOExternalOptUi::build(const q7x_work_param_t &reported) const
{
    return StrategyRecords::io(reported, m_high->isChecked(), m_duration->text());
}

PWMExternalOptUi::PWMExternalOptUi(QWidget *parent) : StrategyPage(parent)
{
    m_duration = addField(tr("脉冲持续时间："), tr("ms"), 130, 50, 100);
    m_pulse = addField(tr("脉冲时间："), tr("ms"), 130, 110, 100);
    m_period = addField(tr("周期："), tr("ms"), 130, 170, 100);
    for (QLineEdit *edit : {m_duration, m_pulse, m_period})
        setDecimalValidator(edit);
}

void PWMExternalOptUi::applySync(const StrategySync::Texts &texts)
{
    m_pulse->setText(texts.pwmPulse);
    m_period->setText(texts.pwmPeriod);
    m_duration->setText(texts.pwmDuration);
}

Outcome PWMExternalOptUi::build(const q7x_work_param_t &reported) const
{
    return StrategyRecords::pwm(reported, m_pulse->text(), m_period->text(), m_duration->text());
}
