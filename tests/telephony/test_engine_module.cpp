// An executable without the engine linked in (the program) loads the engine's
// module at its first sipx* call and gets a working engine from it.
#include "telephony/sipx.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int freeUdpPort()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

} // namespace

TEST(EngineModule, LoadedAtTheFirstCallAndWorking)
{
    SIPX_INST instance = 0;
    ASSERT_EQ(sipxInitialize(&instance, freeUdpPort(), -1, -1, freeUdpPort(), 64, "module", "127.0.0.1", 0),
              SIPX_RESULT_SUCCESS);
    SIPX_LINE line = 0;
    EXPECT_EQ(sipxLineAdd(instance, "sip:7001@127.0.0.1:5999", &line, 0), SIPX_RESULT_SUCCESS);
    EXPECT_NE(line, 0u);
    EXPECT_EQ(sipxUnInitialize(instance, 1), SIPX_RESULT_SUCCESS);
}
