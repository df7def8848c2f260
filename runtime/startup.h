#pragma once

#include <QString>

class QApplication;
class QWidget;

namespace Runtime {

enum class Display {
    Optional, // without a display the program runs on Qt's offscreen platform
    Required,
};

// Chooses the window system before QApplication exists. Returns false, after
// saying why on standard error, when the program needs a display and has none.
bool chooseDisplay(Display need, const char *program);

// Names the program for its windows and error reports, without letting Qt
// append a display name to window titles. The icon is one of the pictures,
// drawn at 16 and 32 pixels.
void identify(QApplication &app, const QString &name, const QString &iconName);

bool isHeadless();

QString programDirectory();

void centreOnScreen(QWidget *window);

} // namespace Runtime
