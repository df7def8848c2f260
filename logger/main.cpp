#include "logger/form1.h"
#include "record/protocol.h"
#include "startup/startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
#ifndef TALLIX_RECORDING_SERVICE
    AccessRecorder::protectProcess();
#endif
    Runtime::chooseDisplay();
    QApplication app(argc, argv);
    Runtime::identify(app, QStringLiteral("Tallix"), QStringLiteral("tallix"),
                      QStringLiteral("io.github.tallix.Tallix"));

#ifdef TALLIX_RECORDING_SERVICE
    Logger::Form1 form(AccessRecorder::Via::Service, QString::fromLatin1(Protocol::SocketPath));
#else
    Logger::Form1 form(AccessRecorder::Via::InProcess, AccessRecorder::logBesideProgram());
#endif
    form.show();
    return app.exec();
}
