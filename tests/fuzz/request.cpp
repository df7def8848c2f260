// The request line, which any user writes to the service.
#include "tests/fuzz/fuzz.h"

#include "service/request.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char *>(data), size);
    const std::optional<Request> request = Request::parse(line);
    if (!request)
        return 0;
    // What is taken is a name: no separator, no control byte, a bounded length.
    for (const std::string *field : {&request->user, &request->service, &request->tty, &request->session}) {
        FUZZ_REQUIRE(field->size() <= 128);
        for (const char c : *field)
            FUZZ_REQUIRE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    }
    FUZZ_REQUIRE(!request->source().empty());
    // A request is read from its line alone: the same line again, the same request.
    std::string again;
    switch (request->kind) {
    case Request::Kind::Access:
        again = "access";
        break;
    case Request::Kind::Unlock:
        FUZZ_REQUIRE(!request->user.empty() && !request->service.empty());
        again = "unlock\t" + request->user + '\t' + request->service;
        break;
    case Request::Kind::Login:
        FUZZ_REQUIRE(!request->user.empty() && !request->service.empty());
        again = "login\t" + request->user + '\t' + request->service + '\t' + request->tty + '\t'
            + request->session;
        break;
    }
    FUZZ_REQUIRE(again == line);
    return 0;
}
