#include "pictures.h"

#include <QPainter>
#include <QPainterPath>

namespace qmr {

namespace {

constexpr int IconSide = 20;

QPixmap canvas(int width, int height)
{
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void prepare(QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
}

} // namespace

QFont Pictures::windowFont(int pixelSize, bool bold, Script script)
{
    QFont font;
    const QString simplified = QStringLiteral("Noto Sans CJK SC");
    const QString traditional = QStringLiteral("Noto Sans CJK TC");
    const bool traditionalFirst = script == Script::TraditionalChinese;
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans"),
                      traditionalFirst ? traditional : simplified,
                      traditionalFirst ? simplified : traditional});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QIcon Pictures::magnifier()
{
    QPixmap pixmap = canvas(IconSide, IconSide);
    QPainter painter(&pixmap);
    prepare(painter);
    painter.setPen(QPen(QColor(40, 40, 40), 2.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(12.5, 12.5), QPointF(18, 18));
    painter.setPen(QPen(QColor(40, 40, 40), 2));
    painter.setBrush(QColor(180, 220, 255));
    painter.drawEllipse(QRectF(2, 2, 11, 11));
    painter.setPen(QPen(Qt::white, 1.5));
    painter.drawArc(QRectF(4.5, 4.5, 6, 6), 90 * 16, 80 * 16);
    return QIcon(pixmap);
}

QIcon Pictures::idCard()
{
    QPixmap pixmap = canvas(IconSide, IconSide);
    QPainter painter(&pixmap);
    prepare(painter);
    painter.setPen(QPen(QColor(30, 60, 120), 1.5));
    painter.setBrush(QColor(235, 240, 250));
    painter.drawRoundedRect(QRectF(1.5, 4.5, 17, 12), 2, 2);
    painter.setBrush(QColor(30, 60, 120));
    painter.drawEllipse(QRectF(4, 7, 4, 4));
    painter.drawRect(QRectF(10, 8, 6, 1));
    painter.drawRect(QRectF(10, 11, 6, 1));
    painter.drawRect(QRectF(4, 13, 4, 1));
    return QIcon(pixmap);
}

QIcon Pictures::lineSetting()
{
    QPixmap pixmap = canvas(IconSide, IconSide);
    QPainter painter(&pixmap);
    prepare(painter);
    // A square wave: the bits on the line.
    QPainterPath wave;
    wave.moveTo(1, 14);
    wave.lineTo(4, 14);
    wave.lineTo(4, 6);
    wave.lineTo(8, 6);
    wave.lineTo(8, 14);
    wave.lineTo(11, 14);
    wave.lineTo(11, 6);
    wave.lineTo(13, 6);
    wave.lineTo(13, 14);
    wave.lineTo(16, 14);
    wave.lineTo(16, 6);
    wave.lineTo(19, 6);
    painter.setPen(QPen(QColor(0, 120, 0), 2));
    painter.drawPath(wave);
    return QIcon(pixmap);
}

QIcon Pictures::modeSwitch()
{
    QPixmap pixmap = canvas(IconSide, IconSide);
    QPainter painter(&pixmap);
    prepare(painter);
    // Two readers side by side, the second one dimmed: one or two readers.
    painter.setPen(QPen(QColor(60, 60, 60), 1.2));
    painter.setBrush(QColor(70, 110, 200));
    painter.drawRoundedRect(QRectF(1.5, 3.5, 7, 13), 1.5, 1.5);
    painter.setBrush(QColor(170, 190, 230));
    painter.drawRoundedRect(QRectF(11.5, 3.5, 7, 13), 1.5, 1.5);
    painter.setBrush(QColor(255, 60, 60));
    painter.drawEllipse(QRectF(3.5, 5.5, 3, 3));
    painter.drawEllipse(QRectF(13.5, 5.5, 3, 3));
    return QIcon(pixmap);
}

QIcon Pictures::progressBar()
{
    QPixmap pixmap = canvas(IconSide, IconSide);
    QPainter painter(&pixmap);
    prepare(painter);
    painter.setPen(QPen(QColor(60, 60, 60), 1));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(1.5, 6.5, 17, 7));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 170, 0));
    for (int i = 0; i < 4; ++i)
        painter.drawRect(QRectF(3 + i * 3.5, 8, 2.5, 4));
    return QIcon(pixmap);
}

QIcon Pictures::closeCross()
{
    QPixmap pixmap = canvas(IconSide, IconSide);
    QPainter painter(&pixmap);
    prepare(painter);
    painter.setPen(QPen(QColor(120, 0, 0), 1));
    painter.setBrush(QColor(210, 40, 40));
    painter.drawEllipse(QRectF(1.5, 1.5, 17, 17));
    painter.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(6.5, 6.5), QPointF(13.5, 13.5));
    painter.drawLine(QPointF(13.5, 6.5), QPointF(6.5, 13.5));
    return QIcon(pixmap);
}

QPixmap Pictures::quickSetting(const QString &headline, const QString &line1, const QString &line2)
{
    QPixmap pixmap = canvas(150, 74);
    QPainter painter(&pixmap);
    prepare(painter);
    QFont head = windowFont(26, true);
    painter.setFont(head);
    painter.setPen(QColor(0, 0, 255));
    painter.drawText(QRect(0, 0, 150, 32), Qt::AlignCenter, headline);
    painter.setFont(windowFont(15, true));
    painter.setPen(QColor(255, 0, 0));
    painter.drawText(QRect(0, 34, 150, 19), Qt::AlignCenter, line1);
    painter.drawText(QRect(0, 54, 150, 19), Qt::AlignCenter, line2);
    return pixmap;
}

QPixmap Pictures::languageMark(const QString &characters)
{
    QPixmap pixmap = canvas(44, 18);
    QPainter painter(&pixmap);
    prepare(painter);
    painter.setFont(windowFont(16, false));
    painter.setPen(QColor(255, 0, 0));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, characters);
    return pixmap;
}

} // namespace qmr
