#include "pictures/draw/photo.h"

#include "pictures/draw/shading.h"

#include <QColor>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace photo {
namespace {

constexpr int width = 141;
constexpr int height = 82;
constexpr int supersample = 4;

constexpr double innerX = 24;
constexpr double innerY = 49;
constexpr double outerX = 120;
constexpr double outerY = 44;
constexpr double irisX = 67;
constexpr double irisY = 44;
constexpr double irisRadius = 18;
constexpr double pupilRadius = 6.6;

double alongEye(double x)
{
    return (x - innerX) / (outerX - innerX);
}

double cornerLine(double x)
{
    return innerY + (outerY - innerY) * alongEye(x);
}

double upperLid(double x)
{
    return cornerLine(x) - 19 * bump(alongEye(x), 0.42);
}

double lowerLid(double x)
{
    return cornerLine(x) + 13 * bump(alongEye(x), 0.56);
}

double creaseHeight(double x)
{
    return 4 + 11 * bump(alongEye(x), 0.5);
}

// Fades effects out past the corners of the eye.
double eyeSpan(double x)
{
    const double t = alongEye(x);
    return smoothstep(-0.25, 0.12, t) * (1 - smoothstep(0.9, 1.3, t));
}

bool insideOpening(double x, double y)
{
    const double t = alongEye(x);
    return t > 0 && t < 1 && y > upperLid(x) && y < lowerLid(x);
}

Rgb skinAlbedo(double x, double y)
{
    const Rgb base{226, 178, 152};
    const Rgb flushed{214, 148, 134};
    const double blotches = valueNoise(x / 9, y / 9, 1);
    const double pores = valueNoise(x * 0.9, y * 0.9, 2) - 0.5;
    return scaled(mix(base, flushed, 0.4 * blotches), 1 + 0.06 * pores);
}

double eyeShadowAmount(double x, double y)
{
    const double t = alongEye(x);
    const double above = upperLid(x) - y;
    const double reach = creaseHeight(x) + 6 + 12 * clamp01(t);
    const double onLid = (1 - smoothstep(reach * 0.45, reach, above)) * smoothstep(-1.5, 0, above);
    const double lidSpan = smoothstep(-0.08, 0.12, t) * (1 - smoothstep(1.02, 1.32, t));
    const double below = y - lowerLid(x);
    const double underLashes = (1 - smoothstep(0.8, 3.5, below)) * smoothstep(0, 0.5, below)
        * smoothstep(0.45, 0.8, t) * (1 - smoothstep(1.0, 1.15, t));
    return std::max(0.95 * onLid * lidSpan, 0.6 * underLashes);
}

Rgb eyeShadowColour(double x, double y)
{
    const Rgb lilac{178, 138, 232};
    const Rgb violet{118, 62, 198};
    const Rgb plum{56, 18, 100};
    const double t = clamp01(alongEye(x));
    const Rgb acrossLid =
        t < 0.3 ? mix(lilac, violet, t / 0.3) : mix(violet, plum, std::pow((t - 0.3) / 0.7, 1.5));
    const double above = upperLid(x) - y;
    const double deepening = std::max(gaussian(above - creaseHeight(x) - 1, 2.5), gaussian(above, 2)) * t;
    return mix(acrossLid, plum, 0.7 * deepening);
}

double skinLight(double x, double y)
{
    const double above = upperLid(x) - y;
    const double below = y - lowerLid(x);
    const double crease = creaseHeight(x);
    const double span = eyeSpan(x);
    double light = 1.05 - 0.10 * x / width - 0.05 * y / height;
    if (above > 0 && above < crease)
        light += 0.08 * std::sin(pi * above / crease) * span;
    light -= 0.18 * gaussian(above - crease, 1.3) * span;
    light -= 0.10 * gaussian(above - crease - 6, 4) * span;
    light += 0.07 * gaussian(y - 4, 5);
    light += 0.07 * gaussian(below - 1.3, 0.8) * span;
    light -= 0.08 * gaussian(below - 3.6, 1.4) * span;
    light -= 0.07 * gaussian(below - 11, 4) * (1.2 - alongEye(x)) * span;
    light -= 0.14 * gaussian(std::hypot(x - innerX + 6, y - innerY + 3), 8);
    light += 0.05 * gaussian(std::hypot(x - 112, y - 76), 18);
    const double fromCentreX = (x - 72) / 80;
    const double fromCentreY = (y - 42) / 48;
    return light - 0.14 * (fromCentreX * fromCentreX + fromCentreY * fromCentreY);
}

// Shadows in skin go warm: red light scatters further under the surface.
Rgb litSkin(Rgb albedo, double light)
{
    return {albedo.r * std::pow(light, 0.75), albedo.g * light, albedo.b * std::pow(light, 1.08)};
}

double linerAmount(double x, double y)
{
    const double t = alongEye(x);
    const double above = upperLid(x) - y;
    const double thickness = 1.0 + 1.6 * clamp01(t);
    const double span = smoothstep(0.02, 0.12, t) * (1 - smoothstep(0.98, 1.04, t));
    return (1 - smoothstep(thickness * 0.5, thickness, above)) * smoothstep(-0.8, 0, above) * span;
}

Rgb skinAt(double x, double y)
{
    const Rgb albedo = mix(skinAlbedo(x, y), eyeShadowColour(x, y), eyeShadowAmount(x, y));
    Rgb c = litSkin(albedo, skinLight(x, y));
    const double above = upperLid(x) - y;
    const double shimmer = std::sin(pi * clamp01(above / creaseHeight(x))) * bump(alongEye(x), 0.42);
    c = mix(c, Rgb{236, 214, 246}, 0.22 * shimmer * shimmer);
    const double below = y - lowerLid(x);
    c = mix(c, Rgb{198, 136, 130}, 0.5 * (1 - smoothstep(0.6, 1.4, below)) * eyeSpan(x));
    return mix(c, Rgb{24, 14, 30}, 0.92 * linerAmount(x, y));
}

Rgb scleraAt(double x, double y)
{
    const Rgb white{238, 234, 230};
    const double sideways = (x - irisX) / 50;
    Rgb c = mix(white, Rgb{178, 168, 172}, 0.5 * sideways * sideways);
    const double t = alongEye(x);
    c = mix(c, Rgb{224, 176, 170}, 0.55 * (1 - smoothstep(0.0, 0.22, t)) + 0.3 * smoothstep(0.82, 1.0, t));
    const double caruncle = 1 - smoothstep(1.5, 5, std::hypot((x - (innerX + 4)) * 0.8, y - (innerY - 0.8)));
    return mix(c, scaled(Rgb{214, 128, 126}, 1 + 0.15 * smoothstep(innerY - 1, innerY - 3, y)),
               0.85 * caruncle);
}

Rgb irisAt(double x, double y)
{
    const double dx = x - irisX;
    const double dy = y - irisY;
    const double s = std::hypot(dx, dy) / irisRadius;
    const double angle = std::atan2(dy, dx);
    const Rgb amber{164, 122, 58};
    const Rgb green{96, 132, 94};
    const Rgb slate{64, 96, 90};
    const Rgb limbal{30, 40, 40};
    const double amberReach = 0.5 + 0.12 * valueNoise(std::cos(angle) * 5, std::sin(angle) * 5, 13);
    Rgb c = mix(amber, green, smoothstep(amberReach - 0.12, amberReach + 0.12, s));
    c = mix(c, slate, smoothstep(0.65, 0.9, s));
    // fibres run outwards, so sample the noise on circles round the pupil
    const double fine = valueNoise(std::cos(angle) * 26, std::sin(angle) * 26, 11);
    const double coarse = valueNoise(std::cos(angle) * 8 + 40, std::sin(angle) * 8 + s * 3, 12);
    c = scaled(c, 0.72 + 0.36 * fine + 0.4 * (coarse - 0.5) + 0.08 * gaussian(s - 0.56, 0.05));
    return mix(c, limbal, smoothstep(0.82, 1.0, s));
}

Rgb eyeballAt(double x, double y)
{
    const double fromIris = std::hypot(x - irisX, y - irisY);
    Rgb c = scleraAt(x, y);
    c = mix(c, irisAt(x, y), 1 - smoothstep(irisRadius - 0.6, irisRadius + 0.6, fromIris));
    c = mix(c, Rgb{10, 9, 12}, 1 - smoothstep(pupilRadius - 0.5, pupilRadius + 0.5, fromIris));
    const double fromTop = y - upperLid(x);
    const double fromBottom = lowerLid(x) - y;
    c = scaled(c, (1 - 0.55 * std::exp(-fromTop / 4.5)) * (1 - 0.18 * std::exp(-fromBottom / 2.2)));
    c = mix(c, Rgb{206, 150, 146}, 0.5 * (1 - smoothstep(0.3, 1.1, fromBottom)));
    const double glint = 1 - smoothstep(1.2, 2.6, std::hypot(x - (irisX - 5.5), y - (irisY - 6)));
    const double softGlint = 1 - smoothstep(0.4, 1.6, std::hypot(x - (irisX + 6.5), y - (irisY + 5.5)));
    return mix(c, Rgb{252, 252, 255}, std::max(0.95 * glint, 0.35 * softGlint));
}

Rgb colourAt(double x, double y)
{
    return insideOpening(x, y) ? eyeballAt(x, y) : skinAt(x, y);
}

// Quadratic curve from root, leaving at lean and arriving at lean + curl (degrees from straight up).
void drawHair(QPainter &painter, QPointF root, double lean, double curl, double length, double rootWidth)
{
    const auto heading = [](double degrees) {
        const double radians = degrees * pi / 180;
        return QPointF(std::sin(radians), -std::cos(radians));
    };
    const QPointF control = root + heading(lean) * (length * 0.55);
    const QPointF tip = control + heading(lean + curl) * (length * 0.5);
    constexpr int steps = 10;
    QList<QPointF> left;
    QList<QPointF> right;
    for (int i = 0; i <= steps; ++i) {
        const double s = double(i) / steps;
        const QPointF point = root * ((1 - s) * (1 - s)) + control * (2 * s * (1 - s)) + tip * (s * s);
        const QPointF tangent = (control - root) * (2 * (1 - s)) + (tip - control) * (2 * s);
        const double tangentLength = std::hypot(tangent.x(), tangent.y());
        const QPointF normal(-tangent.y() / tangentLength, tangent.x() / tangentLength);
        const double halfWidth = 0.5 * rootWidth * std::pow(1 - s, 0.7) + 0.03;
        left.append(point + normal * halfWidth);
        right.prepend(point - normal * halfWidth);
    }
    QPainterPath hair;
    hair.addPolygon(QPolygonF(left + right));
    hair.closeSubpath();
    painter.drawPath(hair);
}

void drawUpperLashes(QPainter &painter)
{
    constexpr int count = 84;
    for (int i = 0; i < count; ++i) {
        const double t = 0.07 + 0.92 * (i + 0.5 + 0.9 * (latticeValue(i, 0, 21) - 0.5)) / count;
        const double x = innerX + t * (outerX - innerX);
        const double lean = -40 + 125 * t + 24 * (latticeValue(i, 2, 21) - 0.5);
        // lashes in the middle point at the camera and look shorter
        const double foreshortening = 0.45 + 0.55 * std::min(1.0, std::abs(lean) / 70);
        const double length = (7 + 10 * t) * foreshortening * (0.65 + 0.6 * latticeValue(i, 1, 21));
        painter.setBrush(QColor(20, 13, 22, 175 + static_cast<int>(80 * latticeValue(i, 3, 21))));
        drawHair(painter, QPointF(x, upperLid(x) + 0.4), lean, -0.55 * lean, length, 0.85);
    }
}

void drawLowerLashes(QPainter &painter)
{
    constexpr int count = 16;
    painter.setBrush(QColor(40, 28, 36, 150));
    for (int i = 0; i < count; ++i) {
        const double t = 0.35 + 0.6 * (i + 0.5 + 0.7 * (latticeValue(i, 0, 22) - 0.5)) / count;
        const double x = innerX + t * (outerX - innerX);
        const double length = (1.6 + 3.2 * t) * (0.7 + 0.6 * latticeValue(i, 1, 22));
        drawHair(painter, QPointF(x, lowerLid(x) + 0.8), 180 - 15 - 50 * t, 10, length, 0.45);
    }
}

} // namespace

QImage paint(int scale)
{
    const int samplesPerUnit = supersample * scale;
    QImage large(width * samplesPerUnit, height * samplesPerUnit, QImage::Format_RGB32);
    for (int row = 0; row < large.height(); ++row) {
        auto *line = reinterpret_cast<QRgb *>(large.scanLine(row));
        for (int column = 0; column < large.width(); ++column)
            line[column] = toQRgb(colourAt((column + 0.5) / samplesPerUnit, (row + 0.5) / samplesPerUnit));
    }
    QPainter painter(&large);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(samplesPerUnit, samplesPerUnit);
    painter.setPen(Qt::NoPen);
    drawLowerLashes(painter);
    drawUpperLashes(painter);
    painter.end();
    return large.scaled(width * scale, height * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB888);
}

} // namespace photo
