#include "pictures/draw/icons.h"

#include "pictures/draw/almond.h"

#include <QBrush>
#include <QColor>
#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QPen>
#include <QPointF>
#include <QRectF>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace icons {
namespace {

const QColor outlinePurple(70, 28, 100);
const QColor sclera(255, 255, 255);
const QColor irisViolet(168, 76, 210);
const QColor irisDeep(96, 36, 140);
const QColor pupil(22, 10, 30);
const QColor pageEdge(92, 96, 120);
const QColor pagePaper(250, 250, 252);
const QColor pageFold(214, 218, 232);
const QColor pageText(150, 156, 178);

struct EyeGeometry
{
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

void addEye(Drawing &drawing, const EyeGeometry &eye)
{
    const QPainterPath outline = almond(eye.left, eye.right, eye.lift, eye.lift);
    const QPointF middle = (eye.left + eye.right) / 2;
    drawing.push_back({outline, sclera, {}, 0});
    drawing.push_back({circle(middle, eye.irisRadius), irisViolet, irisDeep, 1});
    drawing.push_back({circle(middle, eye.pupilRadius), pupil, {}, 0});
    drawing.push_back(
        {circle(middle - QPointF(eye.pupilRadius, eye.pupilRadius) * 0.7, eye.pupilRadius * 0.5),
         sclera,
         {},
         0});
    drawing.push_back({outline, {}, outlinePurple, eye.outlineWidth});
    const double halfWidth = (eye.right.x() - eye.left.x()) / 2;
    for (int i = 0; i < eye.lashes; ++i) {
        const double across = eye.lashes > 1 ? 2.0 * i / (eye.lashes - 1) - 1 : 0;
        const QPointF root =
            middle + QPointF(across * halfWidth * 0.62, -eye.lift * 0.75 * (1 - 0.45 * across * across));
        const QPointF direction(across * 0.7, -1);
        drawing.push_back(
            {line(root, root + direction * eye.lashLength), {}, outlinePurple, eye.outlineWidth});
    }
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

void addPage(Drawing &drawing, QRectF page, double fold, double edgeWidth, const QList<double> &textRows)
{
    drawing.push_back({foldedPage(page, fold), pagePaper, pageEdge, edgeWidth});
    drawing.push_back({foldFlap(page, fold), pageFold, pageEdge, edgeWidth});
    const double margin = page.width() * 0.2;
    for (const double row : textRows)
        drawing.push_back({line(QPointF(page.left() + margin, row), QPointF(page.right() - margin, row)),
                           {},
                           pageText,
                           edgeWidth});
}

QList<QRgb> coloursOf(const Drawing &drawing)
{
    QList<QRgb> colours;
    for (const Shape &shape : drawing) {
        for (const QColor &colour : {shape.fill, shape.stroke}) {
            if (colour.isValid() && !colours.contains(colour.rgb()))
                colours.append(colour.rgb());
        }
    }
    return colours;
}

QRgb halfway(QRgb a, QRgb b)
{
    return qRgb((qRed(a) + qRed(b)) / 2, (qGreen(a) + qGreen(b)) / 2, (qBlue(a) + qBlue(b)) / 2);
}

// Nearest colour of a small palette; index 0 is reserved for full transparency.
QImage toIndexed(const QImage &image, const QList<QRgb> &opaqueColours)
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

struct Ink
{
    char symbol;
    QColor colour;
};

// At 16 pixels an eye is best placed pixel by pixel; '.' is transparent.
QImage pixelArt(const std::vector<const char *> &rows, const std::vector<Ink> &inks)
{
    QList<QRgb> table{qRgba(0, 0, 0, 0)};
    for (const Ink &ink : inks)
        table.append(ink.colour.rgb());
    QImage image(static_cast<int>(std::strlen(rows.front())), static_cast<int>(rows.size()),
                 QImage::Format_Indexed8);
    image.setColorTable(table);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const char symbol = rows[y][x];
            const auto ink =
                std::find_if(inks.begin(), inks.end(), [&](const Ink &i) { return i.symbol == symbol; });
            if (symbol != '.' && ink == inks.end())
                qFatal("unknown pixel symbol '%c'", symbol);
            image.setPixel(x, y, symbol == '.' ? 0 : static_cast<int>(ink - inks.begin()) + 1);
        }
    }
    return image;
}

const std::vector<Ink> eyeInks{
    {'o', outlinePurple}, {'w', sclera}, {'v', irisViolet}, {'d', irisDeep}, {'p', pupil}};

QString svgNumber(double value)
{
    QString text = QString::number(std::round(value * 100) / 100, 'f', 2);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text == u"-0" ? QStringLiteral("0") : text;
}

QString svgPoint(const QPainterPath::Element &element)
{
    return svgNumber(element.x) + u' ' + svgNumber(element.y);
}

QString svgPathData(const QPainterPath &path)
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

} // namespace

Drawing loggerIcon()
{
    Drawing drawing;
    addEye(drawing, {QPointF(1.5, 18), QPointF(30.5, 18), 14, 7, 3.1, 2, 3, 5});
    return drawing;
}

Drawing viewerIcon()
{
    Drawing drawing;
    addPage(drawing, QRectF(3.5, 1.5, 20, 26), 7, 1, {9.5, 12.5, 15.5});
    addEye(drawing, {QPointF(8, 22.5), QPointF(31, 22.5), 10.5, 5, 2.3, 1.6, 0, 0});
    return drawing;
}

QImage rasterize(const Drawing &drawing, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(double(size) / designSize, double(size) / designSize);
    for (const Shape &shape : drawing) {
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

// Smooths inner edges within a 16-colour budget: the drawing's own colours, plus those halfway
// between two of them that most pixels need.
QImage indexedIcon(const Drawing &drawing, int size)
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

QString toSvg(const Drawing &drawing, int size)
{
    QString svg =
        QStringLiteral(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" viewBox=\"0 0 %1 %1\">\n")
            .arg(size);
    for (const Shape &shape : drawing) {
        svg += QStringLiteral("  <path d=\"%1\" fill=\"%2\"")
                   .arg(svgPathData(shape.path),
                        shape.fill.isValid() ? shape.fill.name() : QStringLiteral("none"));
        if (shape.strokeWidth > 0)
            svg +=
                QStringLiteral(
                    " stroke=\"%1\" stroke-width=\"%2\" stroke-linecap=\"round\" stroke-linejoin=\"round\"")
                    .arg(shape.stroke.name(), svgNumber(shape.strokeWidth));
        svg += QStringLiteral("/>\n");
    }
    return svg + QStringLiteral("</svg>\n");
}

// Painted directly: nothing else is drawn from its shapes.
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
    painter.drawPath(foldedPage(page.translated(1, 1), fold));
    QLinearGradient paper(0, page.top(), 0, page.bottom());
    paper.setColorAt(0, QColor(255, 255, 255));
    paper.setColorAt(1, QColor(236, 238, 242));
    painter.setPen(QPen(QColor(112, 118, 132), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(paper);
    painter.drawPath(foldedPage(page, fold));
    painter.setBrush(QColor(214, 218, 228));
    painter.drawPath(foldFlap(page, fold));
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

} // namespace icons
