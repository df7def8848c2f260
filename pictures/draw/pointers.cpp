#include "pictures/draw/pointers.h"

#include "pictures/draw/shading.h"

#include <QList>
#include <QPointF>
#include <QRgb>

#include <algorithm>
#include <cmath>
#include <vector>

namespace pointers {
namespace {

struct Capsule
{
    QPointF from;
    QPointF to;
    double radius;

    bool contains(QPointF p) const
    {
        const QPointF axis = to - from;
        const double lengthSquared = QPointF::dotProduct(axis, axis);
        const double t = lengthSquared > 0 ? clamp01(QPointF::dotProduct(p - from, axis) / lengthSquared) : 0;
        const QPointF offset = p - (from + axis * t);
        return std::hypot(offset.x(), offset.y()) <= radius;
    }
};

// Pointers are 32 pixels at 1x.
constexpr int designSize = 32;

// Paints with palette indices on an indexed image. Coordinates are on the design grid;
// each design pixel covers scale × scale pixels.
class PixelCanvas
{
public:
    PixelCanvas(int scale, const QList<QRgb> &colours)
        : image(designSize * scale, designSize * scale, QImage::Format_Indexed8), scale(scale)
    {
        QList<QRgb> table{qRgba(0, 0, 0, 0)};
        table += colours;
        image.setColorTable(table);
        image.fill(0);
    }

    void fill(int left, int top, int right, int bottom, int index)
    {
        for (int y = top * scale; y < (bottom + 1) * scale; ++y)
            for (int x = left * scale; x < (right + 1) * scale; ++x)
                image.setPixel(x, y, index);
    }

    void box(int left, int top, int right, int bottom, int edgeIndex, int fillIndex)
    {
        fill(left, top, right, bottom, edgeIndex);
        fill(left + 1, top + 1, right - 1, bottom - 1, fillIndex);
    }

    // Climbs one pixel right per pixel up, so the slope stays smooth at any scale.
    void risingStroke(int left, int bottom, int rows, int width, int index)
    {
        for (int up = 0; up < rows * scale; ++up)
            for (int across = 0; across < width * scale; ++across)
                image.setPixel(left * scale + up + across, (bottom + 1) * scale - 1 - up, index);
    }

    QImage image;
    int scale;
};

enum HandIndex { clear, black, white };

enum ComputerIndex { outline = 1, casing, casingShade, screenDeep, screenMid, screenGlare, lamp, slot };

const QList<QRgb> computerColours{
    qRgb(36, 32, 44),    // outline
    qRgb(228, 222, 204), // casing
    qRgb(182, 174, 152), // casingShade
    qRgb(22, 44, 92),    // screenDeep
    qRgb(40, 92, 156),   // screenMid
    qRgb(150, 196, 236), // screenGlare
    qRgb(60, 200, 90),   // lamp
    qRgb(90, 86, 96),    // slot
};

} // namespace

QImage pointingHand(int scale)
{
    const std::vector<Capsule> parts{
        {{12.5, 3.5}, {12.5, 20}, 2.5},  // index finger; its tip is the hot spot, (12, 1) times the scale
        {{16.5, 12.5}, {16.5, 20}, 2.5}, // folded fingers
        {{20.5, 13.5}, {20.5, 20}, 2.5},   {{24.0, 15.5}, {24.0, 20}, 2.0},
        {{13.5, 22.5}, {19.5, 22.5}, 6.5}, // palm
        {{9.0, 21.0}, {4.5, 16.0}, 2.3},   // thumb
    };
    PixelCanvas canvas(scale, {qRgb(0, 0, 0), qRgb(255, 255, 255)});
    const int size = canvas.image.width();
    const auto inside = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= size || y >= size)
            return false;
        const QPointF centre((x + 0.5) / scale, (y + 0.5) / scale);
        return std::any_of(parts.begin(), parts.end(), [&](const Capsule &c) { return c.contains(centre); });
    };
    // The outline keeps the weight of one design pixel at every scale.
    const auto onEdge = [&](int x, int y) {
        for (int step = 1; step <= scale; ++step)
            if (!inside(x - step, y) || !inside(x + step, y) || !inside(x, y - step) || !inside(x, y + step))
                return true;
        return false;
    };
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if (inside(x, y))
                canvas.image.setPixel(x, y, onEdge(x, y) ? black : white);
    canvas.fill(14, 10, 14, 17, black);
    canvas.fill(18, 12, 18, 17, black);
    canvas.fill(22, 14, 22, 18, black);
    return canvas.image;
}

QImage computer(int scale)
{
    PixelCanvas canvas(scale, computerColours);
    canvas.box(4, 0, 27, 19, outline, casing);
    canvas.fill(26, 1, 26, 18, casingShade);
    canvas.fill(5, 18, 26, 18, casingShade);
    canvas.box(7, 3, 24, 15, outline, screenDeep);
    canvas.fill(8, 4, 23, 8, screenMid);
    canvas.risingStroke(10, 7, 4, 2, screenGlare);
    canvas.fill(23, 17, 24, 17, lamp);
    canvas.box(12, 19, 19, 21, outline, casingShade);
    canvas.box(1, 21, 30, 27, outline, casing);
    canvas.fill(2, 26, 29, 26, casingShade);
    canvas.fill(18, 23, 26, 24, slot);
    canvas.fill(4, 24, 5, 24, lamp);
    canvas.box(3, 27, 28, 31, outline, casing);
    for (int x = 5; x <= 26; x += 2) {
        canvas.fill(x, 28, x, 28, casingShade);
        canvas.fill(x + 1, 29, x + 1, 29, casingShade);
    }
    canvas.fill(9, 30, 22, 30, casingShade);
    return canvas.image;
}

} // namespace pointers
