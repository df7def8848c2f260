// Draws the pictures Tallix ships. Run: tallix-draw-pictures OUTPUT-FOLDER NAME...
// The names are the build's list of pictures (pictures/pictures.cmake); a list
// that differs from what is drawn here is refused, so the two cannot drift apart.

#include "pictures/draw/blink.h"
#include "pictures/draw/icons.h"
#include "pictures/draw/photo.h"
#include "pictures/draw/pointers.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <map>

namespace {

// Draws one picture and writes it to the path; false if it cannot.
using Writer = std::function<bool(const QString &path)>;

Writer png(const std::function<QImage()> &draw)
{
    return [draw](const QString &path) { return draw().save(path, "PNG"); };
}

Writer text(const std::function<QString()> &write)
{
    return [write](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(write().toUtf8()) >= 0;
    };
}

// Every file drawn here, by name; nothing is drawn until it is written.
std::map<QString, Writer> catalogue()
{
    std::map<QString, Writer> files;
    // Qt picks the @2x twin on screens with twice the pixel density.
    const auto withTwin = [&](const QString &name, const std::function<QImage(int scale)> &draw) {
        files[name + QStringLiteral(".png")] = png([draw] { return draw(1); });
        files[name + QStringLiteral("@2x.png")] = png([draw] { return draw(2); });
    };
    // Full-colour sizes for application grids, installed into the desktop's icon theme.
    const auto themeIcons = [&](const QString &name, icons::Drawing (*drawing)()) {
        for (const int size : {48, 64, 128, 256})
            files[QStringLiteral("%1-%2.png").arg(name).arg(size)] =
                png([=] { return icons::rasterize(drawing(), size); });
        files[name + QStringLiteral(".svg")] =
            text([=] { return icons::toSvg(drawing(), icons::designSize); });
    };
    withTwin(QStringLiteral("eye-photo"), photo::paint);
    withTwin(QStringLiteral("eye-open"), [](int scale) { return blink::paint(true, scale); });
    withTwin(QStringLiteral("eye-closed"), [](int scale) { return blink::paint(false, scale); });
    withTwin(QStringLiteral("tallix-16"), icons::smallLoggerIcon);
    withTwin(QStringLiteral("tallix-32"),
             [](int scale) { return icons::indexedIcon(icons::loggerIcon(), 32 * scale); });
    themeIcons(QStringLiteral("tallix"), icons::loggerIcon);
    withTwin(QStringLiteral("vistrel-16"), icons::smallViewerIcon);
    withTwin(QStringLiteral("vistrel-32"),
             [](int scale) { return icons::indexedIcon(icons::viewerIcon(), 32 * scale); });
    themeIcons(QStringLiteral("vistrel"), icons::viewerIcon);
    withTwin(QStringLiteral("pointing-hand"), pointers::pointingHand);
    withTwin(QStringLiteral("computer"), pointers::computer);
    withTwin(QStringLiteral("text-file"), icons::textFile);
    return files;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER NAME...\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.exists()) {
        std::fprintf(stderr, "no such folder: %s\n", argv[1]);
        return 1;
    }
    QStringList names;
    for (int i = 2; i < argc; ++i)
        names << QString::fromLocal8Bit(argv[i]);

    const std::map<QString, Writer> files = catalogue();
    bool listed = true;
    for (const QString &name : names) {
        if (!files.contains(name)) {
            std::fprintf(stderr, "%s is in the list of pictures, but nothing here draws it\n",
                         qPrintable(name));
            listed = false;
        }
    }
    for (const auto &[name, write] : files) {
        if (!names.contains(name)) {
            std::fprintf(stderr, "%s is drawn here, but missing from the list of pictures\n",
                         qPrintable(name));
            listed = false;
        }
    }
    // Nothing is written then, so that a folder of pictures is never left half redrawn.
    if (!listed)
        return 1;

    bool ok = true;
    for (const QString &name : names) {
        const QString path = folder.filePath(name);
        if (!files.at(name)(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
