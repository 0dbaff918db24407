// The liblinphone engine against a real SIP peer (SIPp) on loopback.
#include "sip_peer.h"

#include "platform/gbk.h"
#include "telephony/engine.h"
#include "telephony/sipx.h"
#include "telephony/sipx_api.h"
#include "telephony/udp_port.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using velkor::tel::test::EventLog;
using velkor::tel::test::SippPeer;
using velkor::tel::test::freeUdpPort;
using velkor::tel::test::udpPortsHeldBy;

namespace {

const SIPX_CALL_OPTIONS kOptions = {24, 1, 1, 1, 1, 0};
// An ACK in SIPp's message log.
const std::string kAckReceived = "\n\nACK sip:";

// True when the log holds an ACK after the n-th occurrence of marker (the
// ACK of the exchange the marker is part of).
bool ackedAfter(const std::string& log, const std::string& marker, int n = 1)
{
    const size_t at = velkor::tel::test::findNth(log, marker, n);
    return at != std::string::npos && log.find(kAckReceived, at) != std::string::npos;
}

// Settings of the engines of the tests: the null sound card with a tone for
// a microphone, a short keep-alive interval, media ports from the system.
void useTestSettings()
{
    velkor::tel::EngineSettings s;
    s.nullSoundCardOnly = true;
    s.nullCaptureTone = true;
    s.keepAliveInterval = 300ms;
    s.systemMediaPorts = true;
    velkor::tel::setEngineSettings(s);
}

// Starts an instance on a free SIP port (the program uses 14500; tests that
// run side by side, here or in other builds, must not meet on one port). A
// port someone else took between the look and the start is tried again.
SIPX_INST startOnFreePort(int* sipPort)
{
    SIPX_INST inst = 0;
    for (int attempt = 0; attempt < 3 && !inst; ++attempt) {
        *sipPort = freeUdpPort();
        sipxInitialize(&inst, *sipPort, -1, -1, 8000, 64, "sipx", "0.0.0.0", 0);
    }
    return inst;
}

// An engine instance started the way the session starts it, with a line for
// user 8001 on the SIPp peer's port.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        useTestSettings();
        inst = startOnFreePort(&sipPort);
        ASSERT_NE(inst, 0u);
        port = freeUdpPort();  // after the engine holds its own
        server = "127.0.0.1:" + std::to_string(port);
        sipxConfigSetUserAgentName(inst, "Simple Agent (sipXtapi)", 0);
        ASSERT_EQ(sipxEventListenerAdd(inst, &EventLog::listener, &log), SIPX_RESULT_SUCCESS);
        sipxConfigEnableRport(inst, 1);
    }

    void TearDown() override
    {
        if (inst) {
            sipxEventListenerRemove(inst, &EventLog::listener, nullptr);
            EXPECT_EQ(sipxUnInitialize(inst, 1), SIPX_RESULT_SUCCESS);
        }
    }

    void addLine(const char* password = "pw8001", bool doRegister = true)
    {
        const std::string identity = "sip:8001@" + server;
        ASSERT_EQ(sipxLineAdd(inst, identity.c_str(), &line, 0), SIPX_RESULT_SUCCESS);
        sipxLineAddCredential(line, "8001", password, "");
        if (doRegister) {
            ASSERT_EQ(sipxLineRegister(line, 1), SIPX_RESULT_SUCCESS);
        }
    }

    std::string address(const char* number) const { return std::string("sip:") + number + "@" + server; }

    SIPX_INST inst = 0;
    SIPX_LINE line = 0;
    int sipPort = 0;  // the engine's
    int port = 0;     // the peer's
    std::string server;
    EventLog log;
};

// A UDP socket on loopback that a test reads datagrams from.
class UdpSink {
public:
    UdpSink()
    {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~UdpSink() { close(fd_); }
    int port() const { return port_; }

    // The next datagram and its source port, or nullopt on time-out.
    std::optional<std::pair<std::string, int>> receive(std::chrono::milliseconds timeout)
    {
        pollfd p {fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
            return std::nullopt;
        char buf[4096];
        sockaddr_in from {};
        socklen_t len = sizeof from;
        const auto n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return std::nullopt;
        return std::make_pair(std::string(buf, static_cast<size_t>(n)), static_cast<int>(ntohs(from.sin_port)));
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Collects the RFC 2833 telephone events (payload type 96) arriving at a
// sink, one entry per event (end packets are repeated; one per timestamp).
class DtmfReceiver {
public:
    DtmfReceiver() : thread_([this] { run(); }) {}
    ~DtmfReceiver()
    {
        stop_ = true;
        thread_.join();
    }
    int port() const { return sink_.port(); }
    std::vector<int> events()
    {
        std::lock_guard lock(mutex_);
        return events_;
    }
    int rtpPackets() const { return packets_; }

private:
    void run()
    {
        std::set<uint32_t> ended;
        while (!stop_) {
            auto d = sink_.receive(50ms);
            if (!d || d->first.size() < 16)
                continue;
            const auto* b = reinterpret_cast<const unsigned char*>(d->first.data());
            ++packets_;
            if ((b[1] & 0x7f) != 96)  // telephone-event in the peer's answer
                continue;
            size_t off = 12 + 4 * (b[0] & 0x0f);  // CSRCs
            if ((b[0] & 0x10) && d->first.size() >= off + 4)  // header extension
                off += 4 + 4 * ((size_t(b[off + 2]) << 8) | b[off + 3]);
            if (d->first.size() < off + 4)
                continue;
            const uint32_t ts = (uint32_t(b[4]) << 24) | (uint32_t(b[5]) << 16) | (uint32_t(b[6]) << 8) | b[7];
            if ((b[off + 1] & 0x80) && ended.insert(ts).second) {
                std::lock_guard lock(mutex_);
                events_.push_back(b[off]);
            }
        }
    }

    UdpSink sink_;
    std::atomic<bool> stop_{false};
    std::atomic<int> packets_{0};
    std::mutex mutex_;
    std::vector<int> events_;
    std::thread thread_;
};

struct WavInfo {
    bool valid = false;
    int rate = 0, channels = 0, bits = 0;
    double seconds = 0;
};

// Reads a PCM WAV file's header and checks its sizes against the file.
WavInfo readWav(const std::filesystem::path& path)
{
    WavInfo w;
    std::ifstream f(path, std::ios::binary);
    std::string d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (d.size() < 44 || d.compare(0, 4, "RIFF") != 0 || d.compare(8, 4, "WAVE") != 0)
        return w;
    auto u32 = [&](size_t o) { uint32_t v; std::memcpy(&v, d.data() + o, 4); return v; };
    auto u16 = [&](size_t o) { uint16_t v; std::memcpy(&v, d.data() + o, 2); return v; };
    size_t pos = 12;
    uint32_t dataSize = 0;
    bool haveFmt = false, haveData = false;
    while (pos + 8 <= d.size()) {
        const std::string id = d.substr(pos, 4);
        const uint32_t size = u32(pos + 4);
        if (id == "fmt ") {
            haveFmt = u16(pos + 8) == 1;
            w.channels = u16(pos + 10);
            w.rate = static_cast<int>(u32(pos + 12));
            w.bits = u16(pos + 22);
        } else if (id == "data") {
            dataSize = size;
            haveData = pos + 8 + size == d.size();
            break;
        }
        pos += 8 + size;
    }
    w.valid = haveFmt && haveData && u32(4) == d.size() - 8 && w.rate > 0 && w.channels > 0 && w.bits > 0;
    if (w.valid)
        w.seconds = double(dataSize) / (w.rate * w.channels * (w.bits / 8));
    return w;
}

TEST_F(EngineTest, RegistersWithDigestAndUnregisters)
{
    SippPeer peer("register_auth.xml", port, {"-m", "1"});
    addLine();
    ASSERT_TRUE(log.waitLine(SIPX_LINESTATE_REGISTERED));
    EXPECT_EQ(sipxLineRegister(line, 0), SIPX_RESULT_SUCCESS);
    ASSERT_TRUE(log.waitLine(SIPX_LINESTATE_UNREGISTERED));
    EXPECT_EQ(peer.wait(10s), 0);
    const std::string wire = peer.messages();
    EXPECT_NE(wire.find("User-Agent: Simple Agent (sipXtapi)\r\n"), std::string::npos) << wire;
    EXPECT_NE(wire.find("username=\"8001\""), std::string::npos);
    EXPECT_NE(wire.find("REGISTER sip:127.0.0.1:" + std::to_string(port) + " SIP/2.0"), std::string::npos) << wire;
    EXPECT_NE(wire.find("From: <sip:8001@127.0.0.1>"), std::string::npos) << wire;
}

TEST_F(EngineTest, WrongPasswordIsRefusedWith403)
{
    SippPeer peer("register_auth.xml", port, {"-m", "1"});
    addLine("wrong");
    ASSERT_TRUE(log.waitLine(SIPX_LINESTATE_REGISTER_FAILED));
    EXPECT_FALSE(log.waitLine(SIPX_LINESTATE_REGISTERED, 200ms));
    const auto events = log.events();
    bool saw403 = false;
    for (const auto& e : events)
        saw403 = saw403 || (e.code == SIPX_LINESTATE_REGISTER_FAILED && e.cause == 403);
    EXPECT_TRUE(saw403);
    EXPECT_EQ(peer.wait(10s), 0);
}

// The SIP stack binds its port with address reuse, so a holder that allows
// reuse too would share the port (and its SIP traffic) unless the start
// refuses every holder.
TEST(EngineStart, FailsWhileAnyoneHoldsTheSipPort)
{
    useTestSettings();
    struct Holder {
        const char* what;
        uint32_t address;
        bool reuseAddr, reusePort;
    };
    const Holder holders[] = {
        {"plain socket", INADDR_ANY, false, false},
        {"SO_REUSEADDR", INADDR_ANY, true, false},
        {"SO_REUSEADDR and SO_REUSEPORT", INADDR_ANY, true, true},
        {"SO_REUSEADDR on loopback only", INADDR_LOOPBACK, true, false},
    };
    for (const Holder& h : holders) {
        SCOPED_TRACE(h.what);
        const int port = freeUdpPort();
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        const int one = 1;
        if (h.reuseAddr)
            setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (h.reusePort)
            setsockopt(s, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(h.address);
        a.sin_port = htons(static_cast<uint16_t>(port));
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        SIPX_INST inst = 0;
        EXPECT_EQ(sipxInitialize(&inst, port, -1, -1, 8000, 64, "sipx", "0.0.0.0", 0), SIPX_RESULT_FAILURE);
        EXPECT_EQ(inst, 0u);
        EXPECT_EQ(velkor::tel::udpSocketsOnPort(port), 1);  // nothing of the engine stayed on it
        close(s);
    }
}

TEST(EngineStart, SecondInstanceOnTheSamePortFailsAndTheFirstFreesItAtItsEnd)
{
    useTestSettings();
    int port = 0;
    SIPX_INST first = startOnFreePort(&port);
    ASSERT_NE(first, 0u);
    SIPX_INST second = 0;
    EXPECT_EQ(sipxInitialize(&second, port, -1, -1, 8000, 64, "sipx", "0.0.0.0", 0), SIPX_RESULT_FAILURE);
    EXPECT_EQ(second, 0u);
    EXPECT_EQ(sipxUnInitialize(first, 1), SIPX_RESULT_SUCCESS);
    // The port is free the moment the instance has ended: a new start (the
    // program started again) gets it.
    EXPECT_TRUE(velkor::tel::udpPortFree(port));
    ASSERT_EQ(sipxInitialize(&second, port, -1, -1, 8000, 64, "sipx", "0.0.0.0", 0), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(sipxUnInitialize(second, 1), SIPX_RESULT_SUCCESS);
}

TEST_F(EngineTest, KeepAliveSendsOptionsFromTheSipPort)
{
    UdpSink server;
    addLine("pw8001", false);
    ASSERT_EQ(sipxConfigKeepAliveAdd(inst, 0, 3, "127.0.0.1", server.port(), 30), SIPX_RESULT_SUCCESS);
    std::set<std::string> callIds;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        auto d = server.receive(3s);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->second, sipPort);
        const std::string& m = d->first;
        EXPECT_EQ(m.rfind("OPTIONS sip:127.0.0.1:" + std::to_string(server.port()) + " SIP/2.0\r\n", 0), 0u) << m;
        EXPECT_NE(m.find("User-Agent: Simple Agent (sipXtapi)\r\n"), std::string::npos);
        const auto c = m.find("Call-ID: ");
        ASSERT_NE(c, std::string::npos);
        callIds.insert(m.substr(c, m.find("\r\n", c) - c));
    }
    // The first goes out at once, then one per (shortened) interval.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(callIds.size(), 3u);
}

TEST_F(EngineTest, CallRingsConnectsAndEndsWithTheFarEndsBye)
{
    const int media = freeUdpPort();
    SippPeer peer("uas_call.xml", port,
                  {"-m", "1", "-rtp_echo", "-mp", std::to_string(media), "-key", "rtp_port", std::to_string(media)});
    addLine("pw8001", false);
    SIPX_CALL call = 0;
    ASSERT_EQ(sipxCallCreate(inst, line, &call), SIPX_RESULT_SUCCESS);
    ASSERT_NE(call, 0u);
    ASSERT_EQ(sipxCallConnect(call, address("0123").c_str(), 0, nullptr, 1, &kOptions, nullptr), SIPX_RESULT_SUCCESS);
    ASSERT_TRUE(log.waitCall(call, SIPX_CALLSTATE_DISCONNECTED, 10s));
    EXPECT_EQ(log.callCodes(call), (std::vector<int32_t>{SIPX_CALLSTATE_ALERTING, SIPX_CALLSTATE_CONNECTED,
                                                         SIPX_CALLSTATE_DISCONNECTED}));
    EXPECT_EQ(peer.wait(10s), 0);
    const std::string wire = peer.messages();
    EXPECT_NE(wire.find("INVITE sip:0123@127.0.0.1:" + std::to_string(port) + " SIP/2.0\r\n"), std::string::npos)
        << wire;
    EXPECT_NE(wire.find("User-Agent: Simple Agent (sipXtapi)"), std::string::npos);
    EXPECT_EQ(sipxCallDestroy(&call), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(call, 0u);
}

// A child the program starts (a browser through xdg-open, say) gets none of
// the engine's sockets: it would hold the SIP port, and fail the program's
// next start, for as long as it runs.
TEST_F(EngineTest, ChildProcessesGetNoneOfTheEnginesSockets)
{
    const int media = freeUdpPort();
    SippPeer peer("uas_call.xml", port,
                  {"-m", "1", "-rtp_echo", "-mp", std::to_string(media), "-key", "rtp_port", std::to_string(media)});
    addLine("pw8001", false);
    SIPX_CALL call = 0;
    ASSERT_EQ(sipxCallCreate(inst, line, &call), SIPX_RESULT_SUCCESS);
    ASSERT_EQ(sipxCallConnect(call, address("0123").c_str(), 0, nullptr, 1, &kOptions, nullptr), SIPX_RESULT_SUCCESS);
    ASSERT_TRUE(log.waitCall(call, SIPX_CALLSTATE_CONNECTED));
    ASSERT_TRUE(peer.waitForMessage(kAckReceived));
    const std::vector<int> ours = udpPortsHeldBy(getpid());
    EXPECT_GE(ours.size(), 3u);  // SIP, the call's RTP and RTCP
    EXPECT_NE(std::find(ours.begin(), ours.end(), sipPort), ours.end());

    // posix_spawn hands the child every descriptor not marked close-on-exec,
    // and returns once the child has run exec.
    char arg0[] = "sleep", arg1[] = "30";
    char* argv[] = {arg0, arg1, nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    const std::vector<int> inherited = udpPortsHeldBy(child);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(inherited.empty()) << inherited.size() << " UDP sockets, the first on port " << inherited[0];
    EXPECT_TRUE(log.waitCall(call, SIPX_CALLSTATE_DISCONNECTED));
    EXPECT_EQ(peer.wait(10s), 0);
    sipxCallDestroy(&call);
}

TEST_F(EngineTest, BusyRefusalDisconnects)
{
    SippPeer peer("uas_busy.xml", port, {"-m", "1"});
    addLine("pw8001", false);
    SIPX_CALL call = 0;
    ASSERT_EQ(sipxCallCreate(inst, line, &call), SIPX_RESULT_SUCCESS);
    ASSERT_EQ(sipxCallConnect(call, address("0123").c_str(), 0, nullptr, 1, &kOptions, nullptr), SIPX_RESULT_SUCCESS);
    ASSERT_TRUE(log.waitCall(call, SIPX_CALLSTATE_DISCONNECTED));
    EXPECT_EQ(log.callCodes(call), (std::vector<int32_t>{SIPX_CALLSTATE_DISCONNECTED}));
    bool saw486 = false;
    for (const auto& e : log.events())
        saw486 = saw486 || (e.handle == call && e.cause == 486);
    EXPECT_TRUE(saw486);
    EXPECT_EQ(peer.wait(10s), 0);
    sipxCallDestroy(&call);
}

TEST_F(EngineTest, HoldSendsReinviteAndDestroySendsBye)
{
    const int media = freeUdpPort();
    SippPeer peer("uas_hold.xml", port,
                  {"-m", "1", "-rtp_echo", "-mp", std::to_string(media), "-key", "rtp_port", std::to_string(media)});
    addLine("pw8001", false);
    SIPX_CALL call = 0;
    ASSERT_EQ(sipxCallCreate(inst, line, &call), SIPX_RESULT_SUCCESS);
    ASSERT_EQ(sipxCallConnect(call, address("0123").c_str(), 0, nullptr, 1, &kOptions, nullptr), SIPX_RESULT_SUCCESS);
    ASSERT_TRUE(log.waitCall(call, SIPX_CALLSTATE_CONNECTED));
    // The engine sent the ACK and started the streams in one step; a hold
    // queued after that finds the call running.
    ASSERT_TRUE(peer.waitForMessage(kAckReceived));
    EXPECT_EQ(sipxCallHold(call, 1), SIPX_RESULT_SUCCESS);
    // The re-INVITE offered sendonly (SIPp's answer says so) and was ACKed.
    EXPECT_TRUE(peer.waitUntil([](const std::string& m) { return ackedAfter(m, "X-Held: a=sendonly"); }));
    const SIPX_CALL held = call;
    EXPECT_EQ(sipxCallDestroy(&call), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(call, 0u);
    EXPECT_TRUE(log.waitCall(held, SIPX_CALLSTATE_DISCONNECTED));
    EXPECT_EQ(peer.wait(10s), 0) << peer.messages();
    EXPECT_EQ(sipxCallHold(held, 1), SIPX_RESULT_INVALID_HANDLE);
}

TEST_F(EngineTest, TonesArriveAsRfc2833Events)
{
    DtmfReceiver rtp;
    SippPeer peer("uas_call.xml", port, {"-m", "1", "-key", "rtp_port", std::to_string(rtp.port())});
    addLine("pw8001", false);
    SIPX_CALL call = 0;
    ASSERT_EQ(sipxCallCreate(inst, line, &call), SIPX_RESULT_SUCCESS);
    ASSERT_EQ(sipxCallConnect(call, address("0123").c_str(), 0, nullptr, 1, &kOptions, nullptr), SIPX_RESULT_SUCCESS);
    ASSERT_TRUE(log.waitCall(call, SIPX_CALLSTATE_CONNECTED));
    ASSERT_TRUE(peer.waitForMessage(kAckReceived));
    EXPECT_EQ(sipxCallStartTone(call, 1, 1, 1), SIPX_RESULT_SUCCESS);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sipxCallStopTone(call), SIPX_RESULT_SUCCESS);
    // Keys in quick succession: every tone is sent, in order.
    EXPECT_EQ(sipxCallStartTone(call, 10, 1, 1), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(sipxCallStartTone(call, 0, 1, 1), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(sipxCallStartTone(call, 11, 1, 1), SIPX_RESULT_SUCCESS);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sipxCallStopTone(call), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(sipxCallStartTone(call, 12, 1, 1), SIPX_RESULT_INVALID_ARGS);
    ASSERT_TRUE(log.waitCall(call, SIPX_CALLSTATE_DISCONNECTED));
    EXPECT_EQ(peer.wait(10s), 0);
    EXPECT_GT(rtp.rtpPackets(), 20);
    EXPECT_EQ(rtp.events(), (std::vector<int>{1, 10, 0, 11}));  // '*' is event 10, '#' 11
    sipxCallDestroy(&call);
}

TEST_F(EngineTest, RecordingWritesAWavFileOfTheCallsLength)
{
    const auto dir = std::filesystem::temp_directory_path() / ("velkor-rec-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string name = "2008年07月23日14点05分0123.wav";  // UTF-8 source
    const std::string gbkPath = velkor::gbk::fromUtf8((dir / "Record").string() + "\\").text +
                                velkor::gbk::fromUtf8(name).text;
    std::filesystem::create_directories(dir / "Record");

    const int media = freeUdpPort();
    SippPeer peer("uas_call.xml", port,
                  {"-m", "1", "-rtp_echo", "-mp", std::to_string(media), "-key", "rtp_port", std::to_string(media)});
    addLine("pw8001", false);
    SIPX_CALL call = 0;
    ASSERT_EQ(sipxCallCreate(inst, line, &call), SIPX_RESULT_SUCCESS);
    ASSERT_EQ(sipxCallConnect(call, address("0123").c_str(), 0, nullptr, 1, &kOptions, nullptr), SIPX_RESULT_SUCCESS);
    ASSERT_TRUE(log.waitCall(call, SIPX_CALLSTATE_CONNECTED));
    const auto beforeStart = std::chrono::steady_clock::now();
    EXPECT_EQ(sipxCallAudioRecordFileStart(call, gbkPath.c_str()), SIPX_RESULT_SUCCESS);
    const auto afterStart = std::chrono::steady_clock::now();

    // Meters during the call (it lasts 2 s): the null card's tone goes out,
    // SIPp echoes it back once the media flows.
    double in = 0, out = 0;
    const auto meterDeadline = afterStart + 1500ms;
    do {
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(sipxAudioGetInputEnergy(inst, 1, &in), SIPX_RESULT_SUCCESS);
        EXPECT_EQ(sipxAudioGetOutputEnergy(inst, 1, &out), SIPX_RESULT_SUCCESS);
    } while ((in <= 10.0 || out <= 10.0) && std::chrono::steady_clock::now() < meterDeadline);
    EXPECT_GT(in, 10.0);
    EXPECT_LE(in, 100.0);
    EXPECT_GT(out, 10.0);
    sipxAudioMuteInput(inst, 1);
    sipxAudioMuteOutput(inst, 1);
    EXPECT_EQ(sipxAudioGetInputEnergy(inst, 1, &in), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(sipxAudioGetOutputEnergy(inst, 1, &out), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(in, 0.0);
    EXPECT_EQ(out, 0.0);
    sipxAudioMuteInput(inst, 0);
    sipxAudioMuteOutput(inst, 0);

    ASSERT_TRUE(log.waitCall(call, SIPX_CALLSTATE_DISCONNECTED));
    // The recording ran from the start command to the end of the call, which
    // the engine reports right after closing the file: the event's own time,
    // not when this thread woke, bounds it.
    const auto ended = log.callEvent(call, SIPX_CALLSTATE_DISCONNECTED)->at;
    const double longest = std::chrono::duration<double>(ended - beforeStart).count();
    const double shortest = std::chrono::duration<double>(ended - afterStart).count();
    EXPECT_EQ(peer.wait(10s), 0);
    const auto file = dir / "Record" / name;
    ASSERT_TRUE(std::filesystem::exists(file));  // in place when the end is reported
    const WavInfo w = readWav(file);
    EXPECT_TRUE(w.valid);
    EXPECT_EQ(w.rate, 8000);
    EXPECT_EQ(w.bits, 16);
    EXPECT_GT(shortest, 1.0);  // the call did talk for a while after the start
    // Never longer than the time it was recording: the media clock does not
    // run ahead of real time.
    EXPECT_LE(w.seconds, longest + 0.05);
    // A media clock running late on a loaded machine leaves the file short of
    // the end by a little. Under ThreadSanitizer (several times slower) on a
    // busy machine the media cannot keep real time at all, and the file holds
    // only the sound that was processed.
#if defined(__SANITIZE_THREAD__)
    EXPECT_GT(w.seconds, 0.1);
#else
    EXPECT_GE(w.seconds, shortest - 0.3);
#endif
    sipxCallDestroy(&call);
    if (!HasFailure())
        std::filesystem::remove_all(dir);
}

TEST_F(EngineTest, UnansweredCallWritesNoRecording)
{
    const auto dir = std::filesystem::temp_directory_path() / ("velkor-rec-none-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    SippPeer peer("uas_busy.xml", port, {"-m", "1"});
    addLine("pw8001", false);
    SIPX_CALL call = 0;
    ASSERT_EQ(sipxCallCreate(inst, line, &call), SIPX_RESULT_SUCCESS);
    ASSERT_EQ(sipxCallConnect(call, address("0123").c_str(), 0, nullptr, 1, &kOptions, nullptr), SIPX_RESULT_SUCCESS);
    ASSERT_TRUE(log.waitCall(call, SIPX_CALLSTATE_DISCONNECTED));
    EXPECT_NE(sipxCallAudioRecordFileStart(call, (dir / "x.wav").c_str()), SIPX_RESULT_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.wav"));
    sipxCallDestroy(&call);
    std::filesystem::remove_all(dir);
}

TEST_F(EngineTest, ConferenceConnectsThreeLegs)
{
    const int media = freeUdpPort();
    SippPeer peer("uas_answer.xml", port,
                  {"-m", "3", "-rtp_echo", "-mp", std::to_string(media), "-key", "rtp_port", std::to_string(media)});
    addLine("pw8001", false);
    SIPX_CONF conf = 0;
    ASSERT_EQ(sipxConferenceCreate(inst, &conf), SIPX_RESULT_SUCCESS);
    ASSERT_NE(conf, 0u);
    EXPECT_EQ(sipxConferenceHold(conf, 1), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(sipxConferenceUnhold(conf), SIPX_RESULT_SUCCESS);
    SIPX_CALL legs[3] = {};
    const char* numbers[3] = {"0111111111", "0222222222", "0333333333"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sipxConferenceAdd(conf, line, address(numbers[i]).c_str(), &legs[i], 1, nullptr, nullptr, 1, &kOptions),
                  SIPX_RESULT_SUCCESS);
        ASSERT_NE(legs[i], 0u);
    }
    for (SIPX_CALL leg : legs)
        EXPECT_TRUE(log.waitCall(leg, SIPX_CALLSTATE_CONNECTED));
    EXPECT_EQ(std::set<SIPX_CALL>(legs, legs + 3).size(), 3u);
    EXPECT_TRUE(peer.waitForMessage(kAckReceived, 3));
    for (int i = 0; i < 3; ++i) {
        SIPX_CALL& leg = legs[i];
        sipxCallHold(leg, 1);
        // The hold's re-INVITE (sendonly) answered and ACKed before the BYE.
        EXPECT_TRUE(peer.waitUntil([i](const std::string& m) { return ackedAfter(m, "a=sendonly", i + 1); }));
        const SIPX_CALL h = leg;
        EXPECT_EQ(sipxCallDestroy(&leg), SIPX_RESULT_SUCCESS);
        EXPECT_TRUE(log.waitCall(h, SIPX_CALLSTATE_DISCONNECTED));
    }
    EXPECT_EQ(peer.wait(10s), 0) << peer.messages();
    const std::string wire = peer.messages();
    for (const char* n : numbers)
        EXPECT_NE(wire.find(std::string("INVITE sip:") + n + "@127.0.0.1"), std::string::npos);
}

// The program ends with calls up: a call, a conference leg that talks and
// one that still rings (on the registered line, as in the program). The far
// ends get their BYE and CANCEL, the listener its 8000s, and the SIP port is
// free at once.
TEST_F(EngineTest, EndingTheInstanceHangsUpTheCallsInProgress)
{
    const int media = freeUdpPort();
    SippPeer peer("uas_answer.xml", port,
                  {"-m", "4", "-rtp_echo", "-mp", std::to_string(media), "-key", "rtp_port", std::to_string(media)});
    addLine();
    ASSERT_TRUE(log.waitLine(SIPX_LINESTATE_REGISTERED));
    SIPX_CALL call = 0;
    ASSERT_EQ(sipxCallCreate(inst, line, &call), SIPX_RESULT_SUCCESS);
    ASSERT_EQ(sipxCallConnect(call, address("0123").c_str(), 0, nullptr, 1, &kOptions, nullptr), SIPX_RESULT_SUCCESS);
    SIPX_CONF conf = 0;
    ASSERT_EQ(sipxConferenceCreate(inst, &conf), SIPX_RESULT_SUCCESS);
    SIPX_CALL talking = 0, calling = 0;
    ASSERT_EQ(sipxConferenceAdd(conf, line, address("0111111111").c_str(), &talking, 1, nullptr, nullptr, 1, &kOptions),
              SIPX_RESULT_SUCCESS);
    ASSERT_EQ(sipxConferenceAdd(conf, line, address("0999999999").c_str(), &calling, 1, nullptr, nullptr, 1, &kOptions),
              SIPX_RESULT_SUCCESS);
    ASSERT_TRUE(log.waitCall(call, SIPX_CALLSTATE_CONNECTED));
    ASSERT_TRUE(log.waitCall(talking, SIPX_CALLSTATE_CONNECTED));
    ASSERT_TRUE(log.waitCall(calling, SIPX_CALLSTATE_ALERTING));
    ASSERT_TRUE(peer.waitForMessage(kAckReceived, 2));

    EXPECT_EQ(sipxUnInitialize(inst, 1), SIPX_RESULT_SUCCESS);
    inst = 0;
    EXPECT_TRUE(velkor::tel::udpPortFree(sipPort));
    for (SIPX_CALL c : {call, talking, calling})
        EXPECT_TRUE(log.waitCall(c, SIPX_CALLSTATE_DISCONNECTED, 0ms)) << c;
    EXPECT_EQ(peer.wait(10s), 0) << peer.messages();  // the REGISTER, two BYEs and a CANCEL
    EXPECT_EQ(sipxCallHold(call, 1), SIPX_RESULT_INVALID_HANDLE);
}

// The multi-party window hangs up a leg that still rings: hold (refused, the
// leg is not talking yet), then destroy, which cancels the INVITE. The line
// is registered, as the window's legs always are.
TEST_F(EngineTest, HangingUpARingingLegCancelsIt)
{
    SippPeer peer("uas_answer.xml", port, {"-m", "2", "-key", "rtp_port", std::to_string(freeUdpPort())});
    addLine();
    ASSERT_TRUE(log.waitLine(SIPX_LINESTATE_REGISTERED));
    SIPX_CONF conf = 0;
    ASSERT_EQ(sipxConferenceCreate(inst, &conf), SIPX_RESULT_SUCCESS);
    SIPX_CALL leg = 0;
    ASSERT_EQ(sipxConferenceAdd(conf, line, address("0999999999").c_str(), &leg, 1, nullptr, nullptr, 1, &kOptions),
              SIPX_RESULT_SUCCESS);
    ASSERT_TRUE(log.waitCall(leg, SIPX_CALLSTATE_ALERTING));
    const SIPX_CALL h = leg;
    EXPECT_EQ(sipxCallHold(leg, 1), SIPX_RESULT_FAILURE);
    EXPECT_EQ(sipxCallDestroy(&leg), SIPX_RESULT_SUCCESS);
    EXPECT_TRUE(log.waitCall(h, SIPX_CALLSTATE_DISCONNECTED));
    EXPECT_EQ(peer.wait(10s), 0) << peer.messages();
    EXPECT_NE(peer.messages().find("CANCEL sip:0999999999@"), std::string::npos);
}

TEST_F(EngineTest, IncomingMessageIsRefusedAndTheEngineGoesOn)
{
    addLine("pw8001", false);
    {
        SippPeer peer("uac_message.xml", port, {"-m", "1", "127.0.0.1:" + std::to_string(sipPort)});
        EXPECT_NE(peer.wait(10s), std::nullopt);  // refused (no 200): SIPp reports the call failed
        EXPECT_NE(peer.messages().find("SIP/2.0 501"), std::string::npos) << peer.messages();
    }
    // Still alive and answering.
    UdpSink server;
    EXPECT_EQ(sipxConfigKeepAliveAdd(inst, 0, 3, "127.0.0.1", server.port(), 30), SIPX_RESULT_SUCCESS);
    EXPECT_TRUE(server.receive(3s));
}

TEST_F(EngineTest, DeviceListsNameTheNullCardAndSelectByName)
{
    const auto inputs = velkor::tel::sipxInputDeviceNames(inst);
    const auto outputs = velkor::tel::sipxOutputDeviceNames(inst);
    ASSERT_FALSE(inputs.empty());
    ASSERT_FALSE(outputs.empty());
    auto isNull = [](const std::string& n) { return n.find("Null sound card") != std::string::npos; };
    EXPECT_NE(std::find_if(inputs.begin(), inputs.end(), isNull), inputs.end());
    EXPECT_NE(std::find_if(outputs.begin(), outputs.end(), isNull), outputs.end());
    EXPECT_EQ(sipxAudioSetInputDevice(inst, inputs[0].c_str(), 0), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(sipxAudioSetOutputDevice(inst, outputs[0].c_str(), 0), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(sipxAudioSetInputDevice(inst, "no such device", 0), SIPX_RESULT_FAILURE);
    EXPECT_EQ(sipxAudioSetOutputDevice(inst, "", 0), SIPX_RESULT_FAILURE);
    char small[4];
    size_t size = sizeof small;
    EXPECT_EQ(sipxAudioGetInputDeviceName(inst, 0, small, &size), SIPX_RESULT_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, inputs[0].size() + 1);
    // Out of a call the meters read 0.
    double e = -1;
    EXPECT_EQ(sipxAudioGetInputEnergy(inst, 1, &e), SIPX_RESULT_SUCCESS);
    EXPECT_EQ(e, 0.0);
}

} // namespace
