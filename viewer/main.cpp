#include "form1.h"
#include "startup.h"
#include "viewerconfig.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (!Runtime::chooseDisplay(Runtime::Display::Required, "tallix-vistrel"))
        return 2;
    QApplication app(argc, argv);
    Runtime::identify(app, Viewer::Form1::Title, QStringLiteral("vistrel"));

    Viewer::Form1 form(QString::fromUtf8(Viewer::LogPath), PasswordGate::builtIn());
    if (!form.Form_Load())
        return 1;
    form.show();
    return app.exec();
}
