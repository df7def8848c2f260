// tallix-record: the one program that writes the access log.
//
// Started by systemd on its socket, it is the recording service of a system
// install, under its own system user: clients ask, it records, the journal
// says who. Nothing the caller controls (arguments, environment, standard
// streams, signals) may change what it writes. A private install has no
// service: its logger updates its own log.

#include "log/io.h"
#include "service/server.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <initializer_list>

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace {

// The log is read through a mapping, which faults where a file shrank under
// it: only the file's owner or root can have cut it while it was locked.
void logShrank(int)
{
    static constexpr char Message[] =
        "tallix-record: Il registro degli accessi è stato accorciato da un altro "
        "programma mentre veniva letto; l'accesso potrebbe non essere stato "
        "registrato\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, Message, sizeof Message - 1);
    ::_exit(1);
}

void secureProcess()
{
    ::clearenv();
    // The record is the system's local time, from /etc/localtime.
    ::tzset();
    ::umask(077);
    // No file of ours is ever written as standard error.
    Io::occupyClosedStandardStreams();
    // A write past the file-size limit must fail and be cut back, not kill
    // the process halfway; a reader that went away must not kill it either;
    // and a terminal must not stop it while it holds the lock.
    for (const int ignored : {SIGXFSZ, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU})
        std::signal(ignored, SIG_IGN);
    std::signal(SIGBUS, logShrank);
}

} // namespace

int main(int argc, char *[])
{
    // Read before the environment that carries it is cleared.
    const bool activated = sd_listen_fds(1) == 1 && argc == 1;
    secureProcess();
    if (!activated) {
        static constexpr char Message[] =
            "tallix-record: funziona solo come servizio di registrazione, avviato da systemd sul suo "
            "socket (tallix-record.socket)\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, Message, sizeof Message - 1);
        return 2;
    }
    return Server(SD_LISTEN_FDS_START, TALLIX_STATE_DIR "/Date.txt", TALLIX_SESSIONS_DIR).run();
}
