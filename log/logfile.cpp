#include "log/logfile.h"
#include "log/io.h"
#include "log/message.h"

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

std::string folderOf(const std::string &file)
{
    const std::size_t slash = file.rfind('/');
    return slash == 0 ? std::string("/") : file.substr(0, slash);
}

bool syncFolderOf(const std::string &file)
{
    const int fd = ::open(folderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

} // namespace

LogFile::LogFile(std::string path) : m_path(std::move(path)) { }

LogFile::~LogFile()
{
    release();
}

void LogFile::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_fd = m_lockFd = -1;
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
    const std::string lock = m_target + ".lock";
    const int lockFd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (lockFd >= 0)
        return lockBeside(lockFd, deadline);
    if (errno != ENOENT) {
        m_error = "Impossibile aprire il file di blocco " + Message::escaped(lock) + ": "
            + Message::systemError(errno);
        return false;
    }
    return lockItself(deadline);
}

// The lock file outlives every replacement of the log, so the log opened
// after the lock is taken is the current one.
bool LogFile::lockBeside(int lockFd, std::chrono::steady_clock::time_point deadline)
{
    m_lockFd = lockFd;
    if (!waitForLock(m_lockFd, deadline))
        return false;
    m_fd = ::open(m_target.c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0)
        return fail("Impossibile aprire il file", errno);
    return true;
}

bool LogFile::lockItself(std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        m_fd = ::open(m_target.c_str(), O_RDWR | O_CLOEXEC);
        if (m_fd < 0)
            return fail("Impossibile aprire il file", errno);
        if (!waitForLock(m_fd, deadline))
            return false;
        // A logger that held the lock before us may have replaced the file.
        struct stat opened, named;
        if (::fstat(m_fd, &opened) != 0)
            return fail("Impossibile leggere il file", errno);
        if (::stat(m_target.c_str(), &named) == 0 && sameFile(opened, named))
            return true;
        ::close(m_fd);
        m_fd = -1;
    }
}

bool LogFile::waitForLock(int fd, std::chrono::steady_clock::time_point deadline)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
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

bool LogFile::read(std::string_view &contents)
{
    struct stat status;
    if (::fstat(m_fd, &status) != 0)
        return fail("Impossibile leggere il file", errno, Unchanged);
    if (!S_ISREG(status.st_mode)) {
        m_error =
            "Il file " + Message::escaped(m_path) + " non è un file regolare; " + std::string(Unchanged);
        return false;
    }
    m_size = status.st_size;
    // Writers wait for the lock; a file cut short by anyone else faults,
    // and the recorder reports it.
    if (!m_mapped.map(m_fd, std::size_t(m_size)))
        return fail("Impossibile leggere il file", errno, Unchanged);
    contents = m_mapped.view();
    return true;
}

bool LogFile::cutTo(std::size_t size)
{
    if (::ftruncate(m_fd, off_t(size)) != 0 || ::fsync(m_fd) != 0)
        return fail("Impossibile eliminare la riga incompleta in fondo al file", errno);
    m_size = off_t(size);
    return true;
}

bool LogFile::append(std::string_view bytes)
{
    if (::lseek(m_fd, m_size, SEEK_SET) != m_size || !Io::writeAll(m_fd, bytes))
        return cutBack("Impossibile scrivere nel file", errno);
    // A record not on disk is no record: it goes, as after a failed write.
    if (::fsync(m_fd) != 0)
        return cutBack("Impossibile salvare su disco il file", errno);
    m_size += off_t(bytes.size());
    return true;
}

bool LogFile::cutBack(std::string_view what, int error)
{
    if (::ftruncate(m_fd, m_size) != 0 || ::fsync(m_fd) != 0)
        return fail(what, error,
                    "il file potrebbe terminare con una riga non salvata o incompleta; una riga incompleta "
                    "sarà eliminata dalla prossima registrazione");
    return fail(what, error, Unchanged);
}

LogFile::Replacement LogFile::replace(std::string_view contents)
{
    struct stat status;
    if (::fstat(m_fd, &status) != 0)
        return Replacement::Impossible;
    // A link stays a link: the new contents go to the file it points to.
    std::string temporary = m_target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return Replacement::Impossible;
    auto discard = [&] {
        ::close(fd);
        ::unlink(temporary.c_str());
    };
    // A file of our own keeps its owner without fchown, which a service's
    // system call filter may forbid.
    const bool ownOwner = status.st_uid == ::geteuid() && status.st_gid == ::getegid();
    if ((!ownOwner && ::fchown(fd, status.st_uid, status.st_gid) != 0)
        || ::fchmod(fd, status.st_mode & 07777) != 0) {
        discard();
        return Replacement::Impossible;
    }
    if (!Io::writeAll(fd, contents) || ::fsync(fd) != 0) {
        const int error = errno;
        discard();
        fail("Impossibile scrivere nel file", error, Unchanged);
        return Replacement::Failed;
    }
    // fsync before rename: a crash must leave the old log or the new one.
    if (::close(fd) != 0 || ::rename(temporary.c_str(), m_target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail("Impossibile sostituire il file", error, Unchanged);
        return Replacement::Failed;
    }
    if (!syncFolderOf(m_target)) {
        fail("Impossibile salvare su disco la cartella del file", errno);
        return Replacement::Failed;
    }
    return Replacement::Done;
}
