// The access log, which only the service writes but anyone who once could
// may have damaged: every byte of it is read at each access.
#include "tests/fuzz/fuzz.h"

#include "record/accesslog.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const AccessLog::Contents contents = AccessLog::parse(text);
    const AccessLog::Contents checked = AccessLog::check(text);
    // The writer's quick look and the reader's full one see the same log.
    FUZZ_REQUIRE(checked.badLine == contents.badLine && checked.badText == contents.badText
                 && checked.tornTail == contents.tornTail);
    FUZZ_REQUIRE(!contents.hasTornTail() || contents.tornTail <= text.size());
    // Every record read is written back as a line that reads as the same time.
    std::string written;
    for (const AccessTime time : contents.times)
        AccessLog::appendRecord(written, time);
    const AccessLog::Contents again = AccessLog::parse(written);
    FUZZ_REQUIRE(again.isValid() && !again.hasTornTail() && again.times == contents.times);
    return 0;
}
