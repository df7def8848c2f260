#pragma once

#include <chrono>
#include <string>
#include <string_view>

// Asks root to put the service's folder, log and lock right: a connection to
// the mending socket starts systemd-tmpfiles as root, on the package's own
// lines, and ends when it is done. The service's user can chown nothing,
// and its folder may be gone from under it.
class Mender
{
public:
    static constexpr char SocketPath[] = "/run/tallix-mend.socket";
    static constexpr std::string_view Mended = "mended";
    // tmpfiles takes milliseconds; a login waits for it at most this long.
    static constexpr std::chrono::milliseconds Patience{500};

    explicit Mender(std::string socketPath);
    // True once root's side has finished; what it found is its own to tell.
    bool mend() const;

private:
    std::string m_socketPath;
};
