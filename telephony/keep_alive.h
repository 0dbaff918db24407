// SIP OPTIONS keep-alive: the request text and the local address it is sent
// from (the engine sends it from its own SIP socket, see udp_port.h: the
// server sees the line's address and port, which keeps a NAT binding open).
#pragma once

#include <string>

namespace velkor::tel {

struct OptionsRequest {
    std::string targetHost;   // host of the request URI and To
    int targetPort = 0;
    std::string localIp;      // Via/Contact address
    int localPort = 0;
    std::string fromUri;      // the line identity, or sip:sipx@local when no line
    std::string userAgent;    // empty: no User-Agent header
    std::string callId;       // new for every request
    std::string branch;       // Via branch, starts with z9hG4bK
    std::string tag;          // From tag
};

// The request bytes, CRLF line ends, no body.
std::string buildOptionsRequest(const OptionsRequest& r);

// A token of n random letters and digits.
std::string randomToken(std::size_t n);

// The local IPv4 address the system would send from to host:port (dotted), or
// "127.0.0.1" when there is no route.
std::string localAddressFor(const std::string& host, int port);

} // namespace velkor::tel
