#include "logfile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool syncFolderOf(const QString &file)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(file).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

} // namespace

LogFile::LogFile(const QString &path) : m_path(path) { }

LogFile::~LogFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LogFile::fail(const QString &what, int error)
{
    m_error = what.arg(m_path, qt_error_string(error));
    return false;
}

bool LogFile::open(std::chrono::milliseconds patience)
{
    // A write past the file-size limit must fail and be reported, not kill
    // the program in the middle of an update.
    std::signal(SIGXFSZ, SIG_IGN);

    const QByteArray name = QFile::encodeName(m_path);
    const QDeadlineTimer deadline(patience);
    for (;;) {
        m_fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
        if (m_fd < 0) {
            if (errno == ENOENT) {
                m_error = QStringLiteral("File non trovato: %1 (il registro degli accessi non esiste)").arg(m_path);
                return false;
            }
            return fail(QStringLiteral("Impossibile aprire il file %1: %2"), errno);
        }
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return fail(QStringLiteral("Impossibile bloccare il file %1: %2"), errno);
            if (deadline.hasExpired()) {
                m_error = QStringLiteral("Il file %1 è occupato da un'altra registrazione da più di %2 secondi")
                              .arg(m_path).arg(patience.count() / 1000.0);
                return false;
            }
            QThread::msleep(10);
        }
        // A logger that held the lock before us may have replaced the file.
        struct stat opened, named;
        if (::fstat(m_fd, &opened) != 0)
            return fail(QStringLiteral("Impossibile leggere il file %1: %2"), errno);
        if (::stat(name.constData(), &named) == 0 && sameFile(opened, named))
            return true;
        ::close(m_fd);
        m_fd = -1;
    }
}

bool LogFile::readAll(QByteArray &contents)
{
    struct stat status;
    if (::fstat(m_fd, &status) != 0)
        return fail(QStringLiteral("Impossibile leggere il file %1: %2"), errno);
    contents.resize(status.st_size);
    off_t done = 0;
    while (done < status.st_size) {
        const ssize_t got = ::pread(m_fd, contents.data() + done, status.st_size - done, done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail(QStringLiteral("Impossibile leggere il file %1: %2"), errno);
        if (got == 0)
            break;
        done += got;
    }
    contents.truncate(done);
    m_size = done;
    return true;
}

bool LogFile::append(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(m_fd, bytes.constData() + done, bytes.size() - done, m_size + done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            const int error = put < 0 ? errno : ENOSPC;
            if (::ftruncate(m_fd, m_size) != 0 || ::fsync(m_fd) != 0)
                return fail(QStringLiteral("Impossibile scrivere nel file %1: %2; il file potrebbe "
                                           "terminare con una riga incompleta"), error);
            return fail(QStringLiteral("Impossibile scrivere nel file %1: %2; il file non è stato modificato"),
                        error);
        }
        done += put;
    }
    if (::fsync(m_fd) != 0)
        return fail(QStringLiteral("Impossibile salvare su disco il file %1: %2"), errno);
    m_size += done;
    return true;
}

LogFile::Replacement LogFile::replace(const QByteArray &contents)
{
    struct stat status;
    if (::fstat(m_fd, &status) != 0)
        return Replacement::Impossible;
    // A link stays a link: the new contents go to the file it points to.
    const QString target = QFileInfo(m_path).canonicalFilePath();
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Replacement::Impossible;
    if (::fchown(file.handle(), status.st_uid, status.st_gid) != 0
        || ::fchmod(file.handle(), status.st_mode & 07777) != 0) {
        file.cancelWriting();
        return Replacement::Impossible;
    }
    // Qt 6.4's commit() reports success after a short write, so every write
    // is checked here and the save cancelled on any failure.
    if (file.write(contents) != contents.size() || !file.flush() || ::fsync(file.handle()) != 0) {
        const int error = errno;
        file.cancelWriting();
        fail(QStringLiteral("Impossibile scrivere nel file %1: %2; il file non è stato modificato"), error);
        return Replacement::Failed;
    }
    if (!file.commit()) {
        m_error = QStringLiteral("Impossibile sostituire il file %1: %2; il file non è stato modificato")
                      .arg(m_path, file.errorString());
        return Replacement::Failed;
    }
    if (!syncFolderOf(target)) {
        fail(QStringLiteral("Impossibile salvare su disco la cartella del file %1: %2"), errno);
        return Replacement::Failed;
    }
    return Replacement::Done;
}
