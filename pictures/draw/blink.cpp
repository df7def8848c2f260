#include "pictures/draw/blink.h"

#include "pictures/draw/almond.h"

#include <QColor>
#include <QLineF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QRadialGradient>

#include <initializer_list>

namespace blink {
namespace {

constexpr int size = 36;
const QPointF centre(18, 18);

QPainterPath eyeOutline()
{
    return almond(QPointF(7, 19), QPointF(29, 19), 11, 9);
}

void drawFrame(QPainter &painter)
{
    QLinearGradient rim(4, 4, 32, 32);
    rim.setColorAt(0, QColor(214, 168, 236));
    rim.setColorAt(1, QColor(74, 30, 104));
    painter.setPen(QPen(QColor(44, 16, 60), 1));
    painter.setBrush(rim);
    painter.drawEllipse(centre, 16.5, 16.5);
    QRadialGradient face(QPointF(15, 13), 16);
    face.setColorAt(0, QColor(238, 200, 176));
    face.setColorAt(1, QColor(196, 150, 126));
    painter.setPen(QPen(QColor(60, 24, 80), 1));
    painter.setBrush(face);
    painter.drawEllipse(centre, 13, 13);
}

QPainterPath closedLidLine()
{
    QPainterPath path(QPointF(7, 19));
    path.cubicTo(12.5, 23.5, 23.5, 23.5, 29, 19);
    return path;
}

// Shows above the open eye and covers the whole lid when it is shut.
void drawLidShadow(QPainter &painter)
{
    QPainterPath lid(QPointF(6, 19));
    lid.cubicTo(10, 4, 26, 4, 30, 19);
    lid.cubicTo(24, 24, 12, 24, 6, 19);
    QLinearGradient shadow(0, 7, 0, 22);
    shadow.setColorAt(0, QColor(150, 84, 184, 0));
    shadow.setColorAt(1, QColor(120, 60, 170, 230));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shadow);
    painter.drawPath(lid);
}

// The lid's edge and five lashes, in the same dark ink open or closed.
void drawLidAndLashes(QPainter &painter, const QPainterPath &lid, std::initializer_list<QLineF> lashes)
{
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(28, 14, 34), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(lid);
    painter.setPen(QPen(QColor(28, 14, 34), 1.2, Qt::SolidLine, Qt::RoundCap));
    for (const QLineF &lash : lashes)
        painter.drawLine(lash);
}

void drawOpenEye(QPainter &painter)
{
    const QPainterPath outline = eyeOutline();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 248, 250));
    painter.drawPath(outline);
    painter.save();
    painter.setClipPath(outline);
    QRadialGradient iris(QPointF(18, 19), 5.6);
    iris.setColorAt(0, QColor(120, 170, 120));
    iris.setColorAt(1, QColor(40, 84, 64));
    painter.setBrush(iris);
    painter.drawEllipse(QPointF(18, 19), 5.6, 5.6);
    painter.setBrush(QColor(12, 10, 14));
    painter.drawEllipse(QPointF(18, 19), 2.4, 2.4);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(16.4, 17.2), 1.1, 1.1);
    painter.restore();
    drawLidAndLashes(painter, outline,
                     {QLineF(11, 13.5, 9.5, 11), QLineF(15, 11.6, 14.2, 8.8), QLineF(19.5, 11.4, 19.8, 8.6),
                      QLineF(24, 12.6, 25.4, 10), QLineF(27, 15, 29.2, 13.2)});
}

void drawClosedEye(QPainter &painter)
{
    drawLidAndLashes(painter, closedLidLine(),
                     {QLineF(11, 21.6, 9.6, 24), QLineF(15, 22.7, 14.3, 25.4), QLineF(19.5, 22.9, 19.8, 25.7),
                      QLineF(24, 22, 25.3, 24.5), QLineF(27, 20.4, 29, 22.2)});
}

} // namespace

QImage paint(bool open, int scale)
{
    QImage image(size * scale, size * scale, QImage::Format_RGB32);
    image.fill(QColor(128, 128, 128));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    drawFrame(painter);
    drawLidShadow(painter);
    if (open)
        drawOpenEye(painter);
    else
        drawClosedEye(painter);
    painter.end();
    return image.convertToFormat(QImage::Format_RGB888);
}

} // namespace blink
