#pragma once

#include "log/logupdate.h"
#include "service/admission.h"
#include "service/journal.h"
#include "service/logind.h"
#include "service/sessionmarks.h"

#include <chrono>
#include <list>
#include <string>
#include <string_view>

#include <sys/types.h>

struct Request;

// The recording service: takes the connections of the sockets systemd hands
// over and records one access per request, on one thread. A client is
// served as soon as its request is whole, and answered without waiting for
// it to read: one that is slow, stopped or hostile runs out only its own
// deadline. Users share one door, each person within a capped share; PAM has
// a door of its own, which only root can open and which is served first.
class Server
{
public:
    struct Doors
    {
        int access = -1;
        int login = -1; // root's: PAM's login requests come only here
    };

    // 'loginCaller' is the one uid the login door serves: root, which only a
    // test replaces.
    Server(Doors doors, std::string logPath, std::string marksFolder, uid_t loginCaller = 0);

    // Counts the returns that logind tells of, too: unlocks and wakes.
    void follow(Logind &logind);

    // Serves until a listening socket fails; returns the exit status.
    int run();
    // One turn: waits at most 'wait' (forever when negative) and serves what
    // is ready; false when a listening socket failed.
    bool turn(std::chrono::milliseconds wait);

private:
    using Clock = std::chrono::steady_clock;

    struct Connection
    {
        int fd = -1;
        uid_t uid = 0;
        uid_t person = 0;    // whose share it takes
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
    };

    bool acceptWaiting(Door &door);
    void serve(Door &door, const struct pollfd *states, Clock::time_point now);
    void receive(Door &door, Connection &connection);
    void answer(Door &door, Connection &connection, std::string_view line);
    bool admitLogin(Connection &connection, const Request &request, Journal::Access &access);
    void record(Connection &connection, const Request &request, const Journal::Access &access);
    bool write(const Journal::Access &access, uid_t person);
    void cameBack(const Logind::Return &found);
    bool answerAsLogin(Connection &connection);
    void sendRecords(Connection &connection, std::size_t bytes, std::string_view notice);
    void close(Connection &connection);
    void reply(Connection &connection, std::string_view status, std::string_view text);
    void respond(Connection &connection, std::string headerLine);
    void send(Connection &connection);
    void refuse(Connection &connection, Admission::Refusal kind, const Journal::Access &access,
                const std::string &reason);
    void report(Admission::Refusal kind, const Journal::Access &access, uid_t person,
                const std::string &reason);

    Door m_login;
    Door m_access;
    uid_t m_loginCaller;
    std::string m_logPath;
    LogUpdate m_update;
    Admission m_admission;
    SessionMarks m_marks;
    Logind *m_logind = nullptr;
};
