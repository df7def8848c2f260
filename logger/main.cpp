#include "form1.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    Runtime::chooseDisplay();
    QApplication app(argc, argv);
    Runtime::identify(app, QStringLiteral("Tallix"), QStringLiteral("tallix"),
                      QStringLiteral("io.github.tallix.Tallix"));

    Logger::Form1 form(Runtime::programDirectory() + QStringLiteral("/tallix-record"));
    form.show();
    return app.exec();
}
