#pragma once

#include "record/sessions.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include <sys/types.h>

// The logins that PAM had recorded, one mark per logind session, kept in a
// folder under /run: they outlive a restart of the service, not a reboot,
// and go with their session. The first start of the logger in such a
// session, soon after the login, is that login's own access, not another.
class SessionMarks
{
public:
    // An autostart logger starts within seconds of the login; a mark left
    // unclaimed longer (the autostart entry was hidden) never swallows a
    // later, deliberate start.
    static constexpr std::chrono::seconds ClaimWindow{120};

    // 'sessions' tells which sessions logind has let go, and which are a
    // user's graphical ones; a test puts its own.
    explicit SessionMarks(std::string folder, const Sessions &sessions = Sessions::system());

    // PAM's login in 'session' was recorded, its record beginning at 'recordOffset'.
    void mark(const std::string &session, uid_t uid, std::size_t recordOffset);

    // Whether PAM's login of 'uid' in 'session' was recorded lately: asked
    // again, after the service broke off its answer, it is not recorded
    // twice, even where the session's first logger has come meanwhile.
    bool recorded(const std::string &session, uid_t uid) const;

    // An access of 'uid' from 'peerSession', or from outside any session
    // (a desktop's autostart run under user@UID.service) when it is empty,
    // then from one of the uid's graphical sessions: the offset of the login
    // record it is the same access as, if any.
    std::optional<std::size_t> claim(uid_t uid, const std::string &peerSession);

    static bool isSessionId(const std::string &session);

private:
    std::optional<std::size_t> take(const std::string &session, uid_t uid);
    void write(const std::string &session, uid_t uid, std::size_t recordOffset, long long at, bool claimed);
    void forgetEnded();
    bool ended(const std::string &session) const;
    bool isGraphical(const std::string &session) const;

    std::string m_folder;
    const Sessions &m_sessions;
};
