#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

// What the service needs of the place it writes: its folder, the log and the
// lock, each a real folder or file of the service's own user, with the
// modes the package gives them. Anything else (root replaced the log with
// a copy of their own, the folder went, the lock was removed) is put right
// before the next append.
namespace Layout {

inline constexpr mode_t FolderMode = 0755;
inline constexpr mode_t LogMode = 0644;
inline constexpr mode_t LockMode = 0600;

// What lstat() found at a path, or nothing there.
using Found = std::optional<struct stat>;

// What is wrong, one line each; nothing when all is as it should be.
std::vector<std::string> problems(const Found &folder, const Found &log, const Found &lock, uid_t owner);

// The same for the log at 'logPath', its folder and its lock, as they are now.
std::vector<std::string> problemsAt(const std::string &logPath, uid_t owner);

} // namespace Layout
