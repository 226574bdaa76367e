#include "messagepanel.h"

#include <QPainter>

namespace qmr {

void MessagePanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(font());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QRect room = contentsRect().adjusted(2, 0, -m_reservedRight, 0);
    painter.drawText(room, Qt::AlignCenter | Qt::TextSingleLine, text());
}

} // namespace qmr
