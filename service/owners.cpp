#include "service/owners.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace {

constexpr std::size_t MaxAccountsKnown = 4096;

template<typename Number> std::optional<Number> number(std::string_view text)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

} // namespace

std::vector<Owners::Range> Owners::parse(std::string_view text, const UidOf &uidOf)
{
    std::vector<Range> ranges;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first == std::string_view::npos ? first : first + 1);
        if (second == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, first);
        const std::optional<uid_t> start = number<uid_t>(line.substr(first + 1, second - first - 1));
        const std::optional<std::uint64_t> count = number<std::uint64_t>(line.substr(second + 1));
        std::optional<uid_t> owner = number<uid_t>(name);
        if (!owner && !name.empty())
            owner = uidOf(std::string(name));
        if (!start || !count || !owner || *count == 0 || *count - 1 > std::uint64_t(uid_t(-1) - *start))
            continue;
        ranges.push_back({*start, uid_t(*count), *owner});
    }
    return ranges;
}

uid_t Owners::ownerOf(uid_t uid, const std::vector<Range> &ranges, bool hasAccount)
{
    for (const Range &range : ranges) {
        if (uid >= range.first && uid - range.first < range.count)
            return range.owner;
    }
    return hasAccount ? uid : Nobody;
}

Owners::Owners(std::string subordinatesFile, UidOf uidOf, HasAccount hasAccount)
    : m_file(std::move(subordinatesFile)), m_uidOf(std::move(uidOf)), m_hasAccount(std::move(hasAccount))
{ }

uid_t Owners::of(uid_t uid)
{
    reload();
    if (const uid_t owner = ownerOf(uid, m_ranges, true); owner != uid)
        return owner;
    if (m_accounts.size() >= MaxAccountsKnown)
        m_accounts.clear();
    const auto [known, added] = m_accounts.try_emplace(uid, false);
    if (added)
        known->second = m_hasAccount(uid);
    return known->second ? uid : Nobody;
}

void Owners::reload()
{
    struct stat status = {};
    const bool exists = ::stat(m_file.c_str(), &status) == 0;
    const Seen seen{exists,         status.st_dev,         status.st_ino,
                    status.st_size, status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
    if (m_seen == seen)
        return;
    m_seen = seen;
    // Accounts may have come or gone with it.
    m_accounts.clear();
    std::ifstream file(m_file);
    std::stringstream text;
    text << file.rdbuf();
    m_ranges = parse(text.str(), m_uidOf);
}
