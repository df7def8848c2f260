#pragma once

#include "record/io.h"
#include "record/journal.h"
#include "record/logcheck.h"
#include "record/logupdate.h"
#include "record/sessions.h"
#include "service/admission.h"
#include "service/inflight.h"
#include "service/logind.h"
#include "service/owners.h"
#include "service/rules.h"
#include "service/sessionmarks.h"

#include <chrono>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

struct Request;

// The recording service: takes the connections of the sockets systemd hands
// over and records one access per request, on one thread. A client is
// served as soon as its request is whole, and answered without waiting for
// it to read: one that is slow, stopped or hostile runs out only its own
// deadline. Users share one door, each person within a capped share; PAM has
// a door of its own, which only root can open and which is served before
// every append of a user's. The log's folder, the log and the lock are
// checked before each append and put right where they went wrong; the
// search for damaged lines runs in pieces between requests.
class Server
{
public:
    struct Doors
    {
        int access = -1;
        int login = -1; // root's: PAM's login requests come only here
    };

    // 'loginCaller' is the one uid the login door serves: root, which only a
    // test replaces, as it replaces logind's word on the sessions.
    Server(Doors doors, std::string logPath, std::string marksFolder, uid_t loginCaller = 0,
           const Sessions &sessions = Sessions::system());

    // Counts the returns that logind tells of, too: unlocks and wakes.
    void follow(Logind &logind);
    // What puts the log's place right when it is not as it should be; true
    // once it has done what it could. Without one, nothing is checked.
    void mendThrough(std::function<bool()> mend);

    // Serves until a listening socket fails; returns the exit status.
    int run();
    // One turn: waits at most 'wait' (forever when negative) and serves what
    // is ready; false when a listening socket failed.
    bool turn(std::chrono::milliseconds wait);

private:
    using Clock = std::chrono::steady_clock;

    struct Connection
    {
        Io::Fd fd;
        uid_t uid = 0;
        pid_t pid = 0;
        uid_t person = 0;    // whose share it takes: Owners::Nobody for no one's
        std::string session; // the caller's logind session, if it runs in one
        Clock::time_point deadline;
        std::string request;
        bool answered = false;
        std::string header;
        std::size_t sent = 0;
    };

    struct Door
    {
        int listener = -1;
        bool login = false;
        std::list<Connection> connections;
        Rules::Door rule() const { return login ? Rules::Door::Login : Rules::Door::Users; }
    };

    class Moment;

    bool acceptWaiting(Door &door);
    void serve(Door &door, const struct pollfd *states, Clock::time_point now);
    // What waits at root's door, served now: a login waits for one user's
    // append at most.
    void serveLogins();
    void receive(Door &door, Connection &connection);
    void serveRequest(Door &door, Connection &connection, std::string_view line);
    std::optional<std::string> unlockDoubt(const Connection &connection, const Request &request,
                                           Journal::Access &access);
    void recordAndAnswer(Connection &connection, const Rules::Kind &kind, const Journal::Access &access);
    bool record(const Journal::Access &access, uid_t person, bool login);
    bool appendOnce(const Journal::Access &access, bool login);
    // The place put right, where it is not as it should be; true if it was.
    bool mendPlace(const Journal::Access &access);
    // What a service that died in the middle of an access left undone.
    void finishLeftOver();
    void checkSome();
    Journal::Access accessOf(const Connection &connection, std::string source);
    void cameBack(const Logind::Return &found);
    void answerListing(Connection &connection, std::size_t bytes, std::string_view notice);
    void close(Connection &connection);
    void answer(Connection &connection, std::string_view status, std::string_view text);
    void answerWith(Connection &connection, std::string headerLine);
    void sendAnswer(Connection &connection);
    void refuse(Connection &connection, const Journal::Access &access, const std::string &reason);
    void report(const Journal::Access &access, uid_t person, const std::string &reason);

    Door m_login;
    Door m_access;
    uid_t m_loginCaller;
    std::string m_logPath;
    LogUpdate m_update;
    LogCheck m_check;
    // The access that set the search going, to name beside what it finds.
    std::optional<Journal::Access> m_checkFor;
    Admission m_admission;
    Owners m_owners;
    SessionMarks m_marks;
    InFlight m_inFlight;
    std::function<bool()> m_mend;
    bool m_servingLogins = false;
    Logind *m_logind = nullptr;
};
