#pragma once

#include "accesstime.h"

#include <QByteArray>
#include <QList>

// The access log's text form: one date literal per line, CR LF after each,
// oldest first, e.g. "#2002-02-02 17:41:51#", "#2002-02-03#" at midnight
// and "#17:41:51#" on the zero date.
namespace AccessLog {

enum class Layout {
    Canonical,        // reads back byte for byte as it would be written
    Unterminated,     // canonical but for the CR LF after the last record
    Irregular,        // LF line ends, blank lines or long forms to normalise
};

struct Contents
{
    QList<AccessTime> times;
    Layout layout = Layout::Canonical;
    qsizetype badLine = 0;    // 1-based line that is not a date literal, 0 if none
    QByteArray badText;

    bool isValid() const { return badLine == 0; }
};

Contents parse(const QByteArray &text);

std::optional<AccessTime> parseRecord(QByteArrayView literal);
void appendRecord(QByteArray &out, AccessTime time);
QByteArray serialize(const QList<AccessTime> &times);

} // namespace AccessLog
