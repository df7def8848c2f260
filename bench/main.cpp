// Times the logger's whole update (read, display texts into the hidden text
// box, append, fsync) against a plain copy of the same log plus fsync.

#include "accesslog.h"
#include "displaytext.h"
#include "logupdate.h"
#include "textbox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int Rounds = 5;

// Several accesses a day, at irregular hours, as logins come.
void writeLog(const QString &path, int records)
{
    QByteArray text;
    text.reserve(qsizetype(records) * 23);
    qint64 seconds = 0;
    const AccessTime start = *AccessTime::fromFields(1990, 1, 1, 8, 0, 0);
    const QDateTime origin(start.date(), start.time());
    for (int i = 0; i < records; ++i) {
        seconds += 3600 + qint64(i) * 7919 % 30000;
        const QDateTime at = origin.addSecs(seconds);
        AccessLog::appendRecord(text, *AccessTime::fromDateTime(at.date(), at.time()));
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
}

double copyWithSync(const QString &from, const QString &to)
{
    QElapsedTimer clock;
    clock.start();
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY);
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    static char buffer[1 << 16];
    ssize_t got;
    while ((got = ::read(in, buffer, sizeof buffer)) > 0) {
        if (::write(out, buffer, got) != got)
            qFatal("copy failed");
    }
    ::fsync(out);
    ::close(in);
    ::close(out);
    return clock.nsecsElapsed() / 1e6;
}

double update(const QString &path, TextBox &holder)
{
    QElapsedTimer clock;
    clock.start();
    LogUpdate run(path);
    if (!run.run(AccessTime::now(), DisplayText()))
        qFatal("%s", qPrintable(run.errorString()));
    holder.setText(holder.text() + run.displayTexts());
    return clock.nsecsElapsed() / 1e6;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("Date.txt"));
    const QString copy = dir.filePath(QStringLiteral("copy.txt"));

    for (int records : {1000, 10000, 100000, 1000000}) {
        writeLog(log, records);
        QList<double> updates, copies;
        for (int round = 0; round < Rounds; ++round) {
            TextBox holder;
            updates << update(log, holder);
            copies << copyWithSync(log, copy);
        }
        const double updateMs = median(updates);
        const double copyMs = median(copies);
        std::printf("%d records: update %.1f ms, copy %.1f ms, ratio %.2f\n", records, updateMs,
                    copyMs, updateMs / copyMs);
    }
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory: %ld MiB\n", usage.ru_maxrss / 1024);
    return 0;
}
