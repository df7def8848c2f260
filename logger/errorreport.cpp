#include "logger/errorreport.h"
#include "startup/startup.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace Logger {

void fail(const QString &message)
{
    warn(message);
    if (!Runtime::isHeadless()) {
        // The box may be the last window left; closing it must not end the
        // program with a success status.
        QApplication::setQuitOnLastWindowClosed(false);
        // Plain text: the message may quote a line of the log.
        QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), message, QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
    QCoreApplication::exit(1);
}

void warn(const QString &message)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(message));
}

} // namespace Logger
