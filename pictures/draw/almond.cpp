#include "pictures/draw/almond.h"

QPainterPath almond(QPointF left, QPointF right, double lift, double drop)
{
    const double span = right.x() - left.x();
    QPainterPath path(left);
    path.cubicTo(left.x() + span * 0.25, left.y() - lift, right.x() - span * 0.25, right.y() - lift,
                 right.x(), right.y());
    path.cubicTo(right.x() - span * 0.25, right.y() + drop, left.x() + span * 0.25, left.y() + drop, left.x(),
                 left.y());
    path.closeSubpath();
    return path;
}
