#pragma once

#include <QColor>
#include <QWidget>

namespace qmr {

// The round communication indicator: a filled circle with a thin black outline, as large as
// the smaller side of its box allows, centred in it. Its accessible name is the colour's
// name, so a screen reader can tell the outcome of an operation.
class Lamp : public QWidget
{
    Q_OBJECT

public:
    static inline const QColor Red{255, 0, 0};
    static inline const QColor Yellow{255, 255, 0};

    explicit Lamp(QWidget *parent = nullptr);

    QColor colour() const { return m_colour; }
    void setColour(const QColor &colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void announce();

    QColor m_colour = Red;
};

} // namespace qmr
