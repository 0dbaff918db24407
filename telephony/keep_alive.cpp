#include "telephony/keep_alive.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

namespace velkor::tel {

std::string buildOptionsRequest(const OptionsRequest& r)
{
    const std::string target = r.targetHost + ":" + std::to_string(r.targetPort);
    const std::string local = r.localIp + ":" + std::to_string(r.localPort);
    std::string s;
    s += "OPTIONS sip:" + target + " SIP/2.0\r\n";
    s += "Via: SIP/2.0/UDP " + local + ";rport;branch=" + r.branch + "\r\n";
    s += "Max-Forwards: 70\r\n";
    s += "From: <" + r.fromUri + ">;tag=" + r.tag + "\r\n";
    s += "To: <sip:" + target + ">\r\n";
    s += "Call-ID: " + r.callId + "\r\n";
    s += "CSeq: 1 OPTIONS\r\n";
    s += "Contact: <sip:" + local + ">\r\n";
    if (!r.userAgent.empty())
        s += "User-Agent: " + r.userAgent + "\r\n";
    s += "Accept: application/sdp\r\n";
    s += "Content-Length: 0\r\n\r\n";
    return s;
}

std::string randomToken(std::size_t n)
{
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 gen{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, 35);
    std::string s(n, '0');
    for (auto& c : s)
        c = digits[pick(gen)];
    return s;
}

std::string localAddressFor(const std::string& host, int port)
{
    std::string result = "127.0.0.1";
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0 || !res)
        return result;
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s >= 0) {
        if (connect(s, res->ai_addr, res->ai_addrlen) == 0) {
            sockaddr_in local {};
            socklen_t len = sizeof local;
            if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) == 0) {
                char buf[INET_ADDRSTRLEN] = {};
                if (inet_ntop(AF_INET, &local.sin_addr, buf, sizeof buf))
                    result = buf;
            }
        }
        close(s);
    }
    freeaddrinfo(res);
    return result;
}

} // namespace velkor::tel
