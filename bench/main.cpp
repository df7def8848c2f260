// Times the logger's whole update as Form_Activate does it (the read,
// check, append and fsync of the log, then the records listed for the
// hidden text box) against a plain copy of the same log plus fsync, and the
// viewer's password gate, which should answer within a quarter of a second.
//   tallix-bench                 the private path: the update in the logger's
//                                own process
//   tallix-bench --service LOG STEP
//                                the recording service of this machine, whose log
//                                LOG it refills for each size, 10^3 to 10^7
//                                records: its time per access, and logins that
//                                come at once; and what the PAM step STEP adds to a
//                                screen locker's password check; as root, on a
//                                throwaway system only

#include "logger/accessrecorder.h"
#include "logger/displaytext.h"
#include "record/accesslog.h"
#include "record/io.h"
#include "record/protocol.h"
#include "record/recordclient.h"
#include "viewer/gate/passwordgate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int Rounds = 5;

// Several accesses a day, at irregular hours, as logins come.
void writeLog(const QString &path, int records)
{
    std::string text;
    text.reserve(std::size_t(records) * AccessLog::FullLine);
    AccessTime at = *AccessTime::fromFields(1990, 1, 1, 8, 0, 0);
    for (int i = 0; i < records; ++i) {
        at = at.plusSeconds(3600 + std::int64_t(i) * 7919 % 30000);
        AccessLog::appendRecord(text, at);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(text.data(), qint64(text.size())) != qint64(text.size()))
        qFatal("cannot write %s", qPrintable(path));
}

double copyWithSync(const QString &from, const QString &to)
{
    QElapsedTimer clock;
    clock.start();
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY);
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0)
        qFatal("cannot copy %s to %s", qPrintable(from), qPrintable(to));
    static char buffer[1 << 16];
    ssize_t got;
    while ((got = ::read(in, buffer, sizeof buffer)) > 0) {
        if (!Io::writeAll(out, std::string_view(buffer, std::size_t(got))))
            qFatal("copy failed");
    }
    if (got < 0 || ::fsync(out) != 0)
        qFatal("copy failed");
    ::close(in);
    ::close(out);
    return clock.nsecsElapsed() / 1e6;
}

double update(const QString &path, QString &text1)
{
    QElapsedTimer clock;
    clock.start();
    AccessRecorder run(AccessRecorder::Via::InProcess, path);
    if (!run.run(DisplayText()))
        qFatal("%s", qPrintable(run.errorString()));
    text1 += run.listing();
    return clock.nsecsElapsed() / 1e6;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

void timeTheGate()
{
    const PasswordGate gate = PasswordGate::builtIn();
    QList<double> answers;
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        if (gate.accepts(QStringLiteral("not the password")))
            qFatal("the gate let a wrong password through");
        answers << clock.nsecsElapsed() / 1e6;
    }
    std::printf("password gate: %.1f ms\n", median(answers));
}

// Stopped and started again, the service running once more, as after a
// reboot; its sockets wait for the next access.
void restartService()
{
    if (std::system("systemctl restart tallix-record.service") != 0)
        qFatal("cannot restart tallix-record.service");
}

template<typename Ask> void timeTogether(int together, const Ask &ask)
{
    QList<double> waits(together);
    std::vector<std::thread> logins;
    for (int i = 0; i < together; ++i)
        logins.emplace_back([&, i] { waits[i] = ask(); });
    for (std::thread &thread : logins)
        thread.join();
    std::printf("  %d logins at once: median %.1f ms, max %.1f ms\n", together, median(waits),
                *std::max_element(waits.begin(), waits.end()));
}

// The service's own time per access at each size, and how long logins that
// come at once wait: asked on PAM's door, which no cap slows and where no
// listing is built. Every access must cost the same whatever the log's
// length: the first after the log was rewritten, and the first after the
// service started, too.
void timeTheService(const QString &logPath)
{
    const std::string log = QFile::encodeName(logPath).toStdString();
    const std::string login = std::string(Protocol::LoginRequest) + "\troot\ttallix-bench\t\t";
    const auto ask = [&] {
        QElapsedTimer clock;
        clock.start();
        RecordClient client(Protocol::LoginSocketPath, log);
        if (!client.request(login, std::chrono::seconds(60)))
            qFatal("%s", client.errorString().c_str());
        return clock.nsecsElapsed() / 1e6;
    };
    std::printf("the recording service, %s\n", Protocol::LoginSocketPath);
    for (int records : {1000, 10000, 100000, 1000000, 10000000}) {
        writeLog(logPath, records);
        const double first = ask();
        QList<double> accesses;
        for (int round = 0; round < 20; ++round)
            accesses << ask();
        std::printf("%d records: %.2f ms per access (median of 20), the first %.1f ms\n", records,
                    median(accesses), first);
        if (records >= 1000000) {
            restartService();
            std::printf("  the first login after a start: %.1f ms\n", ask());
            restartService();
            timeTogether(32, ask);
        }
        if (records != 10000 && records != 1000000)
            continue;
        for (int together : {1, 8, 32})
            timeTogether(together, ask);
    }
}

// What a screen locker's password check waits for the PAM auth step:
// pam_exec runs it and waits for it to end, which it does before it asks
// anything. Beside it, a program that does nothing, run the same way.
void timeTheAuthStep(const char *step)
{
    const auto run = [](const char *program, const char *type) {
        const std::string typeVariable = std::string("PAM_TYPE=") + type;
        char *const argv[] = {const_cast<char *>(program), nullptr};
        char *const environment[] = {const_cast<char *>(typeVariable.c_str()),
                                     const_cast<char *>("PAM_SERVICE=xscreensaver"),
                                     const_cast<char *>("PAM_USER=root"), nullptr};
        QElapsedTimer clock;
        clock.start();
        pid_t pid = 0;
        int status = 0;
        if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environment) != 0
            || ::waitpid(pid, &status, 0) != pid)
            qFatal("cannot run %s", program);
        return clock.nsecsElapsed() / 1e6;
    };
    QList<double> steps, nothing, others;
    for (int round = 0; round < 50; ++round) {
        steps << run(step, "auth");
        others << run(step, "account");
        nothing << run("/bin/true", "auth");
    }
    std::printf("the PAM auth step, as a locker's check waits for it: median %.2f ms; for another step "
                "%.2f ms; /bin/true %.2f ms\n",
                median(steps), median(others), median(nothing));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--service") == 0) {
        timeTheAuthStep(argv[3]);
        timeTheService(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("copy.txt"));
    const QString log = dir.filePath(QStringLiteral("Date.txt"));
    std::printf("the update in process, as a private install does it\n");
    for (int records : {1000, 10000, 100000, 1000000}) {
        writeLog(log, records);
        QList<double> updates, copies;
        for (int round = 0; round < Rounds; ++round) {
            QString text1;
            updates << update(log, text1);
            copies << copyWithSync(log, copy);
        }
        const double updateMs = median(updates);
        const double copyMs = median(copies);
        std::printf("%d records: update %.1f ms, copy %.1f ms, ratio %.2f\n", records, updateMs, copyMs,
                    updateMs / copyMs);
    }
    timeTheGate();
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory: %ld MiB\n", usage.ru_maxrss / 1024);
    return 0;
}
