#pragma once

#include "record/mappedfile.h"
#include "record/protocol.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

// Asks the recording service for one access and takes its whole reply
// within a deadline, so that a service that hangs holds up no login.
class RecordClient
{
public:
    // What became of the last request's access, as far as the client knows.
    enum class Outcome {
        Recorded,
        // The service said no: it was not recorded.
        Refused,
        // Nothing reached the service: not recorded by this request.
        Unreachable,
        // The request went out and no whole answer came back.
        Unknown,
    };

    // 'logPath' is the log the service writes, which the client reads itself.
    explicit RecordClient(std::string socketPath = Protocol::SocketPath, std::string logPath = systemLog());
    RecordClient(const RecordClient &) = delete;
    RecordClient &operator=(const RecordClient &) = delete;

    // Sends the request line (without its '\n'); true when the access was recorded.
    bool request(std::string_view line, std::chrono::milliseconds timeout);

    // The records the log held before this access, in file form; valid as
    // long as the client lives.
    std::string_view records() const { return m_records.view(); }
    // Bytes of those records that the service left out of records().
    std::size_t omitted() const { return m_omitted; }
    const std::string &notice() const { return m_notice; }
    const std::string &errorString() const { return m_error; }
    Outcome outcome() const { return m_outcome; }
    // Whether the last request failed because the connection broke off before
    // any answer: the service may have stopped while it served it.
    bool brokenOff() const { return m_brokenOff; }

    static std::string systemLog();

private:
    bool exchange(int fd, std::string_view line, std::chrono::steady_clock::time_point deadline);
    bool takeReply(const std::string &reply);
    bool mapRecords(std::size_t bytes);
    bool fail(std::string message, Outcome outcome);

    std::string m_socketPath;
    std::string m_logPath;
    bool m_brokenOff = false;
    Outcome m_outcome = Outcome::Unknown;
    MappedFile m_records;
    std::size_t m_omitted = 0;
    std::string m_notice;
    std::string m_error;
};
