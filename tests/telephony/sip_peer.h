// Helpers of the end-to-end tests: a SIPp process on loopback started from a
// scenario file of the repo, free ports, and an engine listener that keeps
// the events for the test thread to wait on.
#pragma once

#include "telephony/sipx.h"
#include "tests/support/free_port.h"

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velkor::tel::test {

using velkor::test::freeUdpPort;

// Where the n-th occurrence (from 1) of text starts in s, or npos.
size_t findNth(const std::string& s, const std::string& text, int n);

// Local ports of the UDP sockets the process holds (its open descriptors).
std::vector<int> udpPortsHeldBy(pid_t pid);

// Path of a scenario file in tests/telephony/sipp.
std::string scenarioPath(const std::string& name);

class SippPeer {
public:
    // Runs "sipp -sf scenario -i 127.0.0.1 -p port" plus extra arguments, with
    // its message log in a temporary file.
    SippPeer(const std::string& scenario, int port, const std::vector<std::string>& extra = {});
    ~SippPeer();  // kills it if it still runs

    // Waits for SIPp to end; its exit status (0: every call of the scenario
    // went through), or nullopt on time-out (then it is killed).
    std::optional<int> wait(std::chrono::milliseconds timeout);
    // The SIP messages SIPp sent and received so far.
    std::string messages() const;
    // Waits until pred(messages) holds; false on time-out.
    bool waitUntil(const std::function<bool(const std::string&)>& pred,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Waits until the messages hold text at least n times.
    bool waitForMessage(const std::string& text, int n = 1,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    bool exitedEarly_ = false;  // SIPp ended before it bound its port
    int earlyStatus_ = 0;
    int port_;
    std::string dir_;
    std::string log_;
};

struct Event {
    SIPX_EVENT_CATEGORY category;
    uint32_t handle;   // call or line
    int32_t code;
    int32_t cause;
    std::string text;
    std::chrono::steady_clock::time_point at;  // when the engine reported it
};

// Listener of the tests: records every event with its data.
class EventLog {
public:
    static bool listener(SIPX_EVENT_CATEGORY category, void* info, void* user);

    // Waits until an event matching pred has been recorded (looks at events
    // already seen too); false on time-out.
    bool waitFor(const std::function<bool(const Event&)>& pred, std::chrono::milliseconds timeout);
    bool waitCall(SIPX_CALL call, int32_t code, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitLine(int32_t code, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The first event of the call with the code (category 0), if any.
    std::optional<Event> callEvent(SIPX_CALL call, int32_t code) const;
    std::vector<Event> events() const;
    // Codes of the call's events in order.
    std::vector<int32_t> callCodes(SIPX_CALL call) const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Event> events_;
};

} // namespace velkor::tel::test
