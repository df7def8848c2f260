#pragma once

#include <QPainterPath>
#include <QPointF>

// An eye's outline between its two corners: lift raises the upper lid, drop lowers the lower one.
QPainterPath almond(QPointF left, QPointF right, double lift, double drop);
