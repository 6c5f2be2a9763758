/*
 * The five collection-strategy pages. Each reads its fields, has the record
 * built and checked by StrategyRecords, asks for confirmation and sends the
 * record to the camera; the strategy sync fills them from the camera's record.
 */
#ifndef PAGES_STRATEGYPAGES_H
#define PAGES_STRATEGYPAGES_H

#include "StrategyRecords.h"
#include "StrategySync.h"

#include <QWidget>
#include <array>

class Mylabel;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

/* What every strategy page shares: its size, the set button and the send sequence. */
class StrategyPage : public QWidget {
    Q_OBJECT

public:
    explicit StrategyPage(QWidget *parent = nullptr);

    Mylabel *setButton() const { return m_setButton; }

public slots:
    /* The set button: connected camera, record built on the reported one, confirmation, send. */
    void onClicked();

protected:
    /* The page's record on top of `reported`, or the first failed check. */
    virtual StrategyRecords::Outcome build(const q7x_work_param_t &reported) const = 0;

    /* A caption, a text field and its unit in one row at `y`, from `x`. */
    QLineEdit *addField(const QString &caption, const QString &unit, int x, int y,
                        int captionWidth = 80);

private:
    Mylabel *m_setButton;
};

/* The distance and timed pages: an interval, then how the camera is activated. */
class ActivationPage : public StrategyPage {
    Q_OBJECT

public:
    /* Take over the sync's interval text, the combo index (-1: leave it), the activation texts
     * and the landing-gear flag. */
    void applySync(const QString &interval, int activationIndex, const StrategySync::Texts &texts);

    bool landingGear() const { return m_landingGear; }
    QLineEdit *intervalEdit() const { return m_interval; }
    QComboBox *activationBox() const { return m_activation; }
    QCheckBox *gearBox() const { return m_gear; }
    QRadioButton *highButton() const { return m_high; }
    QRadioButton *lowButton() const { return m_low; }
    QLineEdit *powerOnDelayEdit() const { return m_powerOnDelay; }
    QLineEdit *manualDelayEdit() const { return m_manualDelay; }
    QLineEdit *heightEdit() const { return m_height; }
    /* The widgets of an activation choice, for tests: visible only while it is chosen. */
    QWidget *choiceField(int index) const { return m_choices[static_cast<size_t>(index)]; }

public slots:
    /* Show only the fields of the chosen activation. */
    void slotcurrentIndexChanged(int index);
    /* The landing-gear check box. */
    virtual void onStateChanged(int state) = 0;

protected:
    ActivationPage(const QString &intervalCaption, const QString &intervalUnit,
                   const QString &gearCaption, QWidget *parent);
    StrategyRecords::Activation activation() const;
    /* Every text field gets the page's validator. */
    QList<QLineEdit *> textFields() const;

    bool m_landingGear = false;

private:
    QLineEdit *m_interval;
    QComboBox *m_activation;
    std::array<QWidget *, StrategyRecords::activationCount> m_choices{};
    QCheckBox *m_gear;
    QRadioButton *m_high;
    QRadioButton *m_low;
    QLineEdit *m_powerOnDelay;
    QLineEdit *m_manualDelay;
    QLineEdit *m_height;
};

class DistanceAutoOptUi : public ActivationPage {
    Q_OBJECT

public:
    explicit DistanceAutoOptUi(QWidget *parent = nullptr);

public slots:
    void onStateChanged(int state) override;

protected:
    StrategyRecords::Outcome build(const q7x_work_param_t &reported) const override;
};

class TimerAutoOptUi : public ActivationPage {
    Q_OBJECT

public:
    explicit TimerAutoOptUi(QWidget *parent = nullptr);

public slots:
    void onStateChanged(int state) override;

protected:
    StrategyRecords::Outcome build(const q7x_work_param_t &reported) const override;
};

class EdgeExternalOptUi : public StrategyPage {
    Q_OBJECT

public:
    explicit EdgeExternalOptUi(QWidget *parent = nullptr);
    void applySync(const StrategySync::Texts &texts);

    QRadioButton *risingButton() const { return m_rising; }
    QRadioButton *fallingButton() const { return m_falling; }

protected:
    StrategyRecords::Outcome build(const q7x_work_param_t &reported) const override;

private:
    QRadioButton *m_rising;
    QRadioButton *m_falling;
};

class IOExternalOptUi : public StrategyPage {
    Q_OBJECT

public:
    explicit IOExternalOptUi(QWidget *parent = nullptr);
    void applySync(const StrategySync::Texts &texts);

    QRadioButton *highButton() const { return m_high; }
    QRadioButton *lowButton() const { return m_low; }
    QLineEdit *durationEdit() const { return m_duration; }

protected:
    StrategyRecords::Outcome build(const q7x_work_param_t &reported) const override;

private:
    QRadioButton *m_high;
    QRadioButton *m_low;
    QLineEdit *m_duration;
};

class PWMExternalOptUi : public StrategyPage {
    Q_OBJECT

public:
    explicit PWMExternalOptUi(QWidget *parent = nullptr);
    void applySync(const StrategySync::Texts &texts);

    QLineEdit *durationEdit() const { return m_duration; }
    QLineEdit *pulseEdit() const { return m_pulse; }
    QLineEdit *periodEdit() const { return m_period; }

protected:
    StrategyRecords::Outcome build(const q7x_work_param_t &reported) const override;

private:
    QLineEdit *m_duration;
    QLineEdit *m_pulse;
    QLineEdit *m_period;
};

#endif
