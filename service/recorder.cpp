#include "service/recorder.h"
#include "log/io.h"
#include "log/logupdate.h"
#include "log/message.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include <sys/uio.h>
#include <unistd.h>

namespace Recorder {

namespace {

constexpr std::string_view Program = "tallix-record";

// Allocates nothing, so that it can still report after the record is written.
void say(std::string_view message, std::string_view detail = {})
{
    const std::string_view parts[] = {Program, ": ", message, detail, "\n"};
    iovec pieces[std::size(parts)];
    for (std::size_t i = 0; i < std::size(parts); ++i)
        pieces[i] = {const_cast<char *>(parts[i].data()), parts[i].size()};
    while (::writev(STDERR_FILENO, pieces, int(std::size(pieces))) < 0 && errno == EINTR) { }
}

// The folder this program was started from, as the kernel saw it: argv[0]
// and the environment are the caller's to choose.
bool programFolder(std::string &folder)
{
    char path[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (size <= 0)
        return false;
    folder.assign(path, std::size_t(size));
    const std::size_t slash = folder.rfind('/');
    if (slash == std::string::npos)
        return false;
    folder.resize(slash);
    return true;
}

int record()
{
    std::string folder;
    if (!programFolder(folder)) {
        say("Impossibile trovare la cartella del programma (/proc non è disponibile): "
            "l'accesso non è stato registrato");
        return 1;
    }
    LogUpdate update(folder + "/Date.txt", LogUpdate::Reading::Whole);
    const bool recorded = update.run();
    for (const std::string &said : {update.notice(), update.damage()}) {
        if (!said.empty())
            say(said);
    }
    if (!recorded) {
        say(update.errorString());
        return 1;
    }
    if (!Io::writeAll(STDOUT_FILENO, update.records())) {
        say("L'accesso è stato registrato, ma l'elenco dei record precedenti non è stato consegnato: ",
            Message::systemError(errno));
        return 1;
    }
    return 0;
}

} // namespace

int runDirectly(int argc)
{
    if (argc > 1) {
        say("Non accetta argomenti: registra l'accesso presente nel file Date.txt della sua cartella");
        return 2;
    }
    try {
        return record();
    } catch (const std::exception &) {
        say("Memoria insufficiente: l'accesso non è stato registrato");
        return 1;
    }
}

} // namespace Recorder
