#include "service/rules.h"
#include "record/protocol.h"

#include <array>
#include <cstdlib>

namespace Rules {

namespace {

// clang-format off
constexpr std::array Kinds = {
    //   kind                    door         names  believed  its login  as return  lists
    Kind{Request::Kind::Access,  Door::Users, false, false,    true,      false,     true},
    Kind{Request::Kind::Login,   Door::Login, true,  false,    false,     false,     false},
    Kind{Request::Kind::Unlock,  Door::Users, false, true,     false,     true,      false},
};
// clang-format on

} // namespace

const Kind &of(Request::Kind kind)
{
    for (const Kind &row : Kinds) {
        if (row.kind == kind)
            return row;
    }
    std::abort();
}

Decision decide(Door door, bool fromLoginCaller, const std::optional<Request> &request, Moment &moment)
{
    if (!request)
        return {Verdict::Refuse, "richiesta non valida"};
    const Kind &kind = of(request->kind);
    // Root's door serves root alone, and a request that names its user comes
    // through no other.
    if (door == Door::Login ? !fromLoginCaller : kind.door == Door::Login)
        return {Verdict::Refuse,
                "solo root, dal socket degli accessi di login, può registrare l'accesso di un altro utente"};
    if (kind.namesUser && !moment.userKnown())
        return {Verdict::Refuse, "utente sconosciuto"};
    // PAM asks again a login whose answer the service broke off.
    if (kind.namesUser && moment.loginRecorded())
        return {Verdict::Nothing, {}};
    if (kind.believed) {
        if (const std::optional<std::string> doubt = moment.unlockDoubt())
            return {Verdict::Refuse, "sblocco non creduto: " + *doubt};
    }
    if (kind.mayBeItsLogin && moment.claimedAsLogin())
        return {Verdict::AsLogin, {}};
    // Not counted, or the end of a return recorded already: nothing to
    // record, and none of the share taken. One over the share is still its
    // return, as logind's unlocks are.
    if (kind.onlyAsReturn && !moment.countsAsReturn())
        return {Verdict::Nothing, {}};
    // Logins are never capped by what users do.
    if (door == Door::Users && !moment.withinShare())
        return {Verdict::Refuse, tooManyAccesses()};
    return {Verdict::Record, {}};
}

uid_t personOf(Door door, uid_t uid, std::optional<uid_t> sliceOwner, uid_t uidOwner)
{
    if (door == Door::Login)
        return uid;
    return sliceOwner.value_or(uidOwner);
}

std::string refusedConnection(Admission::Refusal refusal)
{
    return refusal == Admission::Refusal::Full ? "il servizio ha troppe connessioni aperte"
                                               : "troppe connessioni aperte insieme dallo stesso utente";
}

std::string tooManyAccesses()
{
    return "più di " + std::to_string(Protocol::MaxAccessesPerMinute)
        + " accessi in un minuto dallo stesso utente";
}

std::string notRecorded(const std::string &reason)
{
    return "Accesso non registrato: " + reason;
}

} // namespace Rules
