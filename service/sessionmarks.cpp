#include "service/sessionmarks.h"
#include "record/io.h"
#include "record/journal.h"
#include "record/message.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

namespace {

constexpr std::size_t MaxSessionId = 64;

// Seconds since boot: a clock no one can set back.
long long bootSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return now.tv_sec;
}

struct Mark
{
    unsigned long uid = 0;
    unsigned long long offset = 0;
    long long at = 0;
    // Its first logger came: the login stays recorded, for a retry of PAM's,
    // but no other logger is that login.
    int claimed = 0;
};

std::optional<Mark> readMark(const std::string &path)
{
    std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "re"), &std::fclose);
    Mark mark;
    if (!file
        || std::fscanf(file.get(), "%lu %llu %lld %d", &mark.uid, &mark.offset, &mark.at, &mark.claimed) < 3)
        return std::nullopt;
    return mark;
}

} // namespace

SessionMarks::SessionMarks(std::string folder, const Sessions &sessions)
    : m_folder(std::move(folder)), m_sessions(sessions)
{ }

bool SessionMarks::ended(const std::string &session) const
{
    const std::optional<std::string> state = m_sessions.state(session);
    return !state || *state == "closing";
}

bool SessionMarks::isGraphical(const std::string &session) const
{
    const std::optional<std::string> type = m_sessions.type(session);
    return type && (*type == "x11" || *type == "wayland" || *type == "mir");
}

bool SessionMarks::isSessionId(const std::string &session)
{
    return !session.empty() && session.size() <= MaxSessionId
        && std::all_of(session.begin(), session.end(), [](unsigned char c) { return std::isalnum(c); });
}

void SessionMarks::mark(const std::string &session, uid_t uid, std::size_t recordOffset)
{
    forgetEnded();
    write(session, uid, recordOffset, bootSeconds(), false);
}

void SessionMarks::write(const std::string &session, uid_t uid, std::size_t recordOffset, long long at,
                         bool claimed)
{
    if (!isSessionId(session))
        return;
    const std::string path = m_folder + '/' + session;
    const std::string temporary = path + ".new";
    const std::string text = std::to_string(uid) + ' ' + std::to_string(recordOffset) + ' '
        + std::to_string(at) + ' ' + (claimed ? '1' : '0') + '\n';
    Io::Fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    const bool written = fd.valid() && Io::writeAll(fd.get(), text) && fd.reset();
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        Journal::note("La sessione " + session + " non è stata annotata in " + m_folder + ": "
                          + Message::systemError(errno),
                      LOG_ERR);
        ::unlink(temporary.c_str());
    }
}

bool SessionMarks::recorded(const std::string &session, uid_t uid) const
{
    if (!isSessionId(session))
        return false;
    const std::optional<Mark> mark = readMark(m_folder + '/' + session);
    return mark && mark->uid == uid && bootSeconds() - mark->at <= ClaimWindow.count();
}

std::optional<std::size_t> SessionMarks::claim(uid_t uid, const std::string &peerSession)
{
    forgetEnded();
    if (!peerSession.empty())
        return take(peerSession, uid);
    // Outside any session only a graphical one can have started it: a
    // console or ssh login's mark stays for that session's own logger.
    for (const std::string &session : m_sessions.ofUser(uid)) {
        if (!isGraphical(session))
            continue;
        if (const std::optional<std::size_t> claimed = take(session, uid))
            return claimed;
    }
    return std::nullopt;
}

std::optional<std::size_t> SessionMarks::take(const std::string &session, uid_t uid)
{
    if (!isSessionId(session))
        return std::nullopt;
    const std::string path = m_folder + '/' + session;
    const std::optional<Mark> mark = readMark(path);
    if (!mark || mark->claimed || mark->uid != uid || bootSeconds() - mark->at > ClaimWindow.count())
        return std::nullopt;
    write(session, uid, std::size_t(mark->offset), mark->at, true);
    return std::size_t(mark->offset);
}

void SessionMarks::forgetEnded()
{
    std::unique_ptr<DIR, int (*)(DIR *)> folder(::opendir(m_folder.c_str()), &::closedir);
    if (!folder)
        return;
    while (const dirent *entry = ::readdir(folder.get())) {
        // Marks, and what a mark's interrupted write left; nothing else
        // there is theirs.
        std::string name = entry->d_name;
        const bool leftOver = name.ends_with(".new");
        if (leftOver)
            name.resize(name.size() - 4);
        if (!isSessionId(name))
            continue;
        const std::optional<Mark> mark = readMark(m_folder + '/' + name);
        if (leftOver || ended(name) || !mark || bootSeconds() - mark->at > ClaimWindow.count())
            ::unlink((m_folder + '/' + entry->d_name).c_str());
    }
}
