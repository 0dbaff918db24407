// Pure parts of the engine: microphone gain, level meter mapping, the OPTIONS request.
#include "telephony/engine.h"
#include "telephony/keep_alive.h"
#include "telephony/udp_port.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

TEST(InputGain, LevelsMapToGainAndBelowZeroIsZero)
{
    EXPECT_FLOAT_EQ(velkor::tel::inputGainDb(98), 0.0f);
    EXPECT_FLOAT_EQ(velkor::tel::inputGainDb(-1), velkor::tel::inputGainDb(0));  // the slider's bottom
    EXPECT_FLOAT_EQ(velkor::tel::inputGainDb(-1000), velkor::tel::inputGainDb(0));
    EXPECT_LE(velkor::tel::inputGainDb(0), -100.0f);
    EXPECT_NEAR(velkor::tel::inputGainDb(49), -6.02f, 0.01f);
    EXPECT_GT(velkor::tel::inputGainDb(100), 0.0f);
    EXPECT_FLOAT_EQ(velkor::tel::inputGainDb(250), velkor::tel::inputGainDb(100));
}

TEST(Energy, DbmZeroMapsOntoTheMeter)
{
    struct Case { float dbm0; double meter; };
    for (const Case c : {Case{-120, 0}, Case{-60, 0}, Case{-30, 50}, Case{-6, 90}, Case{0, 100}, Case{3, 100}})
        EXPECT_DOUBLE_EQ(velkor::tel::energyOf(c.dbm0), c.meter) << c.dbm0;
}

TEST(KeepAlive, OptionsRequestHasEveryHeader)
{
    velkor::tel::OptionsRequest r;
    r.targetHost = "10.0.0.1";
    r.targetPort = 5060;
    r.localIp = "192.168.1.2";
    r.localPort = 14500;
    r.fromUri = "sip:8001@10.0.0.1:5060";
    r.userAgent = "Simple Agent (sipXtapi)";
    r.callId = "abc@192.168.1.2";
    r.branch = "z9hG4bKxyz";
    r.tag = "t1";
    EXPECT_EQ(velkor::tel::buildOptionsRequest(r),
              "OPTIONS sip:10.0.0.1:5060 SIP/2.0\r\n"
              "Via: SIP/2.0/UDP 192.168.1.2:14500;rport;branch=z9hG4bKxyz\r\n"
              "Max-Forwards: 70\r\n"
              "From: <sip:8001@10.0.0.1:5060>;tag=t1\r\n"
              "To: <sip:10.0.0.1:5060>\r\n"
              "Call-ID: abc@192.168.1.2\r\n"
              "CSeq: 1 OPTIONS\r\n"
              "Contact: <sip:192.168.1.2:14500>\r\n"
              "User-Agent: Simple Agent (sipXtapi)\r\n"
              "Accept: application/sdp\r\n"
              "Content-Length: 0\r\n\r\n");
    EXPECT_NE(velkor::tel::randomToken(16), velkor::tel::randomToken(16));
    EXPECT_EQ(velkor::tel::randomToken(16).size(), 16u);
}

TEST(KeepAlive, FindsOwnUdpSocketByPort)
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    EXPECT_EQ(velkor::tel::findUdpSocket(ntohs(a.sin_port)), s);
    close(s);
    EXPECT_EQ(velkor::tel::findUdpSocket(ntohs(a.sin_port)), -1);
    EXPECT_EQ(velkor::tel::localAddressFor("127.0.0.1", 5060), "127.0.0.1");
}

} // namespace
