#include "log/journal.h"
#include "log/protocol.h"

#include <syslog.h>
#include <systemd/sd-journal.h>

namespace Journal {

namespace {

constexpr int AuthPriv = LOG_AUTHPRIV >> 3;

std::string who(const Access &access)
{
    return access.user + " (uid " + std::to_string(access.uid) + ", " + access.source
        + (access.tty.empty() ? std::string() : ", " + access.tty) + ")";
}

} // namespace

void recorded(const Access &access, std::string_view record)
{
    const std::string message = "Accesso di " + who(access) + " registrato: " + std::string(record);
    sd_journal_send("MESSAGE_ID=%s", Protocol::RecordedMessageId, "MESSAGE=%s", message.c_str(),
                    "PRIORITY=%d", LOG_NOTICE, "SYSLOG_IDENTIFIER=tallix", "SYSLOG_FACILITY=%d", AuthPriv,
                    "TALLIX_RECORD=%.*s", int(record.size()), record.data(), "TALLIX_USER=%s",
                    access.user.c_str(), "TALLIX_UID=%u", unsigned(access.uid), "TALLIX_SOURCE=%s",
                    access.source.c_str(), "TALLIX_TTY=%s", access.tty.c_str(), "TALLIX_SESSION=%s",
                    access.session.c_str(), nullptr);
}

namespace {

void notRecorded(const Access &access, std::string_view reason, int priority,
                 std::string_view what = "non registrato")
{
    const std::string message =
        "Accesso di " + who(access) + " " + std::string(what) + ": " + std::string(reason);
    sd_journal_send("MESSAGE_ID=%s", Protocol::RefusedMessageId, "MESSAGE=%s", message.c_str(), "PRIORITY=%d",
                    priority, "SYSLOG_IDENTIFIER=tallix", "SYSLOG_FACILITY=%d", AuthPriv, "TALLIX_USER=%s",
                    access.user.c_str(), "TALLIX_UID=%u", unsigned(access.uid), "TALLIX_SOURCE=%s",
                    access.source.c_str(), "TALLIX_TTY=%s", access.tty.c_str(), "TALLIX_SESSION=%s",
                    access.session.c_str(), nullptr);
}

} // namespace

void refused(const Access &access, std::string_view reason)
{
    notRecorded(access, reason, LOG_WARNING);
}

void lost(const Access &access, std::string_view reason)
{
    notRecorded(access, reason, LOG_ERR);
}

void uncertain(const Access &access, std::string_view reason)
{
    notRecorded(access, reason, LOG_WARNING, "forse non registrato");
}

void warning(const Access &access, std::string_view found)
{
    const std::string message = std::string(found) + " (all'accesso di " + who(access) + ")";
    sd_journal_send("MESSAGE=%s", message.c_str(), "PRIORITY=%d", LOG_WARNING, "SYSLOG_IDENTIFIER=tallix",
                    "SYSLOG_FACILITY=%d", AuthPriv, "TALLIX_USER=%s", access.user.c_str(), "TALLIX_UID=%u",
                    unsigned(access.uid), "TALLIX_SOURCE=%s", access.source.c_str(), "TALLIX_TTY=%s",
                    access.tty.c_str(), "TALLIX_SESSION=%s", access.session.c_str(), nullptr);
}

void note(std::string_view message, int priority)
{
    sd_journal_send("MESSAGE=%.*s", int(message.size()), message.data(), "PRIORITY=%d", priority,
                    "SYSLOG_IDENTIFIER=tallix", "SYSLOG_FACILITY=%d", AuthPriv, nullptr);
}

} // namespace Journal
