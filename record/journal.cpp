#include "record/journal.h"
#include "record/protocol.h"

#include <string>
#include <vector>

#include <sys/uio.h>
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

// Every entry goes through here: the fields that find it (its MESSAGE_ID,
// if it has one, the identifier and authpriv), the access's, if it is of
// one, and the record written, if any.
void send(std::string_view message, int priority, const char *messageId = nullptr,
          const Access *access = nullptr, std::string_view record = {})
{
    std::vector<std::string> fields{"MESSAGE=" + std::string(message), "PRIORITY=" + std::to_string(priority),
                                    "SYSLOG_IDENTIFIER=tallix",
                                    "SYSLOG_FACILITY=" + std::to_string(AuthPriv)};
    if (messageId)
        fields.push_back("MESSAGE_ID=" + std::string(messageId));
    if (access) {
        fields.push_back("TALLIX_USER=" + access->user);
        fields.push_back("TALLIX_UID=" + std::to_string(access->uid));
        fields.push_back("TALLIX_SOURCE=" + access->source);
        fields.push_back("TALLIX_TTY=" + access->tty);
        fields.push_back("TALLIX_SESSION=" + access->session);
    }
    if (!record.empty())
        fields.push_back("TALLIX_RECORD=" + std::string(record));
    std::vector<iovec> entry;
    for (std::string &field : fields)
        entry.push_back({field.data(), field.size()});
    sd_journal_sendv(entry.data(), int(entry.size()));
}

void notRecorded(const Access &access, std::string_view reason, int priority,
                 std::string_view what = "non registrato")
{
    send("Accesso di " + who(access) + " " + std::string(what) + ": " + std::string(reason), priority,
         Protocol::RefusedMessageId, &access);
}

} // namespace

void recorded(const Access &access, std::string_view record)
{
    send("Accesso di " + who(access) + " registrato: " + std::string(record), LOG_NOTICE,
         Protocol::RecordedMessageId, &access, record);
}

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
    send(std::string(found) + " (all'accesso di " + who(access) + ")", LOG_WARNING, nullptr, &access);
}

void note(std::string_view message, int priority)
{
    send(message, priority);
}

} // namespace Journal
