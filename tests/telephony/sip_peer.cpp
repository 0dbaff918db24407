#include "sip_peer.h"

#include "telephony/udp_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace velkor::tel::test {

std::vector<int> udpPortsHeldBy(pid_t pid)
{
    // Socket inodes of the process...
    std::set<std::string> inodes;
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(fdDir, ec)) {
        std::error_code ec2;
        const std::string target = std::filesystem::read_symlink(e.path(), ec2).string();
        if (target.rfind("socket:[", 0) == 0)
            inodes.insert(target.substr(8, target.size() - 9));
    }
    // ...looked up in the UDP tables: "sl local rem st queues tr retr uid timeout inode".
    std::vector<int> ports;
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream f(table);
        std::string line;
        std::getline(f, line);
        while (std::getline(f, line)) {
            std::istringstream in(line);
            std::string sl, local, remote, st, queues, tr, retr, uid, timeout, inode;
            in >> sl >> local >> remote >> st >> queues >> tr >> retr >> uid >> timeout >> inode;
            if (inodes.count(inode))
                ports.push_back(static_cast<int>(std::stol(local.substr(local.rfind(':') + 1), nullptr, 16)));
        }
    }
    return ports;
}

std::string scenarioPath(const std::string& name)
{
    const char* root = std::getenv("VELKOR_SOURCE_DIR");
    return std::string(root ? root : ".") + "/tests/telephony/sipp/" + name;
}

SippPeer::SippPeer(const std::string& scenario, int port, const std::vector<std::string>& extra) : port_(port)
{
    char tmpl[] = "/tmp/velkor-sipp-XXXXXX";
    dir_ = mkdtemp(tmpl);
    log_ = dir_ + "/messages.log";
    std::vector<std::string> args = {"sipp",   "-sf",  scenarioPath(scenario), "-i",      "127.0.0.1",
                                     "-p",     std::to_string(port),            "-nostdin", "-trace_msg",
                                     "-message_file", log_, "-trace_err", "-error_file", dir_ + "/errors.log"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out = dir_ + "/screen.log";
    // fork/exec rather than posix_spawn: the child must die with the test
    // process, or a crashed test leaves SIPp holding its ports. Only what
    // async-signal-safe calls need runs between fork and exec.
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        const int in = open("/dev/null", O_RDONLY);
        const int log = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(log, 1);
        dup2(log, 2);
        // Nothing else of the test process goes along (the engine's sockets
        // would stay bound for as long as SIPp runs).
        close_range(3, ~0U, 0);
        if (chdir(dir_.c_str()) != 0)
            _exit(127);
        execv("/usr/bin/sipp", argv.data());
        _exit(127);
    }
    // SIPp binds its port within milliseconds (longer on a loaded machine);
    // watch the socket table rather than probe the port, which could take it
    // away from SIPp.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && udpSocketsOnPort(port) < 1 && std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid_, &earlyStatus_, WNOHANG) == pid_) {  // SIPp gave up (port taken, bad scenario)
            pid_ = -1;
            exitedEarly_ = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

SippPeer::~SippPeer()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    if (!std::getenv("VELKOR_KEEP_SIPP_LOGS"))
        std::filesystem::remove_all(dir_, ec);
}

std::optional<int> SippPeer::wait(std::chrono::milliseconds timeout)
{
    if (exitedEarly_)
        return WIFEXITED(earlyStatus_) ? WEXITSTATUS(earlyStatus_) : 128 + WTERMSIG(earlyStatus_);
    if (pid_ <= 0)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string SippPeer::messages() const
{
    std::ifstream f(log_);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool SippPeer::waitUntil(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred(messages()))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool SippPeer::waitForMessage(const std::string& text, int n, std::chrono::milliseconds timeout) const
{
    return waitUntil([&](const std::string& m) { return findNth(m, text, n) != std::string::npos; }, timeout);
}

size_t findNth(const std::string& s, const std::string& text, int n)
{
    size_t pos = s.find(text);
    for (int i = 1; i < n && pos != std::string::npos; ++i)
        pos = s.find(text, pos + text.size());
    return pos;
}

bool EventLog::listener(SIPX_EVENT_CATEGORY category, void* info, void* user)
{
    auto* self = static_cast<EventLog*>(user);
    Event e {category, 0, 0, 0, {}, std::chrono::steady_clock::now()};
    if (category == SIPX_EVENT_CALLSTATE) {
        auto* i = static_cast<SIPX_CALLSTATE_INFO*>(info);
        e.handle = i->call;
        e.code = i->event;
        e.cause = i->cause;
    } else if (category == SIPX_EVENT_LINESTATE) {
        auto* i = static_cast<SIPX_LINESTATE_INFO*>(info);
        e.handle = i->line;
        e.code = i->event;
        e.cause = i->cause;
    } else if (category == SIPX_EVENT_TEXT) {
        auto* i = static_cast<SIPX_TEXT_INFO*>(info);
        e.text.assign(i->text, i->length);
    }
    {
        std::lock_guard lock(self->mutex_);
        self->events_.push_back(e);
    }
    self->cv_.notify_all();
    return false;
}

bool EventLog::waitFor(const std::function<bool(const Event&)>& pred, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] {
        for (const auto& e : events_)
            if (pred(e))
                return true;
        return false;
    });
}

bool EventLog::waitCall(SIPX_CALL call, int32_t code, std::chrono::milliseconds timeout)
{
    return waitFor([&](const Event& e) { return e.category == SIPX_EVENT_CALLSTATE && e.handle == call && e.code == code; },
                   timeout);
}

std::optional<Event> EventLog::callEvent(SIPX_CALL call, int32_t code) const
{
    std::lock_guard lock(mutex_);
    for (const auto& e : events_)
        if (e.category == SIPX_EVENT_CALLSTATE && e.handle == call && e.code == code)
            return e;
    return std::nullopt;
}

bool EventLog::waitLine(int32_t code, std::chrono::milliseconds timeout)
{
    return waitFor([&](const Event& e) { return e.category == SIPX_EVENT_LINESTATE && e.code == code; }, timeout);
}

std::vector<Event> EventLog::events() const
{
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<int32_t> EventLog::callCodes(SIPX_CALL call) const
{
    std::lock_guard lock(mutex_);
    std::vector<int32_t> codes;
    for (const auto& e : events_)
        if (e.category == SIPX_EVENT_CALLSTATE && e.handle == call)
            codes.push_back(e.code);
    return codes;
}

} // namespace velkor::tel::test
