#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <sys/types.h>

// Whose a uid is, wherever its process runs: an account's own uid is that
// account's, and a subordinate uid (/etc/subuid), which newuidmap hands to
// that account's processes in a user namespace, is its owner's too. A uid
// that no account owns belongs to Nobody, which all such uids share.
class Owners
{
public:
    static constexpr uid_t Nobody = uid_t(-1);

    struct Range
    {
        uid_t first = 0;
        uid_t count = 0;
        uid_t owner = 0;
    };
    using UidOf = std::function<std::optional<uid_t>(const std::string &name)>;
    using HasAccount = std::function<bool(uid_t)>;

    // The ranges of a subordinate-id file ("owner:first:count" a line, the
    // owner by name or number); lines that name no account are left out.
    static std::vector<Range> parse(std::string_view text, const UidOf &uidOf);
    static uid_t ownerOf(uid_t uid, const std::vector<Range> &ranges, bool hasAccount);

    // The file is read again whenever it changes.
    Owners(std::string subordinatesFile, UidOf uidOf, HasAccount hasAccount);
    uid_t of(uid_t uid);

private:
    void reload();

    std::string m_file;
    UidOf m_uidOf;
    HasAccount m_hasAccount;
    using Seen = std::tuple<bool, dev_t, ino_t, off_t, time_t, long>;
    std::optional<Seen> m_seen; // the file as it was when read
    std::vector<Range> m_ranges;
    // Accounts are looked up once: a flood of connections must not become
    // a flood of lookups.
    std::unordered_map<uid_t, bool> m_accounts;
};
