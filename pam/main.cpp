// pam-session: run by pam_exec, from the tallix PAM profile, as a session
// opens. It asks the recording service to record a text login, on a console
// (service login) or over ssh (service sshd); graphical logins are the
// autostart logger's, so that none counts twice. It never waits longer than
// the protocol's login time-out, never prints to the user's terminal and
// always lets the session open: what goes wrong goes to the journal.

#include "protocol.h"
#include "recordclient.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include <syslog.h>
#include <systemd/sd-journal.h>

namespace {

std::string_view variable(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

bool isRecordedLogin(std::string_view service, std::string_view tty)
{
    // A login on an X display is a graphical one.
    return (service == "login" || service == "sshd") && !tty.starts_with(':');
}

} // namespace

int main()
{
    const std::string_view service = variable("PAM_SERVICE");
    const std::string_view tty = variable("PAM_TTY");
    const std::string_view user = variable("PAM_USER");
    if (variable("PAM_TYPE") != "open_session" || !isRecordedLogin(service, tty))
        return 0;

    std::string request(Protocol::LoginRequest);
    for (const std::string_view field : {user, service, tty})
        (request += Protocol::FieldSeparator) += field;
    RecordClient client;
    if (!client.request(request, Protocol::LoginTimeout)) {
        const std::string message = "Accesso " + std::string(service) + " di " + std::string(user)
            + " non registrato: " + client.errorString();
        sd_journal_send("MESSAGE_ID=%s", Protocol::RefusedMessageId, "MESSAGE=%s", message.c_str(),
                        "PRIORITY=%d", LOG_WARNING, "SYSLOG_IDENTIFIER=tallix", "SYSLOG_FACILITY=%d",
                        LOG_AUTHPRIV >> 3, "TALLIX_USER=%.*s", int(user.size()), user.data(),
                        "TALLIX_SOURCE=%.*s", int(service.size()), service.data(), nullptr);
    }
    return 0;
}
