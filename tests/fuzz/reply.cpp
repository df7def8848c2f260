// The service's reply, as the logger and the PAM step read it.
#include "tests/fuzz/fuzz.h"

#include "record/protocol.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view reply(reinterpret_cast<const char *>(data), size);
    const std::optional<Protocol::Reply> parsed = Protocol::parseReply(reply);
    if (!parsed)
        return 0;
    FUZZ_REQUIRE(parsed->text.find('\n') == std::string_view::npos);
    const std::string line = Protocol::replyLine(parsed->recorded ? Protocol::Ok : Protocol::Error,
                                                 parsed->bytes, parsed->omitted, parsed->text);
    // An "ok" is the whole reply, and reads as the service wrote it; an error
    // is its first line. Numbers may have had leading zeros.
    const std::optional<Protocol::Reply> again = Protocol::parseReply(line);
    FUZZ_REQUIRE(again && again->recorded == parsed->recorded && again->bytes == parsed->bytes
                 && again->omitted == parsed->omitted && again->text == parsed->text);
    return 0;
}
