#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Who counts as a person at the computer: root, and the accounts useradd
// makes from UID_MIN on. A system account (a greeter's, a service's) never
// does.
namespace People {

bool isPerson(uid_t uid);

// Whether logind's class of a session is one of a person's logins: "user",
// and since systemd 256 "user-early" (root's, allowed before the boot ends)
// and "user-incomplete" (a user whose record is not whole yet).
bool isPersonsSessionClass(std::string_view sessionClass);

// The account database (NSS), asked once for each question: a name's uid,
// a uid's name (its number where no account has it), whether a uid has an
// account at all.
std::optional<uid_t> uidOf(std::string_view name);
std::string nameOf(uid_t uid);
bool hasAccount(uid_t uid);

} // namespace People
