// record.conf, which the administrator writes.
#include "tests/fuzz/fuzz.h"

#include "service/settings.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const Settings settings = Settings::parse(text, "record.conf");
    // At most one problem a line, each naming the file.
    FUZZ_REQUIRE(settings.problems.size() <= std::size_t(std::count(text.begin(), text.end(), '\n')) + 1);
    for (const std::string &problem : settings.problems)
        FUZZ_REQUIRE(problem.starts_with("record.conf:"));
    // A setting moves only by a line that names it.
    if (text.find("Unlock") == std::string_view::npos)
        FUZZ_REQUIRE(settings.counted.unlocks);
    if (text.find("Wake") == std::string_view::npos)
        FUZZ_REQUIRE(settings.counted.wakes);
    return 0;
}
