#pragma once

// How a client asks the recording service for one access, and what it hears
// back. tallix-record(8) tells administrators the same.
//
// The client connects to SocketPath, or PAM's step to LoginSocketPath, which
// only root can open (AF_UNIX, SOCK_STREAM), and sends one request line of
// at most MaxRequest bytes, ended by '\n':
//   "access\n"                              the caller's own access (the logger)
//   "login\t<user>\t<service>\t<tty>\t<session>\n"
//                                           a login that PAM opened, in logind's
//                                           session <session>; root only, on
//                                           LoginSocketPath only; asked again
//                                           for a session already recorded, it
//                                           is answered ok and not recorded
//   "unlock\t<user>\t<service>\n"           a screen locker in the caller's own
//                                           session took <user>'s
//                                           password through PAM service
//                                           <service>; believed only when all
//                                           that holds of the caller, and
//                                           answered ok with nothing listed,
//                                           also where it is not to be
//                                           recorded: unlocks are not counted,
//                                           or the return it ends is recorded
// The service answers with one line and closes:
//   "ok <bytes> <omitted> <notice>\n"       the log's first <bytes> bytes are
//                                           the records it held before this
//                                           access (before the login, where
//                                           this access is the first logger of
//                                           a session PAM recorded); <omitted>
//                                           more bytes of them are left out of
//                                           the listing
//   "error 0 0 <message>\n"                 nothing recorded, and why
// The client reads those bytes from the log itself, which anyone may read:
// a log of millions of records reaches the logger without being copied
// through the socket, and nothing the service sends can pile up against it
// when a client never reads.
// Notices and messages are Italian text on one line.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Protocol {

inline constexpr char SocketPath[] = "/run/tallix-record.socket";
inline constexpr char SocketUnits[] = "tallix-record.socket tallix-login.socket";
inline constexpr char LoginSocketPath[] = "/run/tallix-login.socket";

inline constexpr std::size_t MaxRequest = 512;
inline constexpr std::size_t MaxHeader = 4096;

inline constexpr std::string_view AccessRequest = "access";
inline constexpr std::string_view LoginRequest = "login";
inline constexpr std::string_view UnlockRequest = "unlock";
inline constexpr char FieldSeparator = '\t';

inline constexpr std::string_view Ok = "ok";
inline constexpr std::string_view Error = "error";

// The records a reply lists at most: about 1.4 million records, more than a
// login a day for three thousand years, and a listing the logger still
// builds in a second. What lies beyond is counted, not listed.
inline constexpr std::size_t MaxListing = std::size_t(32) << 20;

// A client has this long to send its request, and then to take its reply,
// before the service closes the connection.
inline constexpr std::chrono::seconds RequestTimeout{2};
inline constexpr std::chrono::seconds ReplyTimeout{5};
// The PAM step's wait for the service: with its own start it stays within
// the second it may hold up a login.
inline constexpr std::chrono::milliseconds LoginTimeout{900};

// Open connections and accesses a minute allowed to one person on the users'
// socket, whatever uids their processes take; PAM's socket is not counted.
inline constexpr int MaxConnectionsPerPerson = 4;
inline constexpr int MaxAccessesPerMinute = 12;

// How a login came, as the journal names it: "console", "ssh", or
// "graphical" and the PAM service of the display manager (PAM asks only
// for interactive logins).
inline std::string loginSource(std::string_view service)
{
    if (service == "login")
        return "console";
    if (service == "sshd")
        return "ssh";
    return "graphical " + std::string(service);
}

// A reply as the client reads it: "ok" with the records' bytes, the bytes
// left out and the notice, or "error" and its message.
struct Reply
{
    bool recorded = false;
    std::size_t bytes = 0;
    std::size_t omitted = 0;
    std::string_view text;
};
// The line the service sends.
std::string replyLine(std::string_view status, std::size_t bytes, std::size_t omitted, std::string_view text);
// Nothing where 'reply' is not one whole reply; an error's line may have
// more after it, which is not read.
std::optional<Reply> parseReply(std::string_view reply);

// The journal's MESSAGE_IDs: an access recorded, and one that was not.
inline constexpr char RecordedMessageId[] = "f91763fc1afb493ca8572020c6efd366";
inline constexpr char RefusedMessageId[] = "85f5635bcada43f88d0347d462c227b0";

} // namespace Protocol
