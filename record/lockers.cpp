#include "record/lockers.h"
#include "record/io.h"
#include "record/people.h"
#include "record/sessions.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include <systemd/sd-login.h>

namespace Lockers {

namespace {

// The PAM services Debian's screen lockers authenticate with, as their user.
// vlock locks a console. GNOME's and LightDM's lockers are not here: their display manager checks
// the password as root, and logind tells their unlock. xsecurelock uses
// common-auth unless built otherwise; nothing else asks PAM under that name.
constexpr std::array Services = {
    "budgie-screensaver",
    "cinnamon-screensaver",
    "common-auth",
    "gnome-screensaver",
    "gtklock",
    "hyprlock",
    "i3lock",
    "kde",
    "mate-screensaver",
    "swaylock",
    "vlock",
    "waylock",
    "xfce4-screensaver",
    "xlock",
    "xscreensaver",
};

constexpr std::array GraphicalTypes = {"x11", "wayland", "mir"};

} // namespace

bool isLocker(std::string_view service)
{
    return std::find(Services.begin(), Services.end(), service) != Services.end();
}

std::optional<std::string> doubt(std::string_view service, const Caller &caller)
{
    if (!isLocker(service))
        return "il servizio PAM " + std::string(service) + " non è quello di un blocco dello schermo";
    if (!caller.user || *caller.user != caller.uid)
        return "chi lo dice non è l'utente di cui PAM ha controllato la password";
    if (!People::isPerson(caller.uid))
        return "l'utente non è una persona";
    const std::optional<Session> &session = caller.session;
    const bool graphical = session
        && std::find(GraphicalTypes.begin(), GraphicalTypes.end(), session->type) != GraphicalTypes.end();
    if (!session || session->uid != caller.uid || !People::isPersonsSessionClass(session->sessionClass)
        || !(graphical || (session->type == "tty" && session->seated)))
        return "chi lo dice non è in una propria sessione grafica o della console";
    if (!session->active)
        return "la sessione non è quella attiva del suo posto";
    return std::nullopt;
}

std::optional<Session> sessionFacts(const std::string &id)
{
    if (id.empty())
        return std::nullopt;
    const Sessions &sessions = Sessions::system();
    const std::optional<uid_t> uid = sessions.uid(id);
    const std::optional<std::string> sessionClass = sessions.sessionClass(id);
    const std::optional<std::string> type = sessions.type(id);
    if (!uid || !sessionClass || !type)
        return std::nullopt;
    return Session{*uid, *sessionClass, *type, sessions.seat(id).has_value(), sessions.isActive(id)};
}

std::string callerSession(pid_t pid, uid_t uid)
{
    Io::CString id;
    if (sd_pid_get_session(pid, id.out()) >= 0)
        return id.get();
    // A unit of a user's service manager runs as that user: a process of
    // 'uid' there is in its own manager. (Its slice is not always the
    // user's own: systemd-run --user puts it in app.slice.)
    Io::CString unit;
    if (sd_pid_get_user_unit(pid, unit.out()) < 0 || sd_uid_get_display(uid, id.out()) < 0)
        return {};
    return id.get();
}

} // namespace Lockers
