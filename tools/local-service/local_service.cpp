#include "tools/local-service/local_service.h"

#include "platform/gbk.h"
#include "platform/http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#ifndef VELKOR_LOCAL_SERVICE_DIR
#define VELKOR_LOCAL_SERVICE_DIR "."
#endif

extern char** environ;

namespace velkor::local {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int boundPort(int type)
{
    const int s = socket(AF_INET, type, 0);
    if (s < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

bool udpFree(int port)
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (s >= 0)
        close(s);
    return ok;
}

} // namespace

int freeRtpPort()
{
    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> pick(10000, 29999);
    for (int i = 0; i < 200; ++i) {
        const int p = pick(rng) * 2;
        if (udpFree(p) && udpFree(p + 1))
            return p;
    }
    return 0;
}

namespace {

std::string token()
{
    static std::mt19937_64 rng(std::random_device{}());
    std::ostringstream s;
    s << std::hex << rng();
    return s.str();
}

std::string readFile(const std::string& p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string ownFolder()
{
    std::error_code ec;
    const auto exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

std::string findInPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string d; std::getline(dirs, d, ':');) {
        const std::string p = d + "/" + program;
        if (!d.empty() && access(p.c_str(), X_OK) == 0)
            return p;
    }
    return {};
}

// Starts a program with its output in logFile (and on our stdout as well when
// show is set), and the extra environment entries. The child gets SIGTERM
// when the thread that started it ends (the fixture's or the launcher's main
// thread), so nothing outlives a crashed test.
pid_t spawn(const std::vector<std::string>& args, const std::string& logFile, bool show,
            const std::vector<std::string>& extraEnv = {})
{
    // Everything the child needs is prepared before fork: between fork and
    // exec a multi-threaded parent's child may only make async-signal-safe calls.
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const auto& x : extraEnv)
            replaced = replaced || std::strncmp(*e, x.c_str(), x.find('=') + 1) == 0;
        if (!replaced)
            envText.emplace_back(*e);
    }
    envText.insert(envText.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string program = args[0].find('/') == std::string::npos ? findInPath(args[0]) : args[0];
    if (program.empty())
        return -1;

    const int fd = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);  // the launcher blocks the stop signals
        if (fd >= 0) {
            if (!show)
                dup2(fd, 1);
            dup2(fd, 2);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (fd >= 0)
        close(fd);
    return pid;
}

// False once the program has ended (it is then reaped and pid set to -1).
bool running(pid_t& pid)
{
    if (pid <= 0)
        return false;
    if (waitpid(pid, nullptr, WNOHANG) == 0)
        return true;
    pid = -1;
    return false;
}

void terminate(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + 5s;
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    pid = -1;
}

// db_text escapes its separator, line ends and backslashes.
std::string dbText(const std::string& v)
{
    std::string out;
    for (char c : v) {
        if (c == ':' || c == '\\')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

} // namespace

int freeTcpPort()
{
    return boundPort(SOCK_STREAM);
}

int freeUdpPort()
{
    return boundPort(SOCK_DGRAM);
}

int sipOptionsStatus(int port, std::chrono::milliseconds timeout)
{
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    const int local = ntohs(a.sin_port);
    const std::string target = "127.0.0.1:" + std::to_string(port);
    const std::string msg = "OPTIONS sip:" + target + " SIP/2.0\r\n"
                            "Via: SIP/2.0/UDP 127.0.0.1:" + std::to_string(local) + ";branch=z9hG4bK" + token() +
                            ";rport\r\nMax-Forwards: 70\r\nFrom: <sip:probe@127.0.0.1>;tag=" + token() +
                            "\r\nTo: <sip:" + target + ">\r\nCall-ID: " + token() +
                            "@127.0.0.1\r\nCSeq: 1 OPTIONS\r\nAccept: application/sdp\r\nContent-Length: 0\r\n\r\n";
    a.sin_port = htons(static_cast<uint16_t>(port));
    sendto(s, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int status = 0;
    const auto deadline = Clock::now() + timeout;
    while (status == 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{s, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buf[2048];
        const ssize_t n = recv(s, buf, sizeof buf - 1, 0);
        if (n > 12 && std::strncmp(buf, "SIP/2.0 ", 8) == 0) {
            const int code = std::atoi(buf + 8);
            if (code >= 200)
                status = code;
        }
    }
    close(s);
    return status;
}

LocalService::LocalService(LocalServiceOptions options) : options_(std::move(options))
{
    if (options_.programDir.empty())
        options_.programDir = ownFolder();
    if (options_.configDir.empty())
        options_.configDir = VELKOR_LOCAL_SERVICE_DIR;
    if (options_.accountsFile.empty())
        options_.accountsFile = options_.configDir + "/accounts.txt";
}

LocalService::~LocalService()
{
    stop();
}

bool LocalService::fail(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    stop();
    return false;
}

bool LocalService::start(std::string* error)
{
    std::string why;
    auto accounts = loadAccounts(options_.accountsFile, &why);
    if (!accounts)
        return fail(error, why);
    accounts_ = std::move(*accounts);

    std::string tmpl = (fs::temp_directory_path() / "velkor-local-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        return fail(error, "cannot make a temporary folder");
    tempDir_ = tmpl;
    std::error_code ec;
    fs::create_directories(path("db"), ec);
    fs::create_directories(path("run"), ec);
    fs::create_directories(path("tmp"), ec);
    std::ofstream(path("far-end-events.log")).flush();

    webPort_ = options_.webPort ? options_.webPort : freeTcpPort();
    sipPort_ = options_.sipPort ? options_.sipPort : freeUdpPort();
    farEndPort_ = options_.farEndPort ? options_.farEndPort : freeUdpPort();
    farEndRtpPort_ = options_.farEndRtpPort ? options_.farEndRtpPort : freeRtpPort();

    webPid_ = spawn({options_.programDir + "/velkor-web-service", "--accounts", options_.accountsFile, "--port",
                     std::to_string(webPort_), "--sip-server", sipServer()},
                    path("web.log"), options_.showOutput);
    if (!startSipServer(&why))
        return fail(error, why);

    std::vector<std::string> farArgs = {options_.programDir + "/velkor-far-end",
                                        "--port", std::to_string(farEndPort_),
                                        "--rtp-port", std::to_string(farEndRtpPort_),
                                        "--web", webBase(),
                                        "--events", path("far-end-events.log"),
                                        "--ring-ms", std::to_string(options_.ringTime.count()),
                                        "--hangup-after-ms", std::to_string(options_.hangUpAfter.count())};
    const std::string prompt = makePrompt();
    if (!prompt.empty()) {
        farArgs.push_back("--prompt");
        farArgs.push_back(prompt);
    }
    farEndPid_ = spawn(farArgs, path("far-end.log"), options_.showOutput, {"TMPDIR=" + path("tmp")});

    // Each answers once it is ready; a program that ended will not.
    const auto deadline = Clock::now() + 15s;
    http::Options probe;
    probe.connectTimeout = 300ms;
    probe.totalTimeout = 1s;
    bool webUp = false, farUp = false;
    while (!(webUp && farUp)) {
        if (!running(webPid_))
            return fail(error, "the web server did not start:\n" + log("web"));
        if (!running(farEndPid_))
            return fail(error, "the far end did not start:\n" + log("far-end"));
        if (Clock::now() > deadline)
            return fail(error, "the local service did not answer within 15 s");
        if (!webUp) {
            const auto r = http::getFirstLine(webBase() + "/ad2.htm", probe);
            webUp = r.ok && r.status == 200;
        }
        if (!farUp)
            farUp = sipOptionsStatus(farEndPort_, 200ms) > 0;
        if (!(webUp && farUp))
            std::this_thread::sleep_for(20ms);
    }
    return true;
}

bool LocalService::startSipServer(std::string* error)
{
    if (sipPid_ > 0)
        return true;
    std::string why;
    if (!writeSipAccounts(&why)) {
        if (error)
            *error = why;
        return false;
    }
    std::vector<std::string> args = {options_.kamailio, "-DD", "-E", "-f", options_.configDir + "/kamailio.cfg",
                                     "-l", "udp:127.0.0.1:" + std::to_string(sipPort_), "-Y", path("run"),
                                     "-w", tempDir_, "-m", "32", "-M", "4",
                                     "-A", "DBURL=\"text://" + path("db") + "\"",
                                     "-A", "FAREND=\"sip:127.0.0.1:" + std::to_string(farEndPort_) + "\"",
                                     "-A", "EXPIRES=" + std::to_string(std::max(options_.registrationExpiry, 5))};
    sipPid_ = spawn(args, path("sip.log"), false);
    if (sipPid_ <= 0) {
        if (error)
            *error = "cannot run " + options_.kamailio + " (is the kamailio package installed?)";
        sipPid_ = -1;
        return false;
    }
    const auto deadline = Clock::now() + 10s;
    while (sipOptionsStatus(sipPort_, 200ms) != 200) {
        if (!running(sipPid_) || Clock::now() > deadline) {
            if (error)
                *error = "the SIP server did not start:\n" + log("sip");
            terminate(sipPid_);
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

void LocalService::stopSipServer()
{
    terminate(sipPid_);
}

bool LocalService::writeSipAccounts(std::string* error)
{
    // The SIP user's password is the account's password (the client's engine
    // sends it as UTF-8).
    std::ofstream sub(path("db/subscriber"), std::ios::binary);
    sub << "id(int,auto) username(string) domain(string) password(string) ha1(string,null) ha1b(string,null) \n";
    int id = 1;
    for (const auto& a : accounts_)
        sub << id++ << ':' << dbText(a.sipUser) << ":127.0.0.1:" << dbText(gbk::toUtf8(a.password).text) << ":::\n";
    std::ofstream version(path("db/version"), std::ios::binary);
    version << "id(int,auto) table_name(string) table_version(int) \n1:subscriber:7\n";
    if (!sub.flush() || !version.flush()) {
        if (error)
            *error = "cannot write " + path("db");
        return false;
    }
    return true;
}

std::string LocalService::makePrompt()
{
    if (options_.prompt == "beeps")
        return {};
    if (!options_.prompt.empty())
        return options_.prompt;
    if (findInPath("espeak-ng").empty())
        return {};
    const std::string wav = path("prompt.wav");
    pid_t pid = spawn({"espeak-ng", "-v", "cmn", "-s", "150", "-w", wav,
                       "您好，这里是本地测试线路。请讲话，您会听到自己的声音。您按的号码键会被记录下来。"},
                      path("far-end.log"), false);
    const auto deadline = Clock::now() + 10s;
    int status = -1;
    while (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            terminate(pid);
            return {};
        }
        std::this_thread::sleep_for(10ms);
    }
    return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? wav : std::string();
}

void LocalService::stop()
{
    // The far end first: its last calls are charged at the web server.
    terminate(farEndPid_);
    terminate(sipPid_);
    terminate(webPid_);
    if (!tempDir_.empty()) {
        for (const char* program : {"web", "sip", "far-end"})
            lastLogs_[program] = readFile(path(std::string(program) + ".log"));
        if (!options_.keepTempDir) {
            std::error_code ec;
            fs::remove_all(tempDir_, ec);
        }
    }
    tempDir_.clear();
}

std::string LocalService::webBase() const
{
    return "http://127.0.0.1:" + std::to_string(webPort_);
}

std::string LocalService::sipServer() const
{
    return "127.0.0.1:" + std::to_string(sipPort_);
}

std::vector<std::string> LocalService::farEndEvents() const
{
    std::vector<std::string> lines;
    if (tempDir_.empty())
        return lines;
    std::istringstream in(readFile(path("far-end-events.log")));
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

std::optional<std::string> LocalService::waitFarEnd(const std::function<bool(const std::string&)>& pred,
                                                    std::chrono::milliseconds timeout) const
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        for (const auto& l : farEndEvents())
            if (pred(l))
                return l;
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(20ms);
    }
}

bool LocalService::waitFarEndLine(const std::string& line, std::chrono::milliseconds timeout) const
{
    return waitFarEnd([&](const std::string& l) { return l == line; }, timeout).has_value();
}

std::string LocalService::digitsHeard(int call) const
{
    const std::string prefix = "call " + std::to_string(call) + " dtmf ";
    std::string digits;
    for (const auto& l : farEndEvents())
        if (l.rfind(prefix, 0) == 0 && l.size() > prefix.size())
            digits += l.substr(prefix.size());
    return digits;
}

std::string LocalService::log(const std::string& program) const
{
    if (!tempDir_.empty())
        return readFile(path(program + ".log"));
    auto it = lastLogs_.find(program);
    return it == lastLogs_.end() ? std::string() : it->second;
}

std::string LocalService::sanitizerReports() const
{
    std::string out;
    for (const char* program : {"web", "far-end"}) {
        std::istringstream in(log(program));
        for (std::string l; std::getline(in, l);)
            if (l.find("Sanitizer") != std::string::npos || l.find("runtime error:") != std::string::npos)
                out += std::string(program) + ": " + l + "\n";
    }
    return out;
}

} // namespace velkor::local
