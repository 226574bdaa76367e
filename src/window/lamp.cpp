#include "lamp.h"

#include <QAccessible>
#include <QPainter>

namespace qmr {

namespace {

QString colourName(const QColor &colour)
{
    if (colour == Lamp::Red)
        return QStringLiteral("red");
    if (colour == Lamp::Yellow)
        return QStringLiteral("yellow");
    return colour.name();
}

} // namespace

Lamp::Lamp(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(colourName(m_colour));
}

void Lamp::setColour(const QColor &colour)
{
    m_colour = colour;
    announce();
    update();
}

void Lamp::announce()
{
    // Every change is announced, also a repeat of the same colour: a second failure in a row
    // is news to the user as well.
    setAccessibleName(colourName(m_colour));
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = qMin(width(), height()) - 1;
    const QRectF circle((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_colour);
    painter.drawEllipse(circle);
}

} // namespace qmr
