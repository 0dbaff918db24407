// Figures of the liblinphone engine on loopback against a minimal in-process
// SIP peer: connect -> INVITE on the wire, 200 OK -> connected event, start ->
// registered, and the CPU and memory of an idle engine and of one in a call.
// Run by hand: build/bench/telephony/bench_sipx (it binds UDP 14500).
#include "telephony/engine.h"
#include "telephony/sipx.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// A SIP peer on a loopback port: challenges the first REGISTER of a dialog
// with 401 then accepts, answers INVITE with 200 (SDP to its media port) or
// 486, BYE and OPTIONS with 200. Drains the RTP it gets.
class MiniPeer {
public:
    std::atomic<bool> answer{true};
    std::atomic<int64_t> inviteAt{0};   // steady ns of the last INVITE received
    std::atomic<int64_t> okSentAt{0};   // steady ns of the last 200 to an INVITE

    MiniPeer()
    {
        sip_ = bound(&port_);
        media_ = bound(&mediaPort_);
        thread_ = std::thread([this] { run(); });
    }
    ~MiniPeer()
    {
        stop_ = true;
        thread_.join();
        close(sip_);
        close(media_);
    }
    int port() const { return port_; }

private:
    static int bound(int* port)
    {
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        *port = ntohs(a.sin_port);
        return s;
    }

    static int64_t now() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

    static std::string headers(const std::string& m, const std::string& name)
    {
        std::string out;
        size_t pos = 0;
        while ((pos = m.find("\r\n" + name + ":", pos)) != std::string::npos) {
            const size_t end = m.find("\r\n", pos + 2);
            out += m.substr(pos + 2, end - pos - 2) + "\r\n";
            pos = end;
        }
        return out;
    }

    std::string response(const std::string& req, const std::string& status, const std::string& extra,
                         const std::string& body)
    {
        std::string to = headers(req, "To");
        if (to.find(";tag=") == std::string::npos)
            to.insert(to.size() - 2, ";tag=peer" + std::to_string(++tag_));
        std::string r = "SIP/2.0 " + status + "\r\n" + headers(req, "Via") + headers(req, "From") + to +
                        headers(req, "Call-ID") + headers(req, "CSeq") + "Contact: <sip:127.0.0.1:" +
                        std::to_string(port_) + ">\r\n" + extra;
        if (!body.empty())
            r += "Content-Type: application/sdp\r\n";
        r += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        return r;
    }

    void run()
    {
        char buf[8192];
        while (!stop_) {
            pollfd p[2] = {{sip_, POLLIN, 0}, {media_, POLLIN, 0}};
            if (poll(p, 2, 200) <= 0)  // rarely wakes: the idle figures are the engine's
                continue;
            if (p[1].revents & POLLIN)
                [[maybe_unused]] auto n = recv(media_, buf, sizeof buf, 0);
            if (!(p[0].revents & POLLIN))
                continue;
            sockaddr_in from {};
            socklen_t len = sizeof from;
            const auto n = recvfrom(sip_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n <= 0)
                continue;
            const std::string m(buf, static_cast<size_t>(n));
            std::string reply;
            if (m.rfind("REGISTER ", 0) == 0) {
                reply = m.find("\r\nAuthorization:") == std::string::npos
                            ? response(m, "401 Unauthorized",
                                       "WWW-Authenticate: Digest realm=\"bench\", nonce=\"4711\", algorithm=MD5\r\n", "")
                            : response(m, "200 OK", "Expires: 3600\r\n", "");
            } else if (m.rfind("INVITE ", 0) == 0) {
                inviteAt = now();
                if (!answer) {
                    reply = response(m, "486 Busy Here", "", "");
                } else {
                    const std::string sdp = "v=0\r\no=peer 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                            "m=audio " + std::to_string(mediaPort_) + " RTP/AVP 0 96\r\n"
                                            "a=rtpmap:0 PCMU/8000\r\na=rtpmap:96 telephone-event/8000\r\n";
                    reply = response(m, "200 OK", "", sdp);
                }
            } else if (m.rfind("BYE ", 0) == 0 || m.rfind("OPTIONS ", 0) == 0) {
                reply = response(m, "200 OK", "", "");
            }
            if (!reply.empty()) {
                // The time the 200 leaves: taken after sendto, the engine could
                // already have reported the call connected.
                if (m.rfind("INVITE ", 0) == 0 && answer)
                    okSentAt = now();
                sendto(sip_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
            }
        }
    }

    int sip_ = -1, media_ = -1, port_ = 0, mediaPort_ = 0, tag_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Listener of the benchmarks: the time of the latest event of each kind.
struct Events {
    std::mutex m;
    std::condition_variable cv;
    int64_t connectedAt = 0, disconnectedAt = 0, registeredAt = 0;
    SIPX_CALL connectedCall = 0, disconnectedCall = 0;

    static bool listener(SIPX_EVENT_CATEGORY c, void* info, void* user)
    {
        auto* self = static_cast<Events*>(user);
        const int64_t t = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
        std::lock_guard lock(self->m);
        if (c == SIPX_EVENT_CALLSTATE) {
            auto* i = static_cast<SIPX_CALLSTATE_INFO*>(info);
            if (i->event == SIPX_CALLSTATE_CONNECTED) {
                self->connectedAt = t;
                self->connectedCall = i->call;
            } else if (i->event == SIPX_CALLSTATE_DISCONNECTED) {
                self->disconnectedAt = t;
                self->disconnectedCall = i->call;
            }
        } else if (c == SIPX_EVENT_LINESTATE && static_cast<SIPX_LINESTATE_INFO*>(info)->event == SIPX_LINESTATE_REGISTERED) {
            self->registeredAt = t;
        }
        self->cv.notify_all();
        return false;
    }

    template <class P>
    bool waitFor(P pred, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock lock(m);
        return cv.wait_for(lock, timeout, pred);
    }
};

// An engine instance with a line on the peer (not registered unless asked).
struct Engine {
    SIPX_INST inst = 0;
    SIPX_LINE line = 0;
    Events events;
    std::string server;
    bool started = false;  // false: UDP 14500 is taken (another engine, a test)

    explicit Engine(const MiniPeer& peer, bool doRegister = false)
    {
        velkor::tel::EngineSettings s;
        s.nullSoundCardOnly = true;
        s.nullCaptureTone = true;
        velkor::tel::setEngineSettings(s);
        server = "127.0.0.1:" + std::to_string(peer.port());
        started = sipxInitialize(&inst, 14500, -1, -1, 8000, 64, "sipx", "0.0.0.0", 0) == SIPX_RESULT_SUCCESS;
        sipxConfigSetUserAgentName(inst, "Simple Agent (sipXtapi)", 0);
        sipxEventListenerAdd(inst, &Events::listener, &events);
        const std::string id = "sip:8001@" + server;
        sipxLineAdd(inst, id.c_str(), &line, 0);
        sipxLineAddCredential(line, "8001", "pw", "");
        if (doRegister)
            sipxLineRegister(line, 1);
    }
    ~Engine()
    {
        sipxEventListenerRemove(inst, &Events::listener, nullptr);
        sipxUnInitialize(inst, 1);
    }
};

const SIPX_CALL_OPTIONS kOptions = {24, 1, 1, 1, 1, 0};

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

void BM_ConnectToInviteOnTheWire(benchmark::State& state)
{
    MiniPeer peer;
    peer.answer = false;
    Engine e(peer);
    if (!e.started)
        state.SkipWithError("UDP 14500 is taken");  // the loop does not run
    const std::string to = "sip:0123@" + e.server;
    for (auto _ : state) {
        SIPX_CALL call = 0;
        sipxCallCreate(e.inst, e.line, &call);
        peer.inviteAt = 0;
        const int64_t t0 = nowNs();
        sipxCallConnect(call, to.c_str(), 0, nullptr, 1, &kOptions, nullptr);
        while (peer.inviteAt == 0)
            std::this_thread::yield();
        state.SetIterationTime((peer.inviteAt - t0) / 1e9);
        e.events.waitFor([&] { return e.events.disconnectedCall == call; });
        sipxCallDestroy(&call);
    }
}
BENCHMARK(BM_ConnectToInviteOnTheWire)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_OkToConnectedEvent(benchmark::State& state)
{
    MiniPeer peer;
    Engine e(peer);
    if (!e.started)
        state.SkipWithError("UDP 14500 is taken");  // the loop does not run
    const std::string to = "sip:0123@" + e.server;
    for (auto _ : state) {
        SIPX_CALL call = 0;
        sipxCallCreate(e.inst, e.line, &call);
        sipxCallConnect(call, to.c_str(), 0, nullptr, 1, &kOptions, nullptr);
        if (!e.events.waitFor([&] { return e.events.connectedCall == call; })) {
            state.SkipWithError("no connected event");
            break;
        }
        state.SetIterationTime((e.events.connectedAt - peer.okSentAt) / 1e9);
        sipxCallDestroy(&call);
        e.events.waitFor([&] { return e.events.disconnectedCall == call; });
    }
}
BENCHMARK(BM_OkToConnectedEvent)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_StartToRegistered(benchmark::State& state)
{
    MiniPeer peer;
    for (auto _ : state) {
        const int64_t t0 = nowNs();
        Engine e(peer, true);
        if (!e.started) {
            state.SkipWithError("UDP 14500 is taken");
            break;
        }
        if (!e.events.waitFor([&] { return e.events.registeredAt != 0; })) {
            state.SkipWithError("not registered");
            break;
        }
        state.SetIterationTime((e.events.registeredAt - t0) / 1e9);
        sipxLineRegister(e.line, 0);
    }
}
BENCHMARK(BM_StartToRegistered)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double rssMb()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// CPU share of one core and resident memory over 10 s: registered and idle,
// then in a call with media flowing both ways.
void BM_IdleAndInCallLoad(benchmark::State& state)
{
    MiniPeer peer;
    Engine e(peer, true);
    if (!e.started)
        state.SkipWithError("UDP 14500 is taken");  // the loop does not run
    e.events.waitFor([&] { return e.events.registeredAt != 0; });
    const auto window = 10s;
    for (auto _ : state) {
        std::this_thread::sleep_for(1s);
        double c0 = cpuSeconds();
        auto t0 = Clock::now();
        std::this_thread::sleep_for(window);
        state.counters["idle_cpu_pct"] = 100 * (cpuSeconds() - c0) / std::chrono::duration<double>(Clock::now() - t0).count();
        state.counters["idle_rss_mb"] = rssMb();

        SIPX_CALL call = 0;
        sipxCallCreate(e.inst, e.line, &call);
        const std::string to = "sip:0123@" + e.server;
        sipxCallConnect(call, to.c_str(), 0, nullptr, 1, &kOptions, nullptr);
        e.events.waitFor([&] { return e.events.connectedCall == call; });
        std::this_thread::sleep_for(1s);
        c0 = cpuSeconds();
        t0 = Clock::now();
        std::this_thread::sleep_for(window);
        state.counters["call_cpu_pct"] = 100 * (cpuSeconds() - c0) / std::chrono::duration<double>(Clock::now() - t0).count();
        state.counters["call_rss_mb"] = rssMb();
        sipxCallDestroy(&call);
    }
}
BENCHMARK(BM_IdleAndInCallLoad)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
