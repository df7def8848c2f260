#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QString>

#include <vector>

// The two program icons, kept as vector shapes so the same drawing gives the PNGs and the SVGs,
// and the plain-text file's icon, which shares their page.
namespace icons {

struct Shape
{
    QPainterPath path;
    QColor fill;
    QColor stroke;
    double strokeWidth = 0;
};

using Drawing = std::vector<Shape>;

// The drawings are laid out on this grid; larger pictures scale them.
constexpr int designSize = 32;

Drawing loggerIcon();
Drawing viewerIcon();

// Full colour, with transparency, size × size pixels.
QImage rasterize(const Drawing &drawing, int size);
// At most sixteen colours, one of them transparent.
QImage indexedIcon(const Drawing &drawing, int size);
// The program icons at 16 pixels times the scale.
QImage smallLoggerIcon(int scale);
QImage smallViewerIcon(int scale);
QString toSvg(const Drawing &drawing, int size);

// 32 pixels times the scale.
QImage textFile(int scale);

} // namespace icons
