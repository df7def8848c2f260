#include "service/layout.h"

namespace Layout {

namespace {

void look(std::vector<std::string> &found, const char *what, const Found &status, bool folder, mode_t mode,
          uid_t owner)
{
    if (!status) {
        found.push_back(std::string(what) + " non c'è");
        return;
    }
    if (folder ? !S_ISDIR(status->st_mode) : !S_ISREG(status->st_mode)) {
        found.push_back(std::string(what) + (folder ? " non è una cartella" : " non è un file regolare"));
        return;
    }
    if (status->st_uid != owner)
        found.push_back(std::string(what) + " appartiene all'utente " + std::to_string(status->st_uid));
    if ((status->st_mode & 07777) != mode)
        found.push_back(std::string(what) + " ha i permessi " + std::to_string((status->st_mode >> 6) & 7)
                        + std::to_string((status->st_mode >> 3) & 7) + std::to_string(status->st_mode & 7));
}

Found lstatOf(const std::string &path)
{
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
        return std::nullopt;
    return status;
}

} // namespace

std::vector<std::string> problems(const Found &folder, const Found &log, const Found &lock, uid_t owner)
{
    std::vector<std::string> found;
    look(found, "la cartella del registro", folder, true, FolderMode, owner);
    if (!found.empty())
        return found; // what is inside goes with it
    look(found, "il registro", log, false, LogMode, owner);
    look(found, "il file di blocco", lock, false, LockMode, owner);
    return found;
}

std::vector<std::string> problemsAt(const std::string &logPath, uid_t owner)
{
    const std::string folder = logPath.substr(0, logPath.rfind('/'));
    return problems(lstatOf(folder.empty() ? "/" : folder), lstatOf(logPath), lstatOf(logPath + ".lock"),
                    owner);
}

} // namespace Layout
