#include "log/people.h"

#include <fstream>
#include <string>

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

} // namespace

bool isPerson(uid_t uid)
{
    return uid == 0 || (uid != uid_t(-1) && uid >= firstPersonUid());
}

bool isPersonsSessionClass(std::string_view sessionClass)
{
    return sessionClass == "user" || sessionClass == "user-early" || sessionClass == "user-incomplete";
}

} // namespace People
