#include "telephony/fake_sipx.h"

#include <algorithm>
#include <cstring>
#include <future>

namespace velkor::tel {
namespace {

std::string str(const char* s)
{
    return s ? "\"" + std::string(s) + "\"" : "null";
}

std::string ptr(const void* p)
{
    return p ? "ptr" : "null";
}

std::string out(const void* p)
{
    return p ? "out" : "null";
}

std::string options(const SIPX_CALL_OPTIONS* o)
{
    if (!o)
        return "null";
    return "{" + std::to_string(o->size) + "," + std::to_string(o->sendLocation) + "," +
           std::to_string(o->contactType) + "," + std::to_string(o->takeFocus) + "," + std::to_string(o->bandwidth) +
           "," + std::to_string(o->reserved) + "}";
}

std::string num(long long v)
{
    return std::to_string(v);
}

} // namespace

std::string FakeSipx::Call::text() const
{
    std::string s = name + "(";
    for (size_t i = 0; i < args.size(); ++i)
        s += (i ? ", " : "") + args[i];
    return s + ")";
}

FakeSipx::FakeSipx()
{
    thread_ = std::thread([this] {
        std::unique_lock lock(queueMutex_);
        for (;;) {
            queueCv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            auto task = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    });
}

FakeSipx::~FakeSipx()
{
    {
        std::lock_guard lock(queueMutex_);
        stop_ = true;
    }
    queueCv_.notify_all();
    thread_.join();
}

std::vector<FakeSipx::Call> FakeSipx::calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> FakeSipx::callTexts() const
{
    std::vector<std::string> t;
    for (const auto& c : calls())
        t.push_back(c.text());
    return t;
}

std::vector<std::string> FakeSipx::callTexts(const std::string& name) const
{
    std::vector<std::string> t;
    for (const auto& c : calls())
        if (c.name == name)
            t.push_back(c.text());
    return t;
}

void FakeSipx::clearCalls()
{
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void FakeSipx::setResult(const std::string& function, SIPX_RESULT result)
{
    std::lock_guard lock(mutex_);
    results_[function] = result;
}

void FakeSipx::setEnergies(double input, double output)
{
    std::lock_guard lock(mutex_);
    inputEnergy_ = input;
    outputEnergy_ = output;
}

void FakeSipx::setDevices(std::vector<std::string> inputs, std::vector<std::string> outputs)
{
    std::lock_guard lock(mutex_);
    inputs_ = std::move(inputs);
    outputs_ = std::move(outputs);
}

SIPX_INST FakeSipx::lastInstance() const { std::lock_guard l(mutex_); return lastInstance_; }
SIPX_LINE FakeSipx::lastLine() const { std::lock_guard l(mutex_); return lastLine_; }
SIPX_CALL FakeSipx::lastCall() const { std::lock_guard l(mutex_); return lastCall_; }
SIPX_CONF FakeSipx::lastConference() const { std::lock_guard l(mutex_); return lastConference_; }

int FakeSipx::listenerCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(listeners_.size());
}

bool FakeSipx::onEventThread() const
{
    return std::this_thread::get_id() == thread_.get_id();
}

void FakeSipx::runOnEventThread(const std::function<void()>& f)
{
    if (onEventThread()) {
        f();
        return;
    }
    std::promise<void> done;
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back([&] {
            f();
            done.set_value();
        });
    }
    queueCv_.notify_all();
    done.get_future().wait();
}

std::vector<bool> FakeSipx::fireEvent(SIPX_EVENT_CATEGORY category, void* info)
{
    return deliver(category, info);
}

std::vector<bool> FakeSipx::deliver(SIPX_EVENT_CATEGORY category, void* info)
{
    std::vector<bool> results;
    runOnEventThread([&] {
        std::lock_guard delivery(deliveryMutex_);
        std::vector<Listener> copy;
        {
            std::lock_guard lock(mutex_);
            copy = listeners_;
        }
        for (const auto& l : copy)
            results.push_back(l.fn(category, info, l.user));
    });
    return results;
}

void FakeSipx::fireCallEvent(SIPX_CALL call, int32_t code, int32_t cause)
{
    SIPX_CALLSTATE_INFO info {};
    info.size = sizeof info;
    info.call = call;
    info.line = lastLine();
    info.event = code;
    info.cause = cause;
    deliver(SIPX_EVENT_CALLSTATE, &info);
}

void FakeSipx::fireLineEvent(SIPX_LINE line, int32_t code, int32_t cause)
{
    SIPX_LINESTATE_INFO info {};
    info.size = sizeof info;
    info.line = line;
    info.event = code;
    info.cause = cause;
    deliver(SIPX_EVENT_LINESTATE, &info);
}

void FakeSipx::fireText(const std::string& gbkText)
{
    SIPX_TEXT_INFO info {};
    info.size = sizeof info;
    info.line = lastLine();
    info.length = static_cast<uint32_t>(gbkText.size());
    info.text = gbkText.c_str();
    deliver(SIPX_EVENT_TEXT, &info);
}

SIPX_RESULT FakeSipx::record(const char* name, std::vector<std::string> args)
{
    std::lock_guard lock(mutex_);
    calls_.push_back({name, std::move(args)});
    auto it = results_.find(name);
    return it == results_.end() ? SIPX_RESULT_SUCCESS : it->second;
}

uint32_t FakeSipx::newHandle()
{
    std::lock_guard lock(mutex_);
    return nextHandle_++;
}

SIPX_RESULT FakeSipx::sipxInitialize(SIPX_INST* instance, int sipUdpPort, int sipTcpPort, int sipTlsPort,
                                     int rtpPortStart, int maxConnections, const char* identity,
                                     const char* bindAddress, int sequentialPorts)
{
    const SIPX_RESULT r = record("sipxInitialize", {out(instance), num(sipUdpPort), num(sipTcpPort), num(sipTlsPort),
                                                    num(rtpPortStart), num(maxConnections), str(identity),
                                                    str(bindAddress), num(sequentialPorts)});
    if (r == SIPX_RESULT_SUCCESS && instance) {
        *instance = newHandle();
        std::lock_guard lock(mutex_);
        lastInstance_ = *instance;
    }
    return r;
}

SIPX_RESULT FakeSipx::sipxUnInitialize(SIPX_INST instance, int force)
{
    return record("sipxUnInitialize", {num(instance), num(force)});
}

SIPX_RESULT FakeSipx::sipxConfigSetUserAgentName(SIPX_INST instance, const char* name, int includePlatform)
{
    return record("sipxConfigSetUserAgentName", {num(instance), str(name), num(includePlatform)});
}

SIPX_RESULT FakeSipx::sipxConfigEnableRport(SIPX_INST instance, int enable)
{
    return record("sipxConfigEnableRport", {num(instance), num(enable)});
}

SIPX_RESULT FakeSipx::sipxConfigKeepAliveAdd(SIPX_INST instance, int contactId, int type, const char* host, int port,
                                             int intervalSecs)
{
    return record("sipxConfigKeepAliveAdd",
                  {num(instance), num(contactId), num(type), str(host), num(port), num(intervalSecs)});
}

SIPX_RESULT FakeSipx::sipxConfigSetAudioCodecPreferences(SIPX_INST instance, int bandwidth)
{
    return record("sipxConfigSetAudioCodecPreferences", {num(instance), num(bandwidth)});
}

SIPX_RESULT FakeSipx::sipxConfigSetOutboundDTMFMode(SIPX_INST instance, int mode)
{
    return record("sipxConfigSetOutboundDTMFMode", {num(instance), num(mode)});
}

SIPX_RESULT FakeSipx::sipxEventListenerAdd(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData)
{
    const SIPX_RESULT r = record("sipxEventListenerAdd", {num(instance), ptr(reinterpret_cast<const void*>(listener)),
                                                          ptr(userData)});
    if (r == SIPX_RESULT_SUCCESS && listener) {
        std::lock_guard lock(mutex_);
        listeners_.push_back({listener, userData});
    }
    return r;
}

SIPX_RESULT FakeSipx::sipxEventListenerRemove(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData)
{
    const SIPX_RESULT r = record("sipxEventListenerRemove",
                                 {num(instance), ptr(reinterpret_cast<const void*>(listener)), ptr(userData)});
    // Like the engine: once removed, the listener is not running and is not called again.
    std::unique_lock<std::mutex> delivery(deliveryMutex_, std::defer_lock);
    if (!onEventThread())
        delivery.lock();
    std::lock_guard lock(mutex_);
    auto it = std::find_if(listeners_.begin(), listeners_.end(), [&](const Listener& l) {
        return l.fn == listener && (userData == nullptr || l.user == userData);
    });
    if (it == listeners_.end())
        return r == SIPX_RESULT_SUCCESS ? SIPX_RESULT_FAILURE : r;
    listeners_.erase(it);
    return r;
}

SIPX_RESULT FakeSipx::sipxLineAdd(SIPX_INST instance, const char* identity, SIPX_LINE* line, int contactId)
{
    const SIPX_RESULT r = record("sipxLineAdd", {num(instance), str(identity), out(line), num(contactId)});
    if (r == SIPX_RESULT_SUCCESS && line) {
        *line = newHandle();
        std::lock_guard lock(mutex_);
        lastLine_ = *line;
    }
    return r;
}

SIPX_RESULT FakeSipx::sipxLineAddCredential(SIPX_LINE line, const char* user, const char* password, const char* realm)
{
    return record("sipxLineAddCredential", {num(line), str(user), str(password), str(realm)});
}

SIPX_RESULT FakeSipx::sipxLineRegister(SIPX_LINE line, int doRegister)
{
    return record("sipxLineRegister", {num(line), num(doRegister)});
}

SIPX_RESULT FakeSipx::sipxCallCreate(SIPX_INST instance, SIPX_LINE line, SIPX_CALL* call)
{
    const SIPX_RESULT r = record("sipxCallCreate", {num(instance), num(line), out(call)});
    if (r == SIPX_RESULT_SUCCESS && call) {
        *call = newHandle();
        std::lock_guard lock(mutex_);
        lastCall_ = *call;
    }
    return r;
}

SIPX_RESULT FakeSipx::sipxCallConnect(SIPX_CALL call, const char* address, int contactId, const void* display,
                                      int takeFocus, const SIPX_CALL_OPTIONS* opts, const char* callId)
{
    return record("sipxCallConnect",
                  {num(call), str(address), num(contactId), ptr(display), num(takeFocus), options(opts), str(callId)});
}

SIPX_RESULT FakeSipx::sipxCallHold(SIPX_CALL call, int stopRemoteAudio)
{
    return record("sipxCallHold", {num(call), num(stopRemoteAudio)});
}

SIPX_RESULT FakeSipx::sipxCallDestroy(SIPX_CALL* call)
{
    const SIPX_RESULT r = record("sipxCallDestroy", {call ? "&" + num(*call) : "null"});
    if (call)
        *call = 0;
    return r;
}

SIPX_RESULT FakeSipx::sipxCallStartTone(SIPX_CALL call, int tone, int local, int remote)
{
    return record("sipxCallStartTone", {num(call), num(tone), num(local), num(remote)});
}

SIPX_RESULT FakeSipx::sipxCallStopTone(SIPX_CALL call)
{
    return record("sipxCallStopTone", {num(call)});
}

SIPX_RESULT FakeSipx::sipxCallAudioRecordFileStart(SIPX_CALL call, const char* path)
{
    return record("sipxCallAudioRecordFileStart", {num(call), str(path)});
}

SIPX_RESULT FakeSipx::sipxCallAudioRecordFileStop(SIPX_CALL call)
{
    return record("sipxCallAudioRecordFileStop", {num(call)});
}

SIPX_RESULT FakeSipx::sipxConferenceCreate(SIPX_INST instance, SIPX_CONF* conference)
{
    const SIPX_RESULT r = record("sipxConferenceCreate", {num(instance), out(conference)});
    if (r == SIPX_RESULT_SUCCESS && conference) {
        *conference = newHandle();
        std::lock_guard lock(mutex_);
        lastConference_ = *conference;
    }
    return r;
}

SIPX_RESULT FakeSipx::sipxConferenceHold(SIPX_CONF conference, int bridging)
{
    return record("sipxConferenceHold", {num(conference), num(bridging)});
}

SIPX_RESULT FakeSipx::sipxConferenceUnhold(SIPX_CONF conference)
{
    return record("sipxConferenceUnhold", {num(conference)});
}

SIPX_RESULT FakeSipx::sipxConferenceAdd(SIPX_CONF conference, SIPX_LINE line, const char* address, SIPX_CALL* call,
                                        int takeFocus, const void* display, const void* security, int sendLocation,
                                        const SIPX_CALL_OPTIONS* opts)
{
    const SIPX_RESULT r = record("sipxConferenceAdd", {num(conference), num(line), str(address), out(call),
                                                       num(takeFocus), ptr(display), ptr(security),
                                                       num(sendLocation), options(opts)});
    if (r == SIPX_RESULT_SUCCESS && call) {
        *call = newHandle();
        std::lock_guard lock(mutex_);
        lastCall_ = *call;
    }
    return r;
}

SIPX_RESULT FakeSipx::sipxConferenceDestroy(SIPX_CONF conference)
{
    return record("sipxConferenceDestroy", {num(conference)});
}

SIPX_RESULT FakeSipx::sipxAudioSetInputVolume(SIPX_INST instance, int level)
{
    return record("sipxAudioSetInputVolume", {num(instance), num(level)});
}

SIPX_RESULT FakeSipx::sipxAudioMuteInput(SIPX_INST instance, int mute)
{
    return record("sipxAudioMuteInput", {num(instance), num(mute)});
}

SIPX_RESULT FakeSipx::sipxAudioMuteOutput(SIPX_INST instance, int mute)
{
    return record("sipxAudioMuteOutput", {num(instance), num(mute)});
}

SIPX_RESULT FakeSipx::sipxAudioSetAGCMode(SIPX_INST instance, int mode)
{
    return record("sipxAudioSetAGCMode", {num(instance), num(mode)});
}

SIPX_RESULT FakeSipx::sipxAudioSetNoiseReductionMode(SIPX_INST instance, int mode)
{
    return record("sipxAudioSetNoiseReductionMode", {num(instance), num(mode)});
}

SIPX_RESULT FakeSipx::sipxAudioSetAECMode(SIPX_INST instance, int mode)
{
    return record("sipxAudioSetAECMode", {num(instance), num(mode)});
}

SIPX_RESULT FakeSipx::sipxAudioSetInputDevice(SIPX_INST instance, const char* name, int flags)
{
    return record("sipxAudioSetInputDevice", {num(instance), str(name), num(flags)});
}

SIPX_RESULT FakeSipx::sipxAudioSetOutputDevice(SIPX_INST instance, const char* name, int flags)
{
    return record("sipxAudioSetOutputDevice", {num(instance), str(name), num(flags)});
}

SIPX_RESULT FakeSipx::sipxAudioGetInputEnergy(SIPX_INST instance, int channel, double* energy)
{
    const SIPX_RESULT r = record("sipxAudioGetInputEnergy", {num(instance), num(channel), out(energy)});
    if (r == SIPX_RESULT_SUCCESS && energy) {
        std::lock_guard lock(mutex_);
        *energy = inputEnergy_;
    }
    return r;
}

SIPX_RESULT FakeSipx::sipxAudioGetOutputEnergy(SIPX_INST instance, int channel, double* energy)
{
    const SIPX_RESULT r = record("sipxAudioGetOutputEnergy", {num(instance), num(channel), out(energy)});
    if (r == SIPX_RESULT_SUCCESS && energy) {
        std::lock_guard lock(mutex_);
        *energy = outputEnergy_;
    }
    return r;
}

SIPX_RESULT FakeSipx::sipxAudioGetNumInputDevices(SIPX_INST instance, int* count)
{
    const SIPX_RESULT r = record("sipxAudioGetNumInputDevices", {num(instance), out(count)});
    if (r == SIPX_RESULT_SUCCESS && count) {
        std::lock_guard lock(mutex_);
        *count = static_cast<int>(inputs_.size());
    }
    return r;
}

SIPX_RESULT FakeSipx::sipxAudioGetNumOutputDevices(SIPX_INST instance, int* count)
{
    const SIPX_RESULT r = record("sipxAudioGetNumOutputDevices", {num(instance), out(count)});
    if (r == SIPX_RESULT_SUCCESS && count) {
        std::lock_guard lock(mutex_);
        *count = static_cast<int>(outputs_.size());
    }
    return r;
}

SIPX_RESULT FakeSipx::deviceName(const std::vector<std::string>& names, int index, char* buffer, size_t* size)
{
    if (!size || index < 0 || static_cast<size_t>(index) >= names.size())
        return SIPX_RESULT_INVALID_ARGS;
    const std::string& n = names[static_cast<size_t>(index)];
    if (*size < n.size() + 1 || !buffer) {
        *size = n.size() + 1;
        return SIPX_RESULT_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, n.c_str(), n.size() + 1);
    *size = n.size() + 1;
    return SIPX_RESULT_SUCCESS;
}

SIPX_RESULT FakeSipx::sipxAudioGetInputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size)
{
    const SIPX_RESULT r = record("sipxAudioGetInputDeviceName", {num(instance), num(index), out(buffer), out(size)});
    if (r != SIPX_RESULT_SUCCESS)
        return r;
    std::lock_guard lock(mutex_);
    return deviceName(inputs_, index, buffer, size);
}

SIPX_RESULT FakeSipx::sipxAudioGetOutputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size)
{
    const SIPX_RESULT r = record("sipxAudioGetOutputDeviceName", {num(instance), num(index), out(buffer), out(size)});
    if (r != SIPX_RESULT_SUCCESS)
        return r;
    std::lock_guard lock(mutex_);
    return deviceName(outputs_, index, buffer, size);
}

} // namespace velkor::tel
