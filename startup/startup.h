#pragma once

#include <QPixmap>
#include <QString>

class QApplication;
class QWidget;

namespace Runtime {

// Chooses the window system before QApplication exists: the platforms the
// user set, else the session's own, Wayland before X11, which Qt tries in
// turn. Qt's offscreen platform comes last, so that no missing or
// unreachable display ever aborts the program.
void chooseDisplay();

// Whether the program has a display to show windows on; where it has none
// though the user asked for none of that kind, says so on standard error.
bool hasDisplay(const char *program);

// Names the program for its windows and error reports, without letting Qt
// append a display name to window titles, and ties its windows to its
// desktop entry (the Wayland app id, the X11 desktop file). The icon is one
// of the pictures, drawn at 16 and 32 pixels.
void identify(QApplication &app, const QString &name, const QString &iconName, const QString &desktopEntry);

// One of the pictures, drawn at twice its size where the screen needs it.
QPixmap picture(const QString &name);

bool isHeadless();

void centreOnScreen(QWidget *window);

} // namespace Runtime
