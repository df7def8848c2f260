#pragma once

#include "accesstime.h"

#include <QString>

#include <chrono>

class DisplayText;

// One access recorded: every record of the log is read and listed, and the
// given time is added as the new last record. On any failure the log keeps
// what it held before, and errorString() says what went wrong.
class LogUpdate
{
public:
    static constexpr std::chrono::milliseconds Patience{5000};

    explicit LogUpdate(const QString &logPath);

    bool run(AccessTime now, const DisplayText &display);

    // The records read, one per line, each ended by CR LF, in file order.
    QString displayTexts() const { return m_displayTexts; }
    QString errorString() const { return m_error; }

private:
    QString m_logPath;
    QString m_displayTexts;
    QString m_error;
};
