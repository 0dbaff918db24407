#include "tools/local-service/far_end.h"

#include "platform/http.h"
#include "service/address.h"
#include "telephony/engine.h"
#include "tools/local-service/prompt.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace velkor::local {

using Clock = std::chrono::steady_clock;

std::string sipUserOf(const std::string& address)
{
    size_t from = address.find(':');
    from = from == std::string::npos ? 0 : from + 1;
    const size_t at = address.find('@', from);
    return at == std::string::npos ? std::string() : address.substr(from, at - from);
}

FarEnd::FarEnd(FarEndOptions options) : options_(std::move(options))
{
    if (options_.prompt.empty())
        options_.prompt = beepPrompt();
}

FarEnd::~FarEnd()
{
    stop();
}

bool FarEnd::start(std::string* error)
{
    if (!options_.eventLog.empty()) {
        log_.open(options_.eventLog, std::ios::app);
        if (!log_) {
            if (error)
                *error = "cannot write " + options_.eventLog;
            return false;
        }
    }
    tel::EngineSettings s;
    s.nullSoundCardOnly = true;  // never the machine's own speaker and microphone
    s.nullCapturePrompt = options_.prompt;
    s.nullCaptureEcho = true;
    // The three calls of a three-party call come from one caller at once, and
    // all keep their audio.
    s.sharedMediaResources = true;
    s.acceptDuplicateCalls = true;
    s.verboseLog = std::getenv("VELKOR_FAR_END_LOG") != nullptr;  // the SIP stack's own log
    tel::setEngineSettings(s);
    const std::string bind = "127.0.0.1";
    if (sipxInitialize(&instance_, options_.sipPort, -1, -1, options_.rtpPort, 64, "farend", bind.c_str(), 0) !=
        SIPX_RESULT_SUCCESS) {
        instance_ = 0;
        if (error)
            *error = "cannot start the engine on 127.0.0.1:" + std::to_string(options_.sipPort);
        return false;
    }
    sipxConfigSetUserAgentName(instance_, "Velkor far end", 0);
    sipxEventListenerAdd(instance_, &FarEnd::listener, this);
    worker_ = std::thread([this] { run(); });
    return true;
}

void FarEnd::stop()
{
    if (!worker_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    worker_.join();
    sipxEventListenerRemove(instance_, &FarEnd::listener, this);
    sipxUnInitialize(instance_, 1);
    instance_ = 0;
}

// Engine thread: copies what the worker needs and hands it over.
bool FarEnd::listener(SIPX_EVENT_CATEGORY category, void* info, void* user)
{
    auto* self = static_cast<FarEnd*>(user);
    Event e{0, 0, {}, {}, 0, false};
    if (category == SIPX_EVENT_CALLSTATE) {
        const auto* i = static_cast<const SIPX_CALLSTATE_INFO*>(info);
        e.kind = i->event;
        e.call = i->call;
        if (e.kind == SIPX_CALLSTATE_INCOMING) {
            char buf[256];
            if (sipxCallGetRemoteID(e.call, buf, sizeof buf) == SIPX_RESULT_SUCCESS)
                e.from = buf;
            if (sipxCallGetLocalID(e.call, buf, sizeof buf) == SIPX_RESULT_SUCCESS)
                e.to = buf;
            // A busy telephone does not ring: refuse before the engine says it
            // rings. The refusal's own disconnect event comes during the
            // reject call, so the incoming event is queued first.
            if (sipUserOf(e.to) == self->options_.busyNumber) {
                e.refused = true;
                const SIPX_CALL call = e.call;
                self->queue(std::move(e));
                sipxCallReject(call, 486);
                return false;
            }
        } else if (e.kind != SIPX_CALLSTATE_CONNECTED && e.kind != SIPX_CALLSTATE_DISCONNECTED) {
            return false;
        }
    } else if (category == SIPX_EVENT_DTMF) {
        const auto* i = static_cast<const SIPX_DTMF_INFO*>(info);
        e.call = i->call;
        e.digit = i->digit;
    } else {
        return false;
    }
    self->queue(std::move(e));
    return false;
}

void FarEnd::queue(Event e)
{
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(e));
    }
    wake_.notify_all();
}

void FarEnd::run()
{
    std::unique_lock lock(mutex_);
    Clock::time_point closeBy{};
    bool hungUpAll = false;
    for (;;) {
        if (closing_ && !hungUpAll) {
            hungUpAll = true;
            closeBy = Clock::now() + std::chrono::seconds(2);
            timers_.clear();
            std::vector<SIPX_CALL> open;
            for (const auto& [h, c] : calls_)
                open.push_back(h);
            lock.unlock();
            for (SIPX_CALL h : open)
                sipxCallDestroy(&h);  // each still ends with its disconnect event
            lock.lock();
        }
        if (hungUpAll && (calls_.empty() || Clock::now() >= closeBy))
            return;

        auto next = Clock::now() + std::chrono::hours(1);
        for (const auto& t : timers_)
            next = std::min(next, t.when);
        if (hungUpAll)
            next = std::min(next, closeBy);
        wake_.wait_until(lock, next, [&] { return !events_.empty() || (closing_ && !hungUpAll); });

        std::deque<Event> events;
        events.swap(events_);
        std::vector<Timer> due;
        const auto now = Clock::now();
        for (auto it = timers_.begin(); it != timers_.end();) {
            if (it->when <= now) {
                due.push_back(*it);
                it = timers_.erase(it);
            } else {
                ++it;
            }
        }
        lock.unlock();
        for (const auto& e : events)
            handle(e);
        for (const auto& t : due)
            fire(t);
        lock.lock();
    }
}

void FarEnd::handle(const Event& e)
{
    if (e.kind == SIPX_CALLSTATE_INCOMING) {
        Call c;
        c.number = ++counter_;
        c.sipUser = sipUserOf(e.from);
        c.dialled = sipUserOf(e.to);
        const std::string n = std::to_string(c.number);
        say("call " + n + " incoming from " + c.sipUser + " to " + c.dialled);
        if (e.refused) {
            say("call " + n + " busy");
        } else {
            say("call " + n + " ringing");
            if (c.dialled != options_.silentNumber) {
                std::lock_guard lock(mutex_);
                timers_.push_back({Clock::now() + options_.ringTime, e.call, true});
            }
        }
        calls_[e.call] = std::move(c);
        return;
    }
    auto it = calls_.find(e.call);
    if (it == calls_.end())
        return;
    Call& c = it->second;
    const std::string n = std::to_string(c.number);
    if (e.kind == 0) {
        say("call " + n + " dtmf " + std::string(1, e.digit));
    } else if (e.kind == SIPX_CALLSTATE_CONNECTED) {
        c.answered = true;
        c.answeredAt = Clock::now();
        say("call " + n + " answered");
        if (c.dialled == options_.hangUpNumber) {
            std::lock_guard lock(mutex_);
            timers_.push_back({Clock::now() + options_.hangUpAfter, e.call, false});
        }
    } else if (e.kind == SIPX_CALLSTATE_DISCONNECTED) {
        {
            std::lock_guard lock(mutex_);
            std::erase_if(timers_, [&](const Timer& t) { return t.call == e.call; });
        }
        // Every started second counts.
        const auto ms = c.answered ? std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - c.answeredAt)
                                   : std::chrono::milliseconds(0);
        const int seconds = static_cast<int>((ms.count() + 999) / 1000);
        say("call " + n + " ended " + std::to_string(seconds));
        if (c.answered)
            report(c, seconds);
        SIPX_CALL h = e.call;
        sipxCallDestroy(&h);
        calls_.erase(it);
    }
}

void FarEnd::fire(const Timer& t)
{
    auto it = calls_.find(t.call);
    if (it == calls_.end())
        return;
    if (t.answer) {
        sipxCallAnswer(t.call);  // fails when the caller gave up meanwhile
    } else {
        say("call " + std::to_string(it->second.number) + " hangup");
        SIPX_CALL h = t.call;
        sipxCallDestroy(&h);
    }
}

void FarEnd::report(const Call& c, int seconds)
{
    const std::string n = std::to_string(c.number);
    if (options_.webBase.empty())
        return;
    http::Options o;
    o.connectTimeout = std::chrono::seconds(2);
    o.totalTimeout = std::chrono::seconds(3);
    const auto reply = http::getFirstLine(options_.webBase + "/callend?sipuser=" + service::percentEncode(c.sipUser) +
                                              "&number=" + service::percentEncode(c.dialled) +
                                              "&seconds=" + std::to_string(seconds),
                                          o);
    if (reply.ok && reply.status == 200 && reply.line.rfind("ok!", 0) == 0 && reply.line.find('@') != std::string::npos)
        say("call " + n + " charged " + reply.line.substr(3, reply.line.find('@') - 3));
    else
        say("call " + n + " charge failed");
}

void FarEnd::say(const std::string& line)
{
    if (log_) {
        log_ << line << '\n';
        log_.flush();
    }
    if (output_)
        output_(line);
}

} // namespace velkor::local
