// Draws every picture Tallix ships. Run: tallix-draw-pictures OUTPUT-FOLDER

#include "pictures/draw/blink.h"
#include "pictures/draw/icons.h"
#include "pictures/draw/photo.h"
#include "pictures/draw/pointers.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>

#include <cstdio>
#include <functional>

namespace {

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
    ok = saveWithTwin(icons::textFile, folder, QStringLiteral("text-file")) && ok;
    return ok ? 0 : 1;
}
