#include "errorreport.h"
#include "startup.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace Runtime {

void fail(const QString &message)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(message));
    if (!isHeadless()) {
        // The box may be the last window left; closing it must not end the
        // program with a success status.
        QApplication::setQuitOnLastWindowClosed(false);
        QMessageBox::critical(nullptr, QCoreApplication::applicationName(), message);
    }
    QCoreApplication::exit(1);
}

} // namespace Runtime
