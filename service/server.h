#pragma once

#include "log/logupdate.h"
#include "service/journal.h"
#include "service/sessionmarks.h"

#include <chrono>
#include <deque>
#include <list>
#include <map>
#include <string>
#include <string_view>

#include <sys/types.h>

struct Request;

// The recording service: takes the connections of the socket systemd hands
// over and records one access per request, on one thread. A client is
// served as soon as its request is whole, and answered without waiting for
// it to read: one that is slow, stopped or hostile runs out only its own
// deadline, and a user's open connections and accesses a minute are capped
// so that nobody can crowd the others out.
class Server
{
public:
    Server(int listener, std::string logPath, std::string marksFolder);

    // Serves until the listening socket fails; returns the exit status.
    int run();

private:
    using Clock = std::chrono::steady_clock;

    struct Connection
    {
        int fd = -1;
        uid_t uid = 0;
        std::string session; // the caller's logind session, if it runs in one
        Clock::time_point deadline;
        std::string request;
        bool answered = false;
        std::string header;
        std::size_t sent = 0;
    };

    struct User
    {
        int open = 0;
        std::deque<Clock::time_point> accesses; // within the last minute
        Clock::time_point lastWarning;
        int unreported = 0; // refusals since the last warning
    };

    bool acceptWaiting();
    void receive(Connection &connection);
    void answer(Connection &connection, std::string_view line);
    void record(Connection &connection, const Request &request, const Journal::Access &access);
    bool answerAsLogin(Connection &connection);
    void sendRecords(Connection &connection, std::size_t bytes, std::string_view notice);
    void close(Connection &connection);
    void reply(Connection &connection, std::string_view status, std::string_view text);
    void respond(Connection &connection, std::string headerLine);
    void send(Connection &connection);
    void refuseFlood(uid_t uid, int fd, std::string_view reason);
    bool withinRate(uid_t uid);

    int m_listener;
    std::string m_logPath;
    LogUpdate m_update;
    std::list<Connection> m_connections;
    std::map<uid_t, User> m_users;
    SessionMarks m_marks;
};
