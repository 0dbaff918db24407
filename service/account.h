// The logged-in account as the service's verification reply describes it.
#pragma once

#include <string>
#include <string_view>

namespace velkor::service {

// A "host:port" text split at its first ':'.
struct HostPort {
    std::string host;  // text before the first ':' (empty when there is none)
    int port = 0;      // decimal port after the first ':'; 0 when missing or outside 1..65535
    bool operator==(const HostPort&) const = default;
};

// host = text before the first ':'; port = all decimal digits that follow it
// (":15060" gives 15060). No ':', no digits, or a value outside 1..65535 give port 0.
HostPort splitHostPort(std::string_view text);

// All texts are GBK byte strings.
struct ServiceAccount {
    std::string accountId;      // as typed in the login window; query key "username"
    std::string password;       // as typed; query key "pass"; also the SIP credential
    std::string sipUser;        // reply field 1
    std::string balance = "0";  // reply field 2, a decimal text such as "12.34"
    std::string sipServer;      // reply field 3, "host:port"
    std::string sipServerHost;  // sipServer before its first ':'
    int sipServerPort = 0;      // see splitHostPort()
    std::string displayNumber;  // reply field 4
    bool operator==(const ServiceAccount&) const = default;
};

} // namespace velkor::service
