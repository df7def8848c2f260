#include "form1.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    Runtime::chooseDisplay(Runtime::Display::Optional, "tallix");
    QApplication app(argc, argv);
    Runtime::identify(app, QStringLiteral("Tallix"), QStringLiteral("tallix"));

    Logger::Form1 form(Runtime::programDirectory() + QStringLiteral("/tallix-record"));
    form.show();
    return app.exec();
}
