// The far end of the local service: plays the called telephone on our own
// telephony engine. Every call rings for a while, is answered, hears a prompt
// and then its own echo; the digits it sends are reported; when it ends, its
// talk time goes to the web server, which charges the caller's account. A few
// numbers behave otherwise: one is busy (486), one never answers, one hangs
// up a few seconds after answering.
//
// What happens is told as lines "call N EVENT ..." (N counts the calls from 1):
//   call N incoming from SIPUSER to NUMBER
//   call N busy | ringing | answered | hangup (the far end hung up)
//   call N dtmf DIGIT
//   call N ended SECONDS            (talk time; 0 when never answered)
//   call N charged BALANCE | call N charge failed
#pragma once

#include "telephony/sipx.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velkor::local {

struct FarEndOptions {
    int sipPort = 5072;        // UDP on 127.0.0.1
    int rtpPort = 9000;        // first media port
    std::string webBase;       // talk times go to webBase + "/callend"; empty: nowhere
    std::string eventLog;      // file the event lines are appended to; empty: none
    std::vector<int16_t> prompt;  // 8 kHz mono; empty: beepPrompt()
    std::chrono::milliseconds ringTime{1000};
    std::chrono::milliseconds hangUpAfter{5000};
    std::string busyNumber = "0486";
    std::string silentNumber = "0408";
    std::string hangUpNumber = "0005";
};

// "sip:7001@127.0.0.1:5070" -> "7001"; the user part of a SIP address.
std::string sipUserOf(const std::string& address);

class FarEnd {
public:
    explicit FarEnd(FarEndOptions options);
    ~FarEnd();
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    // Also told every event line (for the console); set before start().
    void setOutput(std::function<void(const std::string&)> output) { output_ = std::move(output); }

    // Starts the engine on 127.0.0.1:sipPort; false (with a reason) when it cannot.
    bool start(std::string* error = nullptr);
    // Hangs up the calls in progress (their talk time is still reported) and
    // ends the engine.
    void stop();

private:
    struct Event {
        int32_t kind;  // SIPX_CALLSTATE_* code, or 0 for a digit
        SIPX_CALL call;
        std::string from, to;
        char digit;
        bool refused;  // refused as busy before it could ring
    };
    struct Call {
        int number = 0;
        std::string sipUser;
        std::string dialled;
        bool answered = false;
        std::chrono::steady_clock::time_point answeredAt;
    };
    struct Timer {
        std::chrono::steady_clock::time_point when;
        SIPX_CALL call;
        bool answer;  // else hang up
    };

    static bool listener(SIPX_EVENT_CATEGORY category, void* info, void* user);
    void queue(Event e);
    void run();
    void handle(const Event& e);
    void fire(const Timer& t);
    void say(const std::string& line);
    void report(const Call& call, int seconds);

    FarEndOptions options_;
    std::function<void(const std::string&)> output_;
    std::ofstream log_;
    SIPX_INST instance_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    bool closing_ = false;
    std::thread worker_;

    // Worker thread only.
    std::map<SIPX_CALL, Call> calls_;
    std::vector<Timer> timers_;
    int counter_ = 0;
};

} // namespace velkor::local
