#pragma once

// Running the real programs from a test, and reading what they recorded.

#include "record/accesslog.h"

#include <QFile>
#include <QProcess>

#include <optional>
#include <vector>

#include <ctime>

#include <unistd.h>

inline bool isRoot()
{
    return ::geteuid() == 0;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void startProgram(QProcess &process, const QString &program, const QStringList &wrapper = {})
{
    if (wrapper.isEmpty())
        process.start(program, {});
    else
        process.start(wrapper.first(), wrapper.mid(1) << program);
}

struct Run
{
    int exitCode = -1; // also for a failed start, a crash or a hang
    QByteArray errors;
    QByteArray output;
};

inline Run finish(QProcess &process)
{
    const bool exited = process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit;
    if (!exited) {
        process.kill();
        process.waitForFinished();
    }
    return {exited ? process.exitCode() : -1, process.readAllStandardError(),
            process.readAllStandardOutput()};
}

inline Run runProgram(const QString &program, const QStringList &wrapper = {},
                      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    startProgram(process, program, wrapper);
    return finish(process);
}

// The records 'after' holds beyond 'before', which must be its start
// byte for byte; nullopt unless they are whole canonical records.
inline std::optional<std::vector<AccessTime>> addedRecords(const QByteArray &after, const QByteArray &before)
{
    if (!after.startsWith(before))
        return std::nullopt;
    const std::string added = after.mid(before.size()).toStdString();
    const AccessLog::Contents contents = AccessLog::parse(added);
    std::string written;
    for (AccessTime time : contents.times)
        AccessLog::appendRecord(written, time);
    if (written != added)
        return std::nullopt;
    return contents.times;
}

// The system's local time now, as the log's writer takes it: from
// /etc/localtime, whatever this process's TZ says.
inline AccessTime systemNow()
{
    const QByteArray zone = qgetenv("TZ");
    const bool zoned = qEnvironmentVariableIsSet("TZ");
    qunsetenv("TZ");
    ::tzset();
    const std::optional<AccessTime> now = AccessTime::now();
    if (zoned)
        qputenv("TZ", zone);
    ::tzset();
    return now.value_or(AccessTime());
}

inline bool recordedSince(AccessTime time, AccessTime start)
{
    return time >= start && time <= systemNow();
}
