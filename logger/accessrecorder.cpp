#include "logger/accessrecorder.h"
#include "logger/displaytext.h"
#include "record/accesslog.h"
#include "record/io.h"
#include "record/logupdate.h"
#include "record/recordclient.h"

#include <QFile>
#include <QStringList>

#include <climits>
#include <csignal>

#include <unistd.h>

namespace {

// Far beyond the service's own wait for the lock and its read of a log of
// millions of records.
constexpr int Patience = 60000;

// The log is read through a mapping, which faults where the file shrank
// under it; the logger maps no other file that its user could cut short.
void logShrank(int)
{
    static constexpr char Message[] = "Tallix: Il registro degli accessi è stato accorciato da un altro "
                                      "programma mentre veniva letto; l'accesso potrebbe non essere stato "
                                      "registrato\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, Message, sizeof Message - 1);
    ::_exit(1);
}

} // namespace

AccessRecorder::AccessRecorder(Via via, const QString &path) : m_via(via), m_path(path) { }

QString AccessRecorder::logBesideProgram()
{
    // Not applicationDirPath(): where /proc/self/exe cannot be resolved, Qt
    // falls back on argv[0], which whoever starts the logger chooses.
    char path[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path);
    if (size <= 0 || size == sizeof path)
        return {};
    const QString program = QFile::decodeName(QByteArray(path, size));
    const qsizetype slash = program.lastIndexOf(u'/');
    return slash < 0 ? QString() : program.left(slash) + QStringLiteral("/Date.txt");
}

void AccessRecorder::protectProcess()
{
    // The log must never be opened as standard error and warned into.
    Io::occupyClosedStandardStreams();
    // For the whole process rather than around the update: a write past the
    // file-size limit must fail and be cut back, not kill the logger halfway,
    // and a reader of standard error that went away must not kill it before
    // it shows what it recorded. Nothing in the logger wants either signal.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // Reported as the service reports it, rather than copying the log to
    // avoid it: the copy of a long log would double the time of every start
    // to guard against its own user cutting it while it is read.
    std::signal(SIGBUS, logShrank);
    // The record is the system's local time, from /etc/localtime, as the
    // service's is: a TZ of the caller's must not move it. The window shows
    // stored times only, so nothing else depends on the zone.
    qunsetenv("TZ");
}

bool AccessRecorder::run(const DisplayText &display)
{
    return m_via == Via::Service ? askService(display) : updateInProcess(display);
}

bool AccessRecorder::askService(const DisplayText &display)
{
    RecordClient client(QFile::encodeName(m_path).toStdString());
    if (!client.request(Protocol::AccessRequest, std::chrono::milliseconds(Patience))) {
        m_error = QString::fromStdString(client.errorString());
        return false;
    }
    m_notice = QString::fromStdString(client.notice());
    m_listing = display.listing(AccessLog::parse(client.records()).times);
    if (client.omitted() > 0)
        m_listing += QStringLiteral("(elenco interrotto: altri %L1 byte di record del registro non sono "
                                    "elencati)\r\n")
                         .arg(qulonglong(client.omitted()));
    return true;
}

bool AccessRecorder::updateInProcess(const DisplayText &display)
{
    if (m_path.isEmpty()) {
        m_error = QStringLiteral("Impossibile trovare la cartella del programma (/proc non è disponibile): "
                                 "l'accesso non è stato registrato");
        return false;
    }
    LogUpdate update(QFile::encodeName(m_path).toStdString(), LogUpdate::Reading::Whole);
    const bool recorded = update.run();
    QStringList said;
    for (const std::string &words : {update.notice(), update.damage()}) {
        if (!words.empty())
            said << QString::fromStdString(words);
    }
    if (!recorded) {
        said << QString::fromStdString(update.errorString());
        m_error = said.join(u'\n');
        return false;
    }
    m_notice = said.join(u'\n');
    m_listing = display.listing(update.times());
    return true;
}
