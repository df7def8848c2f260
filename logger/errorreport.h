#pragma once

#include <QString>

namespace Logger {

// Reports a run-time error and ends the program with a non-zero status:
// always on standard error, and in a message box where a display is in use,
// in which case the program ends when the box is dismissed.
void fail(const QString &message);

// Says on standard error something the user may want to know; the program goes on.
void warn(const QString &message);

} // namespace Logger
