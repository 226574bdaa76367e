#pragma once

#include <QLabel>

namespace qmr {

// The message line: a sunken panel whose text is centred in the room left of the lamp that
// sits at its right end, so a long message never runs under the lamp.
class MessagePanel : public QLabel
{
    Q_OBJECT

public:
    explicit MessagePanel(QWidget *parent = nullptr) : QLabel(parent) {}

    // Pixels kept free at the right end of the panel.
    void setReservedRight(int pixels)
    {
        m_reservedRight = pixels;
        update();
    }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_reservedRight = 0;
};

} // namespace qmr
