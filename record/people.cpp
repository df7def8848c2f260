#include "record/people.h"

#include <fstream>
#include <string>

#include <pwd.h>

namespace People {

namespace {

// The first uid of a person's account, as useradd takes it: read each time,
// since the administrator may change it while the service runs.
uid_t firstPersonUid()
{
    std::ifstream definitions("/etc/login.defs");
    std::string key;
    while (definitions >> key) {
        uid_t uid;
        if (key == "UID_MIN" && definitions >> uid)
            return uid;
        definitions.ignore(1 << 16, '\n');
    }
    return 1000;
}

// An account by name or by uid; its fields live in 'buffer'.
template<typename Key, typename LookUp>
const passwd *account(Key key, LookUp lookUp, passwd &entry, char (&buffer)[4096])
{
    passwd *found = nullptr;
    return lookUp(key, &entry, buffer, sizeof buffer, &found) == 0 ? found : nullptr;
}

} // namespace

std::optional<uid_t> uidOf(std::string_view name)
{
    passwd entry;
    char buffer[4096];
    const passwd *found = account(std::string(name).c_str(), ::getpwnam_r, entry, buffer);
    return found ? std::optional<uid_t>(found->pw_uid) : std::nullopt;
}

std::string nameOf(uid_t uid)
{
    passwd entry;
    char buffer[4096];
    const passwd *found = account(uid, ::getpwuid_r, entry, buffer);
    return found ? found->pw_name : std::to_string(uid);
}

bool hasAccount(uid_t uid)
{
    passwd entry;
    char buffer[4096];
    return account(uid, ::getpwuid_r, entry, buffer) != nullptr;
}

bool isPerson(uid_t uid)
{
    return uid == 0 || (uid != uid_t(-1) && uid >= firstPersonUid());
}

bool isPersonsSessionClass(std::string_view sessionClass)
{
    return sessionClass == "user" || sessionClass == "user-early" || sessionClass == "user-incomplete";
}

} // namespace People
