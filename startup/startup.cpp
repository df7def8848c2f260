#include "startup/startup.h"
#include "startup/version.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>
#include <QWidget>

#include <algorithm>
#include <cstdio>

namespace Runtime {

namespace {

// The user's own choice of a platform without windows is honoured.
bool headlessAskedFor = false;

bool isHeadlessPlatform(QByteArrayView name)
{
    return name == "offscreen" || name == "minimal";
}

} // namespace

void chooseDisplay()
{
    QByteArrayList platforms = qgetenv("QT_QPA_PLATFORM").split(';');
    platforms.removeAll(QByteArray());
    headlessAskedFor = std::any_of(platforms.cbegin(), platforms.cend(), isHeadlessPlatform);
    if (platforms.isEmpty()) {
        if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland")
            platforms << "wayland";
        if (qEnvironmentVariableIsSet("DISPLAY"))
            platforms << "xcb";
    }
    if (!platforms.contains("offscreen"))
        platforms << "offscreen";
    qputenv("QT_QPA_PLATFORM", platforms.join(';'));
}

bool hasDisplay(const char *program)
{
    if (!isHeadless() || headlessAskedFor)
        return true;
    std::fprintf(stderr, "%s: nessun display disponibile per le finestre (DISPLAY=%s, WAYLAND_DISPLAY=%s)\n",
                 program, qgetenv("DISPLAY").constData(), qgetenv("WAYLAND_DISPLAY").constData());
    return false;
}

void identify(QApplication &app, const QString &name, const QString &iconName, const QString &desktopEntry)
{
    app.setApplicationName(name);
    app.setDesktopFileName(desktopEntry);
    app.setApplicationVersion(QString::fromLatin1(Version));
    QIcon icon;
    for (int size : {16, 32})
        icon.addFile(QStringLiteral(":/pictures/%1-%2.png").arg(iconName).arg(size));
    app.setWindowIcon(icon);
    // The windows speak Italian whatever the desktop's language, and so must
    // the buttons of Qt's own dialogs.
    auto *translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
    // Fonts the windows name that a Linux desktop rarely has; an installed
    // original still wins, substitutes are only tried when it is missing.
    QFont::insertSubstitution(QStringLiteral("Snap ITC"), QStringLiteral("Leckerli One"));
    QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
}

QPixmap picture(const QString &name)
{
    const QString twice = QStringLiteral(":/pictures/%1@2x.png").arg(name);
    if (qApp->devicePixelRatio() > 1 && QFile::exists(twice)) {
        QPixmap pixmap(twice);
        pixmap.setDevicePixelRatio(2);
        return pixmap;
    }
    return QPixmap(QStringLiteral(":/pictures/%1.png").arg(name));
}

bool isHeadless()
{
    return isHeadlessPlatform(QGuiApplication::platformName().toLatin1());
}

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    QRect frame(QPoint(), window->size());
    frame.moveCenter(screen->geometry().center());
    window->move(frame.topLeft());
}

} // namespace Runtime
