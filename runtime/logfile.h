#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

#include <sys/types.h>

// An existing log file held under an exclusive lock for one update.
//
// Every change either completes and is on disk, or leaves the file as it
// was: an append is cut back on a short write, and a full rewrite goes
// through a temporary file that replaces the old one atomically, with the
// old owner, group and mode.
class LogFile
{
public:
    explicit LogFile(const QString &path);
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // Opens the file, never creating it, and waits up to 'patience' for
    // another process's lock. A lock dies with its holder.
    bool open(std::chrono::milliseconds patience);
    bool readAll(QByteArray &contents);
    bool append(const QByteArray &bytes);

    enum class Replacement { Done, Impossible, Failed };
    // Impossible: the folder takes no new file, or the file's owner cannot
    // be kept; nothing was changed and appending is still possible.
    Replacement replace(const QByteArray &contents);

    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

private:
    bool fail(const QString &what, int error);

    QString m_path;
    int m_fd = -1;
    off_t m_size = 0;
    QString m_error;
};
