#include "startup/startup.h"
#include "viewer/form1.h"
#include "viewer/viewerconfig.h"
#include "viewer/windowframe.h"

#include <QApplication>

#include <optional>

int main(int argc, char *argv[])
{
    Runtime::chooseDisplay();
    QApplication app(argc, argv);
    if (!Runtime::hasDisplay("tallix-vistrel"))
        return 2;
    Runtime::identify(app, Viewer::Form1::Title, QStringLiteral("vistrel"),
                      QStringLiteral("io.github.tallix.Vistrel"));

    Viewer::Form1 form(QString::fromUtf8(Viewer::LogPath), PasswordGate::builtIn());
    if (!form.Form_Load())
        return 1;
    std::optional<WindowFrame> frame;
    if (WindowFrame::isNeeded())
        frame.emplace(form);
    frame ? frame->show() : form.show();
    return app.exec();
}
