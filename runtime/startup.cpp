#include "startup.h"
#include "version.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTranslator>
#include <QWidget>

#include <cstdio>

namespace Runtime {

bool chooseDisplay(Display need, const char *program)
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY")
        || qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        return true;
    if (need == Display::Optional) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    std::fprintf(stderr, "%s: nessun display disponibile (DISPLAY e WAYLAND_DISPLAY non sono impostati)\n",
                 program);
    return false;
}

void identify(QApplication &app, const QString &name, const QString &iconName)
{
    app.setApplicationName(name);
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

bool isHeadless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

QString programDirectory()
{
    return QCoreApplication::applicationDirPath();
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
