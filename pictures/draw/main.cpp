// Draws every picture Tallix ships. Run: tallix-draw-pictures OUTPUT-FOLDER

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QRadialGradient>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numbers>
#include <vector>

namespace {

constexpr double pi = std::numbers::pi;

double clamp01(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

double smoothstep(double edge0, double edge1, double x)
{
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3 - 2 * t);
}

double gaussian(double offset, double spread)
{
    return std::exp(-(offset * offset) / (2 * spread * spread));
}

// A smooth hump over 0..1 whose top sits at peakAt; zero outside.
double bump(double t, double peakAt)
{
    if (t <= 0 || t >= 1)
        return 0;
    return std::sin(pi * std::pow(t, std::log(0.5) / std::log(peakAt)));
}

struct Rgb {
    double r = 0;
    double g = 0;
    double b = 0;
};

Rgb mix(Rgb a, Rgb b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb scaled(Rgb c, double factor)
{
    return {c.r * factor, c.g * factor, c.b * factor};
}

QRgb toQRgb(Rgb c)
{
    const auto channel = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0))); };
    return qRgb(channel(c.r), channel(c.g), channel(c.b));
}

// Hash-based value noise: the same coordinates always give the same texture.
std::uint32_t mixBits(std::uint32_t v)
{
    v ^= v >> 16;
    v *= 0x7feb352dU;
    v ^= v >> 15;
    v *= 0x846ca68bU;
    v ^= v >> 16;
    return v;
}

double latticeValue(int x, int y, std::uint32_t seed)
{
    const std::uint32_t h = mixBits(static_cast<std::uint32_t>(x) * 0x9e3779b1U
                                    ^ mixBits(static_cast<std::uint32_t>(y) + seed * 0x85ebca77U));
    return (h & 0xffffffU) / double(0x1000000);
}

double valueNoise(double x, double y, std::uint32_t seed)
{
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const int ix = static_cast<int>(fx);
    const int iy = static_cast<int>(fy);
    const double u = smoothstep(0, 1, x - fx);
    const double v = smoothstep(0, 1, y - fy);
    const double top = latticeValue(ix, iy, seed) + (latticeValue(ix + 1, iy, seed) - latticeValue(ix, iy, seed)) * u;
    const double bottom = latticeValue(ix, iy + 1, seed)
                          + (latticeValue(ix + 1, iy + 1, seed) - latticeValue(ix, iy + 1, seed)) * u;
    return top + (bottom - top) * v;
}

bool save(const QImage& image, const QDir& folder, const QString& name)
{
    const QString path = folder.filePath(name);
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// Qt picks the @2x twin on screens with twice the pixel density.
bool saveWithTwin(const std::function<QImage(int scale)>& draw, const QDir& folder, const QString& name)
{
    const bool ok = save(draw(1), folder, name + QStringLiteral(".png"));
    return save(draw(2), folder, name + QStringLiteral("@2x.png")) && ok;
}

bool saveText(const QString& text, const QDir& folder, const QString& name)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) >= 0)
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// An eye's outline between its two corners: lift raises the upper lid, drop lowers the lower one.
QPainterPath almond(QPointF left, QPointF right, double lift, double drop)
{
    const double span = right.x() - left.x();
    QPainterPath path(left);
    path.cubicTo(left.x() + span * 0.25, left.y() - lift, right.x() - span * 0.25, right.y() - lift, right.x(), right.y());
    path.cubicTo(right.x() - span * 0.25, right.y() + drop, left.x() + span * 0.25, left.y() + drop, left.x(), left.y());
    path.closeSubpath();
    return path;
}

// Nearest colour of a small palette; index 0 is reserved for full transparency.
QImage toIndexed(const QImage& image, const QList<QRgb>& opaqueColours)
{
    QList<QRgb> table{qRgba(0, 0, 0, 0)};
    table += opaqueColours;
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    QImage indexed(source.size(), QImage::Format_Indexed8);
    indexed.setColorTable(table);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb pixel = source.pixel(x, y);
            int best = 0;
            if (qAlpha(pixel) >= 128) {
                long bestDistance = -1;
                for (int i = 1; i < table.size(); ++i) {
                    const long dr = qRed(pixel) - qRed(table[i]);
                    const long dg = qGreen(pixel) - qGreen(table[i]);
                    const long db = qBlue(pixel) - qBlue(table[i]);
                    const long distance = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
                    if (bestDistance < 0 || distance < bestDistance) {
                        bestDistance = distance;
                        best = i;
                    }
                }
            }
            indexed.setPixel(x, y, best);
        }
    }
    return indexed;
}

namespace photo {

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
    const Rgb acrossLid = t < 0.3 ? mix(lilac, violet, t / 0.3) : mix(violet, plum, std::pow((t - 0.3) / 0.7, 1.5));
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
    return mix(c, scaled(Rgb{214, 128, 126}, 1 + 0.15 * smoothstep(innerY - 1, innerY - 3, y)), 0.85 * caruncle);
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
void drawHair(QPainter& painter, QPointF root, double lean, double curl, double length, double rootWidth)
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

void drawUpperLashes(QPainter& painter)
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

void drawLowerLashes(QPainter& painter)
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

QImage paint(int scale)
{
    const int samplesPerUnit = supersample * scale;
    QImage large(width * samplesPerUnit, height * samplesPerUnit, QImage::Format_RGB32);
    for (int row = 0; row < large.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(large.scanLine(row));
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

// A framed eye on the window's flat grey; showing the two frames in turn makes it blink.
namespace blink {

constexpr int size = 36;
const QPointF centre(18, 18);

QPainterPath eyeOutline()
{
    return almond(QPointF(7, 19), QPointF(29, 19), 11, 9);
}

void drawFrame(QPainter& painter)
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
void drawLidShadow(QPainter& painter)
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

void drawOpenEye(QPainter& painter)
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
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(28, 14, 34), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(outline);
    painter.setPen(QPen(QColor(28, 14, 34), 1.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(11, 13.5), QPointF(9.5, 11));
    painter.drawLine(QPointF(15, 11.6), QPointF(14.2, 8.8));
    painter.drawLine(QPointF(19.5, 11.4), QPointF(19.8, 8.6));
    painter.drawLine(QPointF(24, 12.6), QPointF(25.4, 10));
    painter.drawLine(QPointF(27, 15), QPointF(29.2, 13.2));
}

void drawClosedEye(QPainter& painter)
{
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(28, 14, 34), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(closedLidLine());
    painter.setPen(QPen(QColor(28, 14, 34), 1.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(11, 21.6), QPointF(9.6, 24));
    painter.drawLine(QPointF(15, 22.7), QPointF(14.3, 25.4));
    painter.drawLine(QPointF(19.5, 22.9), QPointF(19.8, 25.7));
    painter.drawLine(QPointF(24, 22), QPointF(25.3, 24.5));
    painter.drawLine(QPointF(27, 20.4), QPointF(29, 22.2));
}

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

// The two program icons, kept as vector shapes so the same drawing gives the PNGs and the SVGs.
namespace icons {

struct Shape {
    QPainterPath path;
    QColor fill;
    QColor stroke;
    double strokeWidth = 0;
};

using Drawing = std::vector<Shape>;

// The drawings are laid out on this grid; larger pictures scale them.
constexpr int designSize = 32;

const QColor outlinePurple(70, 28, 100);
const QColor sclera(255, 255, 255);
const QColor irisViolet(168, 76, 210);
const QColor irisDeep(96, 36, 140);
const QColor pupil(22, 10, 30);
const QColor pageEdge(92, 96, 120);
const QColor pagePaper(250, 250, 252);
const QColor pageFold(214, 218, 232);
const QColor pageText(150, 156, 178);

struct EyeGeometry {
    QPointF left;
    QPointF right;
    double lift;
    double irisRadius;
    double pupilRadius;
    double outlineWidth;
    double lashLength;
    int lashes;
};

QPainterPath circle(QPointF centre, double radius)
{
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

QPainterPath line(QPointF from, QPointF to)
{
    QPainterPath path(from);
    path.lineTo(to);
    return path;
}

void addEye(Drawing& drawing, const EyeGeometry& eye)
{
    const QPainterPath outline = almond(eye.left, eye.right, eye.lift, eye.lift);
    const QPointF middle = (eye.left + eye.right) / 2;
    drawing.push_back({outline, sclera, {}, 0});
    drawing.push_back({circle(middle, eye.irisRadius), irisViolet, irisDeep, 1});
    drawing.push_back({circle(middle, eye.pupilRadius), pupil, {}, 0});
    drawing.push_back({circle(middle - QPointF(eye.pupilRadius, eye.pupilRadius) * 0.7, eye.pupilRadius * 0.5),
                       sclera, {}, 0});
    drawing.push_back({outline, {}, outlinePurple, eye.outlineWidth});
    const double halfWidth = (eye.right.x() - eye.left.x()) / 2;
    for (int i = 0; i < eye.lashes; ++i) {
        const double across = eye.lashes > 1 ? 2.0 * i / (eye.lashes - 1) - 1 : 0;
        const QPointF root = middle + QPointF(across * halfWidth * 0.62, -eye.lift * 0.75 * (1 - 0.45 * across * across));
        const QPointF direction(across * 0.7, -1);
        drawing.push_back({line(root, root + direction * eye.lashLength), {}, outlinePurple, eye.outlineWidth});
    }
}

Drawing loggerIcon()
{
    Drawing drawing;
    addEye(drawing, {QPointF(1.5, 18), QPointF(30.5, 18), 14, 7, 3.1, 2, 3, 5});
    return drawing;
}

QPainterPath foldedPage(QRectF page, double fold)
{
    QPainterPath path(page.topLeft());
    path.lineTo(page.right() - fold, page.top());
    path.lineTo(page.right(), page.top() + fold);
    path.lineTo(page.bottomRight());
    path.lineTo(page.bottomLeft());
    path.closeSubpath();
    return path;
}

QPainterPath foldFlap(QRectF page, double fold)
{
    QPainterPath path(QPointF(page.right() - fold, page.top()));
    path.lineTo(page.right() - fold, page.top() + fold);
    path.lineTo(page.right(), page.top() + fold);
    path.closeSubpath();
    return path;
}

void addPage(Drawing& drawing, QRectF page, double fold, double edgeWidth, const QList<double>& textRows)
{
    drawing.push_back({foldedPage(page, fold), pagePaper, pageEdge, edgeWidth});
    drawing.push_back({foldFlap(page, fold), pageFold, pageEdge, edgeWidth});
    const double margin = page.width() * 0.2;
    for (const double row : textRows)
        drawing.push_back(
            {line(QPointF(page.left() + margin, row), QPointF(page.right() - margin, row)), {}, pageText, edgeWidth});
}

Drawing viewerIcon()
{
    Drawing drawing;
    addPage(drawing, QRectF(3.5, 1.5, 20, 26), 7, 1, {9.5, 12.5, 15.5});
    addEye(drawing, {QPointF(8, 22.5), QPointF(31, 22.5), 10.5, 5, 2.3, 1.6, 0, 0});
    return drawing;
}

QList<QRgb> coloursOf(const Drawing& drawing)
{
    QList<QRgb> colours;
    for (const Shape& shape : drawing) {
        for (const QColor& colour : {shape.fill, shape.stroke}) {
            if (colour.isValid() && !colours.contains(colour.rgb()))
                colours.append(colour.rgb());
        }
    }
    return colours;
}

QImage rasterize(const Drawing& drawing, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(double(size) / designSize, double(size) / designSize);
    for (const Shape& shape : drawing) {
        painter.setBrush(shape.fill.isValid() ? QBrush(shape.fill) : QBrush(Qt::NoBrush));
        if (shape.strokeWidth > 0)
            painter.setPen(QPen(shape.stroke, shape.strokeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        else
            painter.setPen(Qt::NoPen);
        painter.drawPath(shape.path);
    }
    painter.end();
    return image;
}

QRgb halfway(QRgb a, QRgb b)
{
    return qRgb((qRed(a) + qRed(b)) / 2, (qGreen(a) + qGreen(b)) / 2, (qBlue(a) + qBlue(b)) / 2);
}

// Smooths inner edges within a 16-colour budget: the drawing's own colours, plus those halfway
// between two of them that most pixels need.
QImage indexedIcon(const Drawing& drawing, int size)
{
    constexpr int opaqueBudget = 15;
    const QList<QRgb> own = coloursOf(drawing);
    QList<QRgb> palette = own;
    for (qsizetype i = 0; i < own.size(); ++i)
        for (qsizetype j = i + 1; j < own.size(); ++j)
            palette.append(halfway(own[i], own[j]));
    const QImage smooth = rasterize(drawing, size);
    while (palette.size() > opaqueBudget) {
        const QImage trial = toIndexed(smooth, palette);
        QList<int> uses(palette.size() + 1, 0);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                ++uses[trial.pixelIndex(x, y)];
        qsizetype leastUsed = own.size();
        for (qsizetype i = own.size() + 1; i < palette.size(); ++i)
            if (uses[i + 1] < uses[leastUsed + 1])
                leastUsed = i;
        palette.removeAt(leastUsed);
    }
    return toIndexed(smooth, palette);
}

struct Ink {
    char symbol;
    QColor colour;
};

// At 16 pixels an eye is best placed pixel by pixel; '.' is transparent.
QImage pixelArt(const std::vector<const char*>& rows, const std::vector<Ink>& inks)
{
    QList<QRgb> table{qRgba(0, 0, 0, 0)};
    for (const Ink& ink : inks)
        table.append(ink.colour.rgb());
    QImage image(static_cast<int>(std::strlen(rows.front())), static_cast<int>(rows.size()), QImage::Format_Indexed8);
    image.setColorTable(table);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const char symbol = rows[y][x];
            const auto ink = std::find_if(inks.begin(), inks.end(), [&](const Ink& i) { return i.symbol == symbol; });
            if (symbol != '.' && ink == inks.end())
                qFatal("unknown pixel symbol '%c'", symbol);
            image.setPixel(x, y, symbol == '.' ? 0 : static_cast<int>(ink - inks.begin()) + 1);
        }
    }
    return image;
}

const std::vector<Ink> eyeInks{{'o', outlinePurple}, {'w', sclera}, {'v', irisViolet}, {'d', irisDeep}, {'p', pupil}};

// Twice as large, the drawing itself has room to come out clean.
QImage smallLoggerIcon(int scale)
{
    if (scale > 1)
        return indexedIcon(loggerIcon(), 16 * scale);
    return pixelArt(
        {
            "................",
            "................",
            "...o..o..o..o...",
            "....o.o..o.o....",
            ".....oooooo.....",
            "...oowddddwoo...",
            "..owwdvvvvdwwo..",
            ".owwdvwppvvdwwo.",
            "owwwdvppppvdwwwo",
            "owwwdvppppvdwwwo",
            ".owwdvvppvvdwwo.",
            "..owwdvvvvdwwo..",
            "...oowddddwoo...",
            ".....oooooo.....",
            "................",
            "................",
        },
        eyeInks);
}

QImage smallViewerIcon(int scale)
{
    if (scale > 1)
        return indexedIcon(viewerIcon(), 16 * scale);
    std::vector<Ink> inks = eyeInks;
    inks.insert(inks.end(), {{'e', pageEdge}, {'P', pagePaper}, {'f', pageFold}, {'t', pageText}});
    return pixelArt(
        {
            "eeeeeee.........",
            "ePPPPPee........",
            "ePPPPPefe.......",
            "ePtttPeffe......",
            "ePPPPPeeeee.....",
            "ePPPPPPPPPe.....",
            "ePtttttttPe.....",
            "ePPPPPPPPPe.....",
            "ePtttttPPPe.....",
            "ePPPPPPPoooo....",
            "ePtttPoowddwoo..",
            "ePPPPowwvwpvwwo.",
            "ePttowwwvppvwwwo",
            "eeeeeowwvvvvwwo.",
            "......oowddwoo..",
            "........oooo....",
        },
        inks);
}

QString svgNumber(double value)
{
    QString text = QString::number(std::round(value * 100) / 100, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text == u"-0" ? QStringLiteral("0") : text;
}

QString svgPoint(const QPainterPath::Element& element)
{
    return svgNumber(element.x) + u' ' + svgNumber(element.y);
}

QString svgPathData(const QPainterPath& path)
{
    const auto closesSubpath = [&](int i, QPointF subpathStart) {
        return (i + 1 == path.elementCount() || path.elementAt(i + 1).isMoveTo())
               && QPointF(path.elementAt(i)) == subpathStart;
    };
    QStringList commands;
    QPointF subpathStart;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element element = path.elementAt(i);
        if (element.isMoveTo()) {
            subpathStart = element;
            commands << u'M' + svgPoint(element);
        } else if (element.isLineTo()) {
            commands << (closesSubpath(i, subpathStart) ? QStringLiteral("Z") : u'L' + svgPoint(element));
        } else {
            commands << u'C' + svgPoint(element) + u' ' + svgPoint(path.elementAt(i + 1)) + u' '
                            + svgPoint(path.elementAt(i + 2));
            i += 2;
            if (closesSubpath(i, subpathStart))
                commands << QStringLiteral("Z");
        }
    }
    return commands.join(u' ');
}

QString toSvg(const Drawing& drawing, int size)
{
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" viewBox=\"0 0 %1 %1\">\n")
                      .arg(size);
    for (const Shape& shape : drawing) {
        svg += QStringLiteral("  <path d=\"%1\" fill=\"%2\"")
                   .arg(svgPathData(shape.path), shape.fill.isValid() ? shape.fill.name() : QStringLiteral("none"));
        if (shape.strokeWidth > 0)
            svg += QStringLiteral(" stroke=\"%1\" stroke-width=\"%2\" stroke-linecap=\"round\" stroke-linejoin=\"round\"")
                       .arg(shape.stroke.name(), svgNumber(shape.strokeWidth));
        svg += QStringLiteral("/>\n");
    }
    return svg + QStringLiteral("</svg>\n");
}

} // namespace icons

// Pointer pictures, built pixel by pixel so every edge is crisp.
namespace pointers {

struct Capsule {
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
class PixelCanvas {
public:
    PixelCanvas(int scale, const QList<QRgb>& colours)
        : image(designSize * scale, designSize * scale, QImage::Format_Indexed8)
        , scale(scale)
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

QImage pointingHand(int scale)
{
    const std::vector<Capsule> parts{
        {{12.5, 3.5}, {12.5, 20}, 2.5},   // index finger; its tip is the hot spot, (12, 1) times the scale
        {{16.5, 12.5}, {16.5, 20}, 2.5},  // folded fingers
        {{20.5, 13.5}, {20.5, 20}, 2.5},
        {{24.0, 15.5}, {24.0, 20}, 2.0},
        {{13.5, 22.5}, {19.5, 22.5}, 6.5}, // palm
        {{9.0, 21.0}, {4.5, 16.0}, 2.3},   // thumb
    };
    PixelCanvas canvas(scale, {qRgb(0, 0, 0), qRgb(255, 255, 255)});
    const int size = canvas.image.width();
    const auto inside = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= size || y >= size)
            return false;
        const QPointF centre((x + 0.5) / scale, (y + 0.5) / scale);
        return std::any_of(parts.begin(), parts.end(), [&](const Capsule& c) { return c.contains(centre); });
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

QImage textFile(int scale)
{
    QImage image(32 * scale, 32 * scale, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    const QRectF page(5.5, 1.5, 21, 29);
    constexpr double fold = 7;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawPath(icons::foldedPage(page.translated(1, 1), fold));
    QLinearGradient paper(0, page.top(), 0, page.bottom());
    paper.setColorAt(0, QColor(255, 255, 255));
    paper.setColorAt(1, QColor(236, 238, 242));
    painter.setPen(QPen(QColor(112, 118, 132), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(paper);
    painter.drawPath(icons::foldedPage(page, fold));
    painter.setBrush(QColor(214, 218, 228));
    painter.drawPath(icons::foldFlap(page, fold));
    painter.setPen(QPen(QColor(140, 146, 160), 1, Qt::SolidLine, Qt::FlatCap));
    const double start = page.left() + 3.5;
    double y = 11.5;
    for (const double length : {9, 14, 12, 14, 10, 13}) {
        painter.drawLine(QPointF(start, y), QPointF(start + length, y));
        y += 3;
    }
    painter.end();
    return image;
}

// Full-colour sizes for application grids, installed into the desktop's icon theme.
bool saveThemeIcons(const icons::Drawing& drawing, const QDir& folder, const QString& name)
{
    bool ok = true;
    for (const int size : {48, 64, 128, 256})
        ok = save(icons::rasterize(drawing, size), folder, QStringLiteral("%1-%2.png").arg(name).arg(size)) && ok;
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.exists()) {
        std::fprintf(stderr, "no such folder: %s\n", argv[1]);
        return 1;
    }
    bool ok = saveWithTwin(photo::paint, folder, QStringLiteral("eye-photo"));
    ok = saveWithTwin([](int scale) { return blink::paint(true, scale); }, folder, QStringLiteral("eye-open")) && ok;
    ok = saveWithTwin([](int scale) { return blink::paint(false, scale); }, folder, QStringLiteral("eye-closed")) && ok;
    ok = saveWithTwin(icons::smallLoggerIcon, folder, QStringLiteral("tallix-16")) && ok;
    ok = saveWithTwin([](int scale) { return icons::indexedIcon(icons::loggerIcon(), 32 * scale); }, folder,
                      QStringLiteral("tallix-32"))
         && ok;
    ok = saveThemeIcons(icons::loggerIcon(), folder, QStringLiteral("tallix")) && ok;
    ok = saveText(icons::toSvg(icons::loggerIcon(), icons::designSize), folder, QStringLiteral("tallix.svg")) && ok;
    ok = saveWithTwin(icons::smallViewerIcon, folder, QStringLiteral("vistrel-16")) && ok;
    ok = saveWithTwin([](int scale) { return icons::indexedIcon(icons::viewerIcon(), 32 * scale); }, folder,
                      QStringLiteral("vistrel-32"))
         && ok;
    ok = saveThemeIcons(icons::viewerIcon(), folder, QStringLiteral("vistrel")) && ok;
    ok = saveText(icons::toSvg(icons::viewerIcon(), icons::designSize), folder, QStringLiteral("vistrel.svg")) && ok;
    ok = saveWithTwin(pointers::pointingHand, folder, QStringLiteral("pointing-hand")) && ok;
    ok = saveWithTwin(pointers::computer, folder, QStringLiteral("computer")) && ok;
    ok = saveWithTwin(textFile, folder, QStringLiteral("text-file")) && ok;
    return ok ? 0 : 1;
}
