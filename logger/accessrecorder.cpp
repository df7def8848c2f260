#include "logger/accessrecorder.h"
#include "log/accesslog.h"
#include "log/mappedfile.h"
#include "log/recordclient.h"
#include "logger/displaytext.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <string_view>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Far beyond the recorder's own wait for the lock and its read of a log of
// millions of records.
constexpr int Patience = 60000;

// Where the recorder writes the records: a file in memory rather than a
// pipe, since a log of a million records is 23 MB, which a pipe would hand
// over 64 KB at a time.
class RecordsFile
{
public:
    RecordsFile() : m_fd(::memfd_create("tallix-records", MFD_CLOEXEC)) { }
    ~RecordsFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RecordsFile(const RecordsFile &) = delete;
    RecordsFile &operator=(const RecordsFile &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // A name under which the recorder's standard output can be opened.
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }

    // What the recorder wrote; false with errno set when it cannot be read.
    bool contents(std::string_view &text)
    {
        struct stat status;
        if (::fstat(m_fd, &status) != 0 || !m_mapped.map(m_fd, std::size_t(status.st_size)))
            return false;
        text = m_mapped.view();
        return true;
    }

private:
    int m_fd;
    MappedFile m_mapped;
};

// The recorder's lines without its program name, which means nothing to
// the person who started the logger.
QString messageOf(const QByteArray &errors)
{
    static const QRegularExpression prefix(QStringLiteral("^tallix-record: "),
                                           QRegularExpression::MultilineOption);
    return QString::fromUtf8(errors).remove(prefix).trimmed();
}

} // namespace

AccessRecorder::AccessRecorder(Via via, const QString &path) : m_via(via), m_path(path) { }

bool AccessRecorder::run(const DisplayText &display)
{
    return m_via == Via::Service ? askService(display) : runProgram(display);
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

bool AccessRecorder::runProgram(const DisplayText &display)
{
    RecordsFile records;
    if (!records.isOpen()) {
        m_error = QStringLiteral("Impossibile preparare la lettura dei record: %1; l'accesso non è stato "
                                 "registrato")
                      .arg(qt_error_string(errno));
        return false;
    }
    if (!runRecorder(records.path()))
        return false;
    std::string_view text;
    if (!records.contents(text)) {
        m_error = QStringLiteral("L'accesso è stato registrato, ma i record precedenti non possono essere "
                                 "letti: %1")
                      .arg(qt_error_string(errno));
        return false;
    }
    m_listing = display.listing(AccessLog::parse(text).times);
    return true;
}

bool AccessRecorder::runRecorder(const QString &output)
{
    QProcess recorder;
    recorder.setStandardInputFile(QProcess::nullDevice());
    recorder.setStandardOutputFile(output);
    recorder.start(m_path, {}, QIODevice::ReadOnly);
    if (!recorder.waitForStarted()) {
        m_error = QStringLiteral("Impossibile avviare %1: %2; l'accesso non è stato registrato")
                      .arg(m_path, recorder.errorString());
        return false;
    }
    if (!recorder.waitForFinished(Patience)) {
        recorder.kill();
        recorder.waitForFinished();
        m_error = QStringLiteral("%1 non ha terminato entro %2 secondi; l'accesso potrebbe non essere "
                                 "stato registrato")
                      .arg(m_path)
                      .arg(Patience / 1000);
        return false;
    }
    const QString said = messageOf(recorder.readAllStandardError());
    if (recorder.exitStatus() != QProcess::NormalExit || recorder.exitCode() != 0) {
        m_error = !said.isEmpty() ? said
                                  : QStringLiteral("%1 è terminato in modo anomalo; l'accesso potrebbe "
                                                   "non essere stato registrato")
                                        .arg(m_path);
        return false;
    }
    m_notice = said;
    return true;
}
