#pragma once

#include <sys/types.h>

// Who counts as a person at the computer: root, and the accounts useradd
// makes from UID_MIN on. A system account (a greeter's, a service's) never
// does.
namespace People {

bool isPerson(uid_t uid);

} // namespace People
