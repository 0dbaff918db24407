// The whole local service against our engine: registration with digest at
// the SIP server, calls through it to the far end, digits, hang-ups from
// either side, the busy and silent numbers, and the charge at the web server.
#include "tests/local-service/service_fixture.h"

#include "service/exchange.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace velkor;
using namespace velkor::local;
using namespace velkor::local::test;
using namespace std::chrono_literals;

namespace {

std::string balance(const LocalService& s, const char* id = "demo1001", const char* pw = "1234")
{
    http::Options o;
    o.totalTimeout = 5s;
    return service::queryBalance(s.webBase(), id, pw, o).balance;
}

} // namespace

TEST_F(LocalServiceTest, LinesRegisterWithTheAccountPasswordOnly)
{
    Caller good(service, "7001", "1234");
    good.registerLine();
    EXPECT_TRUE(good.waitLine(SIPX_LINESTATE_REGISTERED));

    Caller wrong(service, "7002", "abc123");  // the password is Abc123
    wrong.registerLine();
    EXPECT_TRUE(wrong.waitLine(SIPX_LINESTATE_REGISTER_FAILED));
    EXPECT_EQ(wrong.lineCause(), 403);
}

TEST_F(LocalServiceTest, AnsweredCallHearsThePromptAndEchoAndIsCharged)
{
    Caller caller(service, "7001", "1234");
    caller.registerLine();
    ASSERT_TRUE(caller.waitLine(SIPX_LINESTATE_REGISTERED));
    const SIPX_CALL call = caller.call("0123456");

    ASSERT_TRUE(caller.waitCall(call, SIPX_CALLSTATE_ALERTING));
    EXPECT_TRUE(service.waitFarEndLine("call 1 incoming from 7001 to 0123456", 2s));
    EXPECT_TRUE(service.waitFarEndLine("call 1 ringing", 2s));
    // The far end lets it ring for about a second before it answers.
    const auto rang = std::chrono::steady_clock::now();
    ASSERT_TRUE(caller.waitCall(call, SIPX_CALLSTATE_CONNECTED));
    EXPECT_GT(std::chrono::steady_clock::now() - rang, 700ms);
    EXPECT_EQ(caller.codes(call), (std::vector<int32_t>{SIPX_CALLSTATE_ALERTING, SIPX_CALLSTATE_CONNECTED}));
    EXPECT_TRUE(service.waitFarEndLine("call 1 answered", 2s));

    // What comes back: the beeps, then the echo of our tone.
    bool heard = false;
    for (auto end = std::chrono::steady_clock::now() + 3s; !heard && std::chrono::steady_clock::now() < end;) {
        double energy = 0;
        sipxAudioGetOutputEnergy(caller.inst, 1, &energy);
        heard = energy > 10;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(heard);

    for (int tone : {1, 9, 11, 10})
        EXPECT_EQ(sipxCallStartTone(call, tone, 0, 1), SIPX_RESULT_SUCCESS);
    EXPECT_TRUE(service.waitFarEndLine("call 1 dtmf *", 5s));
    EXPECT_EQ(service.digitsHeard(1), "19#*");

    SIPX_CALL h = call;
    sipxCallDestroy(&h);
    EXPECT_TRUE(caller.waitCall(call, SIPX_CALLSTATE_DISCONNECTED));
    const auto ended = service.waitFarEnd([](const std::string& l) { return l.rfind("call 1 ended ", 0) == 0; }, 5s);
    ASSERT_TRUE(ended);
    EXPECT_NE(*ended, "call 1 ended 0");
    // One started minute at 0.10.
    EXPECT_TRUE(service.waitFarEndLine("call 1 charged 25.50", 5s));
    EXPECT_EQ(balance(service), "25.50");
}

TEST_F(LocalServiceTest, FarEndHangsUpTheHangUpNumber)
{
    Caller caller(service, "7006", "8888");
    caller.registerLine();
    ASSERT_TRUE(caller.waitLine(SIPX_LINESTATE_REGISTERED));
    const SIPX_CALL call = caller.call(FarEndNumbers::hangsUp);
    ASSERT_TRUE(caller.waitCall(call, SIPX_CALLSTATE_CONNECTED));
    const auto answered = std::chrono::steady_clock::now();
    EXPECT_FALSE(caller.waitCall(call, SIPX_CALLSTATE_DISCONNECTED, 4s));
    ASSERT_TRUE(caller.waitCall(call, SIPX_CALLSTATE_DISCONNECTED, 4s));
    EXPECT_LT(std::chrono::steady_clock::now() - answered, 7s);
    EXPECT_TRUE(service.waitFarEndLine("call 1 hangup", 1s));
    // 0.20 per started minute for this account.
    EXPECT_TRUE(service.waitFarEndLine("call 1 charged 8.68", 5s));
    EXPECT_EQ(caller.codes(call), (std::vector<int32_t>{SIPX_CALLSTATE_ALERTING, SIPX_CALLSTATE_CONNECTED,
                                                        SIPX_CALLSTATE_DISCONNECTED}));
}

TEST_F(LocalServiceTest, BusyAndSilentNumbersCostNothing)
{
    Caller caller(service, "7001", "1234");
    caller.registerLine();
    ASSERT_TRUE(caller.waitLine(SIPX_LINESTATE_REGISTERED));

    const SIPX_CALL busy = caller.call(FarEndNumbers::busy);
    ASSERT_TRUE(caller.waitCall(busy, SIPX_CALLSTATE_DISCONNECTED));
    EXPECT_EQ(caller.cause(busy, SIPX_CALLSTATE_DISCONNECTED), 486);
    EXPECT_EQ(caller.codes(busy), std::vector<int32_t>{SIPX_CALLSTATE_DISCONNECTED});
    EXPECT_TRUE(service.waitFarEndLine("call 1 busy", 2s));
    EXPECT_TRUE(service.waitFarEndLine("call 1 ended 0", 2s));

    const SIPX_CALL silent = caller.call(FarEndNumbers::silent);
    ASSERT_TRUE(caller.waitCall(silent, SIPX_CALLSTATE_ALERTING));
    EXPECT_FALSE(caller.waitCall(silent, SIPX_CALLSTATE_CONNECTED, 2s));
    SIPX_CALL h = silent;
    sipxCallDestroy(&h);  // a CANCEL
    EXPECT_TRUE(caller.waitCall(silent, SIPX_CALLSTATE_DISCONNECTED));
    EXPECT_TRUE(service.waitFarEndLine("call 2 ended 0", 5s));

    EXPECT_EQ(balance(service), "25.60");
    for (const auto& l : service.farEndEvents())
        EXPECT_EQ(l.find("charged"), std::string::npos) << l;
}

TEST_F(LocalServiceTest, CallsNeedTheAccountsCredentials)
{
    Caller stranger(service, "7001", "wrong");
    const SIPX_CALL call = stranger.call("0123456");  // without registering: the INVITE is challenged
    ASSERT_TRUE(stranger.waitCall(call, SIPX_CALLSTATE_DISCONNECTED));
    EXPECT_EQ(stranger.cause(call, SIPX_CALLSTATE_DISCONNECTED), 403);
    EXPECT_TRUE(service.farEndEvents().empty());
}

TEST_F(LocalServiceTest, SipServerGoneMidCallAndBack)
{
    Caller caller(service, "7001", "1234");
    caller.registerLine();
    ASSERT_TRUE(caller.waitLine(SIPX_LINESTATE_REGISTERED));
    const SIPX_CALL call = caller.call("0123456");
    ASSERT_TRUE(caller.waitCall(call, SIPX_CALLSTATE_CONNECTED));

    service.stopSipServer();
    EXPECT_FALSE(service.sipServerRunning());
    EXPECT_EQ(sipOptionsStatus(service.sipPort(), 300ms), 0);
    // The call can still be hung up.
    SIPX_CALL h = call;
    sipxCallDestroy(&h);
    EXPECT_TRUE(caller.waitCall(call, SIPX_CALLSTATE_DISCONNECTED));

    std::string error;
    ASSERT_TRUE(service.startSipServer(&error)) << error;
    EXPECT_EQ(sipOptionsStatus(service.sipPort(), 1s), 200);
    Caller again(service, "7002", "Abc123");
    again.registerLine();
    EXPECT_TRUE(again.waitLine(SIPX_LINESTATE_REGISTERED));
}

TEST(LocalServiceStart, ATakenPortIsReportedAndNothingIsLeftRunning)
{
    // A web port somebody else holds.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(s, 1), 0);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);

    auto options = testOptions();
    options.webPort = ntohs(a.sin_port);
    LocalService service(options);
    std::string error;
    EXPECT_FALSE(service.start(&error));
    EXPECT_NE(error.find("the web server did not start"), std::string::npos) << error;
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(options.webPort)), std::string::npos) << error;
    EXPECT_TRUE(service.tempDir().empty());
    EXPECT_FALSE(service.sipServerRunning());
    close(s);
}
