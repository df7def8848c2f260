#include "logupdate.h"
#include "accesslog.h"
#include "displaytext.h"
#include "logfile.h"

namespace {

constexpr qsizetype ShownBadText = 40;

QString badRecordMessage(const QString &path, const AccessLog::Contents &contents)
{
    QString text = QString::fromLatin1(contents.badText.left(ShownBadText));
    if (contents.badText.size() > ShownBadText)
        text += u'…';
    return QStringLiteral("Il file %1 non contiene una data valida alla riga %2: «%3»; "
                          "il file non è stato modificato")
        .arg(path).arg(contents.badLine).arg(text);
}

} // namespace

LogUpdate::LogUpdate(const QString &logPath) : m_logPath(logPath) { }

bool LogUpdate::run(AccessTime now, const DisplayText &display)
{
    LogFile file(m_logPath);
    QByteArray old;
    if (!file.open(Patience) || !file.readAll(old)) {
        m_error = file.errorString();
        return false;
    }
    AccessLog::Contents contents = AccessLog::parse(old);
    if (!contents.isValid()) {
        m_error = badRecordMessage(m_logPath, contents);
        return false;
    }

    m_displayTexts.clear();
    m_displayTexts.reserve(contents.times.size() * 22);
    for (AccessTime time : contents.times)
        display.appendTo(m_displayTexts, time, u"\r\n");

    QByteArray record;
    if (old.endsWith('\r'))
        record = "\n";
    else if (!old.isEmpty() && !old.endsWith('\n'))
        record = "\r\n";
    AccessLog::appendRecord(record, now);

    if (contents.layout == AccessLog::Layout::Irregular) {
        contents.times.append(now);
        switch (file.replace(AccessLog::serialize(contents.times))) {
        case LogFile::Replacement::Done:
            return true;
        case LogFile::Replacement::Failed:
            m_error = file.errorString();
            return false;
        case LogFile::Replacement::Impossible:
            // Where only the file, not its folder, is writable the log is
            // left as it reads and the access appended to it.
            break;
        }
    }
    if (!file.append(record)) {
        m_error = file.errorString();
        return false;
    }
    return true;
}
