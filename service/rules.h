#pragma once

#include "service/admission.h"
#include "service/request.h"

#include <optional>
#include <string>

#include <sys/types.h>

// What the service does with each request, and whose it is: decided here,
// from plain facts, and done by the server. A new kind of access is a row of
// Kinds, its request word and its source.
namespace Rules {

enum class Door { Users, Login };

// How each kind of request is taken.
struct Kind
{
    Request::Kind kind;
    // The only door it comes through. Root's is PAM's: no user can reach,
    // fill or slow it, and only there may a request name another user.
    Door door;
    // PAM names the user, who must have an account; asked again after the
    // service broke off, it is recorded once.
    bool namesUser;
    // Told by a screen locker, believed only where the caller can be checked.
    bool believed;
    // The first logger of a session whose login PAM recorded is that login.
    bool mayBeItsLogin;
    // Counted only where it is a return: one heard from logind already is not.
    bool onlyAsReturn;
    // The caller is told how many records the log held before it.
    bool lists;
};

const Kind &of(Request::Kind kind);

// What a rule asks of the moment, only when it needs it and in the order
// the rules read: some answers count something (a return, a share, a claim),
// and must not be asked for a request refused before them.
class Moment
{
public:
    virtual ~Moment() = default;
    virtual bool userKnown() = 0;
    virtual bool loginRecorded() = 0;
    // Why an unlock is not believed; nothing where it is.
    virtual std::optional<std::string> unlockDoubt() = 0;
    // The unlock is a return to count; counts it.
    virtual bool countsAsReturn() = 0;
    // The access is the first logger of its session's recorded login; claims it.
    virtual bool claimedAsLogin() = 0;
    // The person's share of accesses has room; takes one.
    virtual bool withinShare() = 0;
};

enum class Verdict {
    Refuse,  // told to the caller and the journal, with the reason
    Nothing, // answered ok, with nothing recorded
    AsLogin, // answered with the login's listing, nothing recorded
    Record,
};

struct Decision
{
    Verdict verdict;
    std::string reason; // why it is refused
};

// 'request' is nothing for a line that is not a request; 'fromLoginCaller':
// the caller is the one uid root's door serves.
Decision decide(Door door, bool fromLoginCaller, const std::optional<Request> &request, Moment &moment);

// Whose share a connection takes: at root's door its uid's; at the users'
// the owner of the session or user slice it runs in, and outside those the
// owner of its uid ('uidOwner', which may own it as a subordinate).
uid_t personOf(Door door, uid_t uid, std::optional<uid_t> sliceOwner, uid_t uidOwner);

// The words of each refusal, as the caller and the journal read them.
std::string refusedConnection(Admission::Refusal refusal);
std::string tooManyAccesses();
std::string notRecorded(const std::string &reason);

} // namespace Rules
