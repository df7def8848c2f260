#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

// What logind says of its sessions, as sd-login reads it: the system's
// answers come from system(); a test puts its own sessions in their place.
// Each question is answered empty when sd-login cannot answer it, as for a
// session that has ended.
class Sessions
{
public:
    virtual ~Sessions() = default;

    // sd-login's own answers, from /run/systemd.
    static const Sessions &system();

    virtual std::optional<uid_t> uid(const std::string &session) const = 0;
    // "user", "greeter", "background"...
    virtual std::optional<std::string> sessionClass(const std::string &session) const = 0;
    // "online", "active" or "closing".
    virtual std::optional<std::string> state(const std::string &session) const = 0;
    // "x11", "wayland", "tty"...
    virtual std::optional<std::string> type(const std::string &session) const = 0;
    // The seat it sits at; none for ssh's, cron's and the like.
    virtual std::optional<std::string> seat(const std::string &session) const = 0;
    // In front on its seat.
    virtual bool isActive(const std::string &session) const = 0;
    virtual std::vector<std::string> all() const = 0;
    virtual std::vector<std::string> ofUser(uid_t uid) const = 0;
    // The session in the foreground of 'seat', if any.
    virtual std::optional<std::string> activeOn(const std::string &seat) const = 0;
};
