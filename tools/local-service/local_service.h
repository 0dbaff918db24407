// The whole local service, started and stopped as one: the web server, the
// SIP server (Kamailio) and the far end, each a process of its own, all on
// 127.0.0.1, writing only below a temporary folder of their own. Used by the
// launcher (velkor-local-service) and by the end-to-end tests as their fixture.
#pragma once

#include "tools/local-service/accounts.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velkor::local {

struct LocalServiceOptions {
    // Folder of velkor-web-service and velkor-far-end; empty: the running program's folder.
    std::string programDir;
    // Folder of kamailio.cfg and accounts.txt; empty: the one the build names.
    std::string configDir;
    // The accounts file; empty: configDir/accounts.txt.
    std::string accountsFile;
    std::string kamailio = "kamailio";
    // Ports on 127.0.0.1; 0 picks a free one.
    int webPort = 18080;
    int sipPort = 5070;
    int farEndPort = 5072;
    int farEndRtpPort = 9000;
    // The far end's prompt: empty speaks one with espeak-ng when it is
    // installed (else beeps), "beeps", or the path of a WAV file.
    std::string prompt;
    std::chrono::milliseconds ringTime{1000};
    std::chrono::milliseconds hangUpAfter{5000};
    // The longest registration the SIP server grants (seconds, at least 5):
    // a client notices a stopped SIP server only when it refreshes.
    int registrationExpiry = 3600;
    // The programs' output also goes to our own stdout (else only to their
    // log files in the temporary folder).
    bool showOutput = false;
    // Leave the temporary folder behind when stopping (to look at the logs).
    bool keepTempDir = false;
};

// The numbers of the far end that do not simply answer.
struct FarEndNumbers {
    static constexpr const char* busy = "0486";      // refused with 486 busy here
    static constexpr const char* silent = "0408";    // rings and never answers
    static constexpr const char* hangsUp = "0005";   // answers, hangs up after hangUpAfter
};

class LocalService {
public:
    explicit LocalService(LocalServiceOptions options = {});
    ~LocalService();  // stop()
    LocalService(const LocalService&) = delete;
    LocalService& operator=(const LocalService&) = delete;

    // Starts all three and waits until each answers (web: HTTP, SIP server
    // and far end: SIP OPTIONS); false with a reason, everything stopped again.
    bool start(std::string* error = nullptr);
    // Stops the far end (its calls' talk time is still charged), the SIP
    // server and the web server, and removes the temporary folder.
    void stop();

    // "http://127.0.0.1:PORT": the client's service base address.
    std::string webBase() const;
    int webPort() const { return webPort_; }
    // "127.0.0.1:PORT": the SIP server the login reply names.
    std::string sipServer() const;
    int sipPort() const { return sipPort_; }
    int farEndPort() const { return farEndPort_; }
    const std::string& tempDir() const { return tempDir_; }
    const std::vector<Account>& accounts() const { return accounts_; }
    const LocalServiceOptions& options() const { return options_; }

    // The SIP server alone, to take it away in the middle of a session and
    // bring it back (registrations are lost, as on a real restart). A client
    // notices a server that is gone only when a request of its own times out:
    // the engine's registration refresh (before registrationExpiry is over)
    // fails 32 s after it was sent.
    void stopSipServer();
    bool startSipServer(std::string* error = nullptr);
    bool sipServerRunning() const { return sipPid_ > 0; }

    // The far end's event lines so far (see far_end.h for their form).
    std::vector<std::string> farEndEvents() const;
    // Waits until a line satisfies pred (lines already written count);
    // returns it, or nullopt after the time-out.
    std::optional<std::string> waitFarEnd(const std::function<bool(const std::string&)>& pred,
                                          std::chrono::milliseconds timeout) const;
    // Waits for exactly this line.
    bool waitFarEndLine(const std::string& line, std::chrono::milliseconds timeout) const;
    // The digits call N of the far end has heard so far, in order.
    std::string digitsHeard(int call) const;

    // What a program wrote: "web", "sip" or "far-end" (after stop(): what
    // they wrote until they ended).
    std::string log(const std::string& program) const;
    // Lines of sanitizer reports in the web server's and far end's output
    // (their sanitizer builds); complete after stop().
    std::string sanitizerReports() const;

private:
    bool fail(std::string* error, const std::string& why);
    std::string path(const std::string& name) const { return tempDir_ + "/" + name; }
    bool writeSipAccounts(std::string* error);
    std::string makePrompt();

    LocalServiceOptions options_;
    std::vector<Account> accounts_;
    std::string tempDir_;
    int webPort_ = 0, sipPort_ = 0, farEndPort_ = 0, farEndRtpPort_ = 0;
    pid_t webPid_ = -1, sipPid_ = -1, farEndPid_ = -1;
    std::map<std::string, std::string> lastLogs_;  // kept when the folder goes
};

// Ports nobody was bound to a moment ago, on 127.0.0.1.
int freeTcpPort();
int freeUdpPort();
// An even UDP port whose neighbour (RTCP) is free too.
int freeRtpPort();

// Sends a SIP OPTIONS request to 127.0.0.1:port and waits for a final
// answer; its status code, or 0 without one.
int sipOptionsStatus(int port, std::chrono::milliseconds timeout);

} // namespace velkor::local
