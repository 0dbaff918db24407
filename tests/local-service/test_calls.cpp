// The whole local service against our engine: registration with digest at
// the SIP server, calls through it to the far end, digits, hang-ups from
// either side, the busy and silent numbers, and the charge at the web server.
#include "tests/local-service/service_fixture.h"

#include "service/exchange.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

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
    // One engine at a time: two in one process race inside the SIP stack.
    {
        Caller good(service, "7001", "1234");
        good.registerLine();
        EXPECT_TRUE(good.waitLine(SIPX_LINESTATE_REGISTERED));
    }
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

TEST_F(LocalServiceTest, StoppingMidCallStillChargesTheTalkTime)
{
    Caller caller(service, "7001", "1234");
    caller.registerLine();
    ASSERT_TRUE(caller.waitLine(SIPX_LINESTATE_REGISTERED));
    const SIPX_CALL call = caller.call("0123456");
    ASSERT_TRUE(caller.waitCall(call, SIPX_CALLSTATE_CONNECTED));

    // The far end stops first, hangs up and reports while the web server is up.
    service.stop();
    EXPECT_TRUE(caller.waitCall(call, SIPX_CALLSTATE_DISCONNECTED));
    const std::string farEnd = service.log("far-end");
    EXPECT_NE(farEnd.find("far end: call 1 ended "), std::string::npos) << farEnd;
    EXPECT_NE(farEnd.find("far end: call 1 charged 25.50"), std::string::npos) << farEnd;
    EXPECT_NE(service.log("web").find("web: call of 7001 to 0123456"), std::string::npos);
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
    // The line registers again with the restarted server.
    const size_t seen = caller.lineEventCount();
    caller.registerLine();
    EXPECT_TRUE(caller.waitLine(SIPX_LINESTATE_REGISTERED, 10s, seen));
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

namespace {

// Runs SIPp to completion (bounded); its exit status, or -1.
int runSipp(std::vector<std::string> args, std::chrono::milliseconds timeout)
{
    args.insert(args.begin(), "sipp");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;  // its screens are of no use here
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "sipp", &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0)
        return -1;
    int status = 0;
    for (auto end = std::chrono::steady_clock::now() + timeout; waitpid(pid, &status, WNOHANG) == 0;) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(20ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST_F(LocalServiceTest, OneCallerReachesTheFarEndSeveralTimesAtOnce)
{
    // As the legs of a three-party call: calls of one account, each placed
    // while the one before still rings.
    const std::string scenario = std::string(std::getenv("VELKOR_SOURCE_DIR")) +
                                 "/tests/local-service/sipp/uac_invite_auth.xml";
    EXPECT_EQ(runSipp({service.sipServer(), "-sf", scenario, "-s", "0101", "-set", "caller", "7001", "-au", "7001",
                       "-ap", "1234", "-i", "127.0.0.1", "-p", std::to_string(freeUdpPort()), "-mp",
                       std::to_string(freeRtpPort()), "-m", "3", "-r", "20", "-nostdin", "-timeout", "10s",
                       "-timeout_error"},
                      15s),
              0);
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(service.waitFarEndLine("call " + std::to_string(n) + " ringing", 5s));
    for (const auto& l : service.farEndEvents())
        EXPECT_EQ(l.find("busy"), std::string::npos) << l;
}

TEST(LocalServiceExpiry, ClientsRefreshWithinTheExpiryAndAreCalledWhereTheyRegistered)
{
    auto options = testOptions();
    options.registrationExpiry = 5;
    LocalService service(options);
    std::string error;
    ASSERT_TRUE(service.start(&error)) << error;
    Caller called(service, "7001", "1234");
    called.registerLine();
    ASSERT_TRUE(called.waitLine(SIPX_LINESTATE_REGISTERED));

    // A restarted SIP server knows nobody until the refresh, due within 5 s
    // (nothing of it can be seen from here: the registration stays as it was).
    service.stopSipServer();
    ASSERT_TRUE(service.startSipServer(&error)) << error;
    std::this_thread::sleep_for(6s);

    // Another account (SIPp, so that one engine runs per process) calls the
    // SIP user: it is called at its line, not at the far end.
    const std::string scenario = std::string(std::getenv("VELKOR_SOURCE_DIR")) +
                                 "/tests/local-service/sipp/uac_invite_auth.xml";
    EXPECT_EQ(runSipp({service.sipServer(), "-sf", scenario, "-s", "7001", "-set", "caller", "7002", "-au", "7002",
                       "-ap", "Abc123", "-i", "127.0.0.1", "-p", std::to_string(freeUdpPort()), "-mp",
                       std::to_string(freeRtpPort()), "-m", "1", "-nostdin", "-timeout", "10s", "-timeout_error",
                       "-trace_err", "-error_file", service.tempDir() + "/sipp-errors.log"},
                      15s),
              0)
        << service.log("sipp-errors");
    EXPECT_TRUE(called.waitIncoming(5s));
    EXPECT_TRUE(service.farEndEvents().empty());
    service.stop();
    EXPECT_EQ(service.sanitizerReports(), "");
}
