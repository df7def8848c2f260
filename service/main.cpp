// tallix-record: the one program that writes the access log.
//
// Started by systemd on its sockets, it is the recording service of a system
// install, under its own system user: clients ask, it records, the journal
// says who. Nothing the caller controls (arguments, environment, standard
// streams, signals) may change what it writes. A private install has no
// service: its logger updates its own log.

#include "record/io.h"
#include "record/journal.h"
#include "service/logind.h"
#include "service/mender.h"
#include "service/server.h"
#include "service/settings.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace {

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
}

} // namespace

int main(int argc, char *[])
{
    // Read before the environment that carries them is cleared.
    char **names = nullptr;
    const int sockets = sd_listen_fds_with_names(1, &names);
    Server::Doors doors;
    int fd = SD_LISTEN_FDS_START;
    for (const std::string &name : Io::takeStrings(names, sockets))
        (name == "login" ? doors.login : doors.access) = fd++;
    const bool activated = sockets > 0 && argc == 1;
    secureProcess();
    if (!activated) {
        static constexpr char Message[] =
            "tallix-record: funziona solo come servizio di registrazione, avviato da systemd sul suo "
            "socket (tallix-record.socket)\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, Message, sizeof Message - 1);
        return 2;
    }
    const Settings settings = Settings::read(TALLIX_SETTINGS_FILE);
    for (const std::string &problem : settings.problems)
        Journal::note(problem, LOG_WARNING);
    Server server(doors, TALLIX_STATE_DIR "/Date.txt", TALLIX_SESSIONS_DIR);
    const Mender mender(Mender::SocketPath);
    server.mendThrough([&mender] { return mender.mend(); });
    // Nothing to follow when the administrator counts neither.
    std::optional<Logind> logind;
    if (settings.counted.unlocks || settings.counted.wakes) {
        logind.emplace(settings.counted);
        server.follow(*logind);
    }
    return server.run();
}
