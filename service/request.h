#pragma once

#include <optional>
#include <string>
#include <string_view>

// A client's request line, as the protocol header describes it.
struct Request
{
    enum class Kind { Access, Login, Unlock };

    Kind kind = Kind::Access;
    // For a login or an unlock: what PAM named. A login's is trusted only
    // from root; an unlock's is checked against the caller.
    std::string user;
    std::string service;
    // For a login only.
    std::string tty;
    std::string session; // logind's session id, empty where there is none

    // Nothing for a line that is not a request, or whose fields hold
    // control bytes or are too long for a name.
    static std::optional<Request> parse(std::string_view line);

    // How the access came: "logger", "unlock", "console", "ssh", or
    // "graphical" and the PAM service of the display manager.
    std::string source() const;
};
