// Fixture of the end-to-end tests: the whole local service on free ports, a
// working folder as the installed launcher prepares it, and a caller on our
// engine that registers a demo account's line with the service.
//
// A whole-session test of the client's windows (velkor_session_test() in
// CMakeLists.txt) derives from LocalServiceTest, keeps a WorkingFolder, points
// the client at service.webBase() with service::setServiceBase(), and then
// drives the windows; service.waitFarEnd()/digitsHeard() tell what the far
// end heard, service::queryBalance() what the account has left, and
// service.stopSipServer()/startSipServer() take the SIP server away and back.
#pragma once

#include "telephony/engine.h"
#include "telephony/sipx.h"
#include "tools/local-service/local_service.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velkor::local::test {

// The service as the tests run it: free ports, beeps for a prompt, the
// programs of this build.
inline LocalServiceOptions testOptions()
{
    LocalServiceOptions o;
    o.programDir = VELKOR_LOCAL_SERVICE_BIN;
    o.webPort = o.sipPort = o.farEndPort = o.farEndRtpPort = 0;
    o.prompt = "beeps";
    return o;
}

// A temporary working folder seeded like the installed launcher does it (the
// default Login.xml, Audio.xml and Call.xml of packaging/defaults and a
// "Record" folder), made the current folder for its lifetime.
class WorkingFolder {
public:
    WorkingFolder()
    {
        namespace fs = std::filesystem;
        std::string t = (fs::temp_directory_path() / "velkor-work-XXXXXX").string();
        path_ = mkdtemp(t.data());
        const fs::path defaults = fs::path(std::getenv("VELKOR_SOURCE_DIR")) / "packaging/defaults";
        for (const char* f : {"Login.xml", "Audio.xml", "Call.xml"})
            fs::copy_file(defaults / f, path_ / f);
        fs::create_directory(path_ / "Record");
        previous_ = fs::current_path();
        fs::current_path(path_);
    }
    ~WorkingFolder()
    {
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
        std::filesystem::remove_all(path_, ec);
    }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

class LocalServiceTest : public ::testing::Test {
protected:
    explicit LocalServiceTest(LocalServiceOptions options = testOptions()) : service(std::move(options)) {}

    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(service.start(&error)) << error;
    }
    void TearDown() override
    {
        if (!HasFailure()) {
            // The programs are sanitizer builds in a sanitizer build: their
            // findings (leaks are told when they end) fail the test too.
            service.stop();
            EXPECT_EQ(service.sanitizerReports(), "");
        } else {
            std::string events;
            for (const auto& l : service.farEndEvents())
                events += "  " + l + "\n";
            ADD_FAILURE() << "far end events:\n" << events << "SIP server log:\n" << service.log("sip");
        }
    }

    LocalService service;
};

struct CallEvent {
    SIPX_CALL call;
    int32_t code;
    int32_t cause;
};

// Our engine as a client of the service, on a free port (the client's own
// port 14500 stays free for other tests).
class Caller {
public:
    Caller(const LocalService& service, const std::string& sipUser, const std::string& password)
        : server_(service.sipServer())
    {
        tel::EngineSettings s;
        s.nullSoundCardOnly = true;
        s.nullCaptureTone = true;  // something for the far end to echo
        tel::setEngineSettings(s);
        EXPECT_EQ(sipxInitialize(&inst, freeUdpPort(), -1, -1, freeRtpPort(), 64, "sipx", "0.0.0.0", 0),
                  SIPX_RESULT_SUCCESS);
        sipxConfigSetUserAgentName(inst, "Simple Agent (sipXtapi)", 0);
        sipxEventListenerAdd(inst, &Caller::listener, this);
        const std::string identity = "sip:" + sipUser + "@" + server_;
        EXPECT_EQ(sipxLineAdd(inst, identity.c_str(), &line, 0), SIPX_RESULT_SUCCESS);
        sipxLineAddCredential(line, sipUser.c_str(), password.c_str(), "");
    }
    ~Caller()
    {
        if (inst) {
            sipxEventListenerRemove(inst, &Caller::listener, this);
            sipxUnInitialize(inst, 1);
        }
    }

    void registerLine() { EXPECT_EQ(sipxLineRegister(line, 1), SIPX_RESULT_SUCCESS); }

    SIPX_CALL call(const std::string& number)
    {
        static const SIPX_CALL_OPTIONS options = {24, 1, 1, 1, 1, 0};
        SIPX_CALL c = 0;
        EXPECT_EQ(sipxCallCreate(inst, line, &c), SIPX_RESULT_SUCCESS);
        const std::string address = "sip:" + number + "@" + server_;
        EXPECT_EQ(sipxCallConnect(c, address.c_str(), 0, nullptr, 1, &options, nullptr), SIPX_RESULT_SUCCESS);
        return c;
    }

    // Waits for the event; false after the time-out.
    bool waitCall(SIPX_CALL c, int32_t code, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        return waitFor([&] { return find(c, code) != nullptr; }, timeout);
    }
    // Waits for a line event, among those after the first `from` ones.
    bool waitLine(int32_t code, std::chrono::milliseconds timeout = std::chrono::seconds(10), size_t from = 0)
    {
        return waitFor([&] {
            for (size_t i = from; i < lineCodes_.size(); ++i)
                if (lineCodes_[i] == code)
                    return true;
            return false;
        }, timeout);
    }
    size_t lineEventCount()
    {
        std::lock_guard lock(mutex_);
        return lineCodes_.size();
    }
    // Waits for a call from elsewhere (category 0, code 1000).
    bool waitIncoming(std::chrono::milliseconds timeout)
    {
        return waitFor([&] {
            for (const auto& e : calls_)
                if (e.code == SIPX_CALLSTATE_INCOMING)
                    return true;
            return false;
        }, timeout);
    }
    // The call's event codes so far.
    std::vector<int32_t> codes(SIPX_CALL c)
    {
        std::lock_guard lock(mutex_);
        std::vector<int32_t> out;
        for (const auto& e : calls_)
            if (e.call == c)
                out.push_back(e.code);
        return out;
    }
    int32_t cause(SIPX_CALL c, int32_t code)
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : calls_)
            if (e.call == c && e.code == code)
                return e.cause;
        return -1;
    }
    int32_t lineCause()
    {
        std::lock_guard lock(mutex_);
        return lineCause_;
    }

    SIPX_INST inst = 0;
    SIPX_LINE line = 0;

private:
    static bool listener(SIPX_EVENT_CATEGORY category, void* info, void* user)
    {
        auto* self = static_cast<Caller*>(user);
        std::lock_guard lock(self->mutex_);
        if (category == SIPX_EVENT_CALLSTATE) {
            const auto* i = static_cast<SIPX_CALLSTATE_INFO*>(info);
            self->calls_.push_back({i->call, i->event, i->cause});
        } else if (category == SIPX_EVENT_LINESTATE) {
            const auto* i = static_cast<SIPX_LINESTATE_INFO*>(info);
            self->lineCodes_.push_back(i->event);
            if (i->cause)
                self->lineCause_ = i->cause;
        }
        self->cv_.notify_all();
        return false;
    }
    const CallEvent* find(SIPX_CALL c, int32_t code) const
    {
        for (const auto& e : calls_)
            if (e.call == c && e.code == code)
                return &e;
        return nullptr;
    }
    bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, pred);
    }

    std::string server_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<CallEvent> calls_;
    std::vector<int32_t> lineCodes_;
    int32_t lineCause_ = 0;
};

} // namespace velkor::local::test
