/*
 * The collection assistant page: the flight altitude, photo base and line
 * spacing for a wanted ground sample distance, a focal length and the
 * overlaps. It needs no camera; FlightPlanner checks the texts and computes,
 * the page shows the figures or warns with the first refusal.
 */
#ifndef PAGES_COLLECTASSISTANT_H
#define PAGES_COLLECTASSISTANT_H

#include <QWidget>

class Mylabel;
class QComboBox;
class QLabel;
class QLineEdit;

class CollectAssistant : public QWidget {
    Q_OBJECT

public:
    explicit CollectAssistant(QWidget *parent = nullptr);

    /* For tests and screenshots. */
    QLineEdit *focalEdit() const { return m_focal; }
    QLineEdit *forwardEdit() const { return m_forward; }
    QLineEdit *sideEdit() const { return m_side; }
    QLineEdit *gsdEdit() const { return m_gsd; }
    QComboBox *scaleBox() const { return m_scale; }
    Mylabel *calculateButton() const { return m_calculate; }
    QString altitudeText() const;
    QString photoBaseText() const;
    QString lineSpacingText() const;

public slots:
    void onCalculate();

private:
    void onScaleChosen(int index);
    void onGsdEdited(const QString &text);

    QLineEdit *m_focal;
    QLineEdit *m_forward;
    QLineEdit *m_side;
    QComboBox *m_scale;
    QLineEdit *m_gsd;
    Mylabel *m_calculate;
    QLabel *m_altitude;
    QLabel *m_photoBase;
    QLabel *m_lineSpacing;
};

#endif
