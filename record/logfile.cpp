#include "record/logfile.h"
#include "record/io.h"
#include "record/message.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view Unchanged = "il file non è stato modificato";

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

LogFile::LogFile(std::string path) : m_path(std::move(path)) { }

LogFile::~LogFile()
{
    release();
}

void LogFile::release()
{
    m_fd.reset();
    m_lockFd.reset();
}

bool LogFile::fail(std::string_view what, int error, std::string_view consequence)
{
    m_error = std::string(what) + ' ' + Message::escaped(m_path) + ": " + Message::systemError(error);
    if (!consequence.empty())
        m_error += "; " + std::string(consequence);
    return false;
}

bool LogFile::open(std::chrono::milliseconds patience)
{
    m_patience = patience;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    char target[PATH_MAX];
    if (!::realpath(m_path.c_str(), target)) {
        if (errno == ENOENT) {
            m_error =
                "File non trovato: " + Message::escaped(m_path) + " (il registro degli accessi non esiste)";
            return false;
        }
        return fail("Impossibile aprire il file", errno);
    }
    m_target = target;
    if (!openLog())
        return false;
    // Whoever may write the log may take its lock, and no one else: anyone
    // who can open the lock can hold it and keep every writer waiting. So
    // its group and others may read it just where they may write the log:
    // the service's lock stays its own, a log shared with others shares its
    // lock too. A lock opened for reading can be locked.
    struct stat logStatus;
    if (::fstat(m_fd.get(), &logStatus) != 0)
        return fail("Impossibile leggere il file", errno);
    const mode_t shared =
        (logStatus.st_mode & S_IWGRP ? S_IRGRP : 0) | (logStatus.st_mode & S_IWOTH ? S_IROTH : 0);
    const std::string lock = m_target + ".lock";
    m_lockFd.reset(::open(lock.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!m_lockFd.valid()) {
        m_error = "Impossibile aprire il file di blocco " + Message::escaped(lock) + ": "
            + Message::systemError(errno);
        return false;
    }
    // Set after the creation, which the umask narrows; and a lock of ours
    // made narrower, before the log was shared or by an older version, is
    // mended. Should it fail, this writer still holds the lock.
    struct stat made;
    if (::fstat(m_lockFd.get(), &made) == 0 && made.st_uid == ::geteuid()
        && (made.st_mode & shared) != shared)
        ::fchmod(m_lockFd.get(), (made.st_mode & 07777) | shared);
    if (!waitForLock(deadline))
        return false;
    // Someone may have replaced the log while this one waited: the record
    // goes into the file the name leads to now.
    struct stat opened, named;
    if (::fstat(m_fd.get(), &opened) != 0)
        return fail("Impossibile leggere il file", errno);
    if (::stat(m_target.c_str(), &named) == 0 && sameFile(opened, named))
        return true;
    return openLog();
}

bool LogFile::openLog()
{
    m_fd.reset(::open(m_target.c_str(), O_RDWR | O_CLOEXEC));
    return m_fd.valid() || fail("Impossibile aprire il file", errno);
}

bool LogFile::waitForLock(std::chrono::steady_clock::time_point deadline)
{
    while (::flock(m_lockFd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return fail("Impossibile bloccare il file", errno);
        if (std::chrono::steady_clock::now() >= deadline) {
            m_error = "Il file " + Message::escaped(m_path)
                + " è occupato da un'altra registrazione da più di "
                + std::to_string(m_patience.count() / 1000) + " secondi";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool LogFile::status(Status &status)
{
    struct stat file;
    if (::fstat(m_fd.get(), &file) != 0)
        return fail("Impossibile leggere il file", errno, Unchanged);
    if (!S_ISREG(file.st_mode)) {
        m_error =
            "Il file " + Message::escaped(m_path) + " non è un file regolare; " + std::string(Unchanged);
        return false;
    }
    m_size = file.st_size;
    status = {file.st_dev, file.st_ino, std::size_t(file.st_size)};
    return true;
}

bool LogFile::read(MappedFile &mapped)
{
    // Writers wait for the lock; a file cut short by anyone else faults,
    // and the writer's process reports it.
    if (!mapped.map(m_fd.get(), std::size_t(m_size)))
        return fail("Impossibile leggere il file", errno, Unchanged);
    return true;
}

bool LogFile::readEnd(std::size_t bytes, std::string &end)
{
    const off_t start = m_size > off_t(bytes) ? m_size - off_t(bytes) : 0;
    end.resize(std::size_t(m_size - start));
    std::size_t got = 0;
    while (got < end.size()) {
        const ssize_t read = ::pread(m_fd.get(), end.data() + got, end.size() - got, start + off_t(got));
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            return fail("Impossibile leggere il file", read < 0 ? errno : EIO, Unchanged);
        got += std::size_t(read);
    }
    return true;
}

bool LogFile::cutTo(std::size_t size)
{
    if (::ftruncate(m_fd.get(), off_t(size)) != 0 || ::fsync(m_fd.get()) != 0)
        return fail("Impossibile eliminare la riga incompleta in fondo al file", errno);
    m_size = off_t(size);
    return true;
}

bool LogFile::append(std::string_view bytes)
{
    if (::lseek(m_fd.get(), m_size, SEEK_SET) != m_size || !Io::writeAll(m_fd.get(), bytes))
        return cutBack("Impossibile scrivere nel file", errno);
    // A record not on disk is no record: it goes, as after a failed write.
    if (::fsync(m_fd.get()) != 0)
        return cutBack("Impossibile salvare su disco il file", errno);
    m_size += off_t(bytes.size());
    return true;
}

void LogFile::reserve(std::size_t bytes)
{
    // Blocks already allocated cost nothing; with no room left the records
    // go on into what is left of the reserve.
    ::fallocate(m_fd.get(), FALLOC_FL_KEEP_SIZE, m_size, off_t(bytes));
}

bool LogFile::cutBack(std::string_view what, int error)
{
    if (::ftruncate(m_fd.get(), m_size) != 0 || ::fsync(m_fd.get()) != 0)
        return fail(what, error,
                    "il file potrebbe terminare con una riga non salvata o incompleta; una riga incompleta "
                    "sarà eliminata dalla prossima registrazione");
    return fail(what, error, Unchanged);
}
