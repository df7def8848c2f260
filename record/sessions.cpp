#include "record/sessions.h"
#include "record/io.h"

#include <systemd/sd-login.h>

namespace {

std::optional<std::string> taken(int result, const Io::CString &text)
{
    if (result < 0 || !text.get())
        return std::nullopt;
    return std::string(text.get());
}

class SystemSessions final : public Sessions
{
public:
    std::optional<uid_t> uid(const std::string &session) const override
    {
        uid_t uid = 0;
        if (sd_session_get_uid(session.c_str(), &uid) < 0)
            return std::nullopt;
        return uid;
    }

    std::optional<std::string> sessionClass(const std::string &session) const override
    {
        Io::CString text;
        return taken(sd_session_get_class(session.c_str(), text.out()), text);
    }

    std::optional<std::string> state(const std::string &session) const override
    {
        Io::CString text;
        return taken(sd_session_get_state(session.c_str(), text.out()), text);
    }

    std::optional<std::string> type(const std::string &session) const override
    {
        Io::CString text;
        return taken(sd_session_get_type(session.c_str(), text.out()), text);
    }

    std::optional<std::string> seat(const std::string &session) const override
    {
        Io::CString text;
        return taken(sd_session_get_seat(session.c_str(), text.out()), text);
    }

    bool isActive(const std::string &session) const override
    {
        return sd_session_is_active(session.c_str()) > 0;
    }

    std::vector<std::string> all() const override
    {
        char **list = nullptr;
        const int count = sd_get_sessions(&list);
        return Io::takeStrings(list, count);
    }

    std::vector<std::string> ofUser(uid_t uid) const override
    {
        char **list = nullptr;
        const int count = sd_uid_get_sessions(uid, 0, &list);
        return Io::takeStrings(list, count);
    }

    std::optional<std::string> activeOn(const std::string &seat) const override
    {
        Io::CString text;
        return taken(sd_seat_get_active(seat.c_str(), text.out(), nullptr), text);
    }
};

} // namespace

const Sessions &Sessions::system()
{
    static const SystemSessions sessions{};
    return sessions;
}
