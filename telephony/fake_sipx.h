// A fake sipx implementation for window and session tests. It records every
// call with its arguments, hands out handles, returns scripted results, and
// fires events on a thread of its own, with the engine's event records, the
// way the engine delivers them.
//
//   velkor::tel::FakeSipx fake;
//   velkor::tel::ScopedSipxApi use(fake);
//   ... code under test calls sipx* ...
//   EXPECT_EQ(fake.callTexts()[0], "sipxInitialize(out, 14500, -1, -1, 8000, 64, \"sipx\", \"0.0.0.0\", 0)");
//   fake.fireCallEvent(call, SIPX_CALLSTATE_CONNECTED);
#pragma once

#include "telephony/sipx_api.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velkor::tel {

class FakeSipx final : public SipxApi {
public:
    // One recorded call. Arguments as text: integers in decimal, strings in
    // double quotes (their bytes as given), null pointers "null", other
    // pointers "ptr", out parameters "out", in-out handles "&" + the handle
    // (sipxCallDestroy), the options record "{24,1,1,1,1,0}".
    struct Call {
        std::string name;
        std::vector<std::string> args;
        std::string text() const;  // name(arg, arg, ...)
    };

    FakeSipx();
    ~FakeSipx() override;

    std::vector<Call> calls() const;
    std::vector<std::string> callTexts() const;
    // The calls of one function, as text.
    std::vector<std::string> callTexts(const std::string& name) const;
    void clearCalls();

    // Every later call of the function returns result (default: success).
    void setResult(const std::string& function, SIPX_RESULT result);
    void setEnergies(double input, double output);
    void setDevices(std::vector<std::string> inputs, std::vector<std::string> outputs);

    // Events: delivered to every listener of the instance on the fake's event
    // thread; each returns once the listeners have returned.
    void fireCallEvent(SIPX_CALL call, int32_t code, int32_t cause = 0);
    void fireLineEvent(SIPX_LINE line, int32_t code, int32_t cause = 0);
    void fireText(const std::string& gbkText);
    // Any record of any category; the listeners' results in order.
    std::vector<bool> fireEvent(SIPX_EVENT_CATEGORY category, void* info);
    // Runs f on the event thread (and waits), for tests that need to act there.
    void runOnEventThread(const std::function<void()>& f);
    bool onEventThread() const;
    int listenerCount() const;

    // The handles handed out last (0 before any).
    SIPX_INST lastInstance() const;
    SIPX_LINE lastLine() const;
    SIPX_CALL lastCall() const;
    SIPX_CONF lastConference() const;

    // SipxApi
    SIPX_RESULT sipxInitialize(SIPX_INST* instance, int sipUdpPort, int sipTcpPort, int sipTlsPort, int rtpPortStart,
                               int maxConnections, const char* identity, const char* bindAddress,
                               int sequentialPorts) override;
    SIPX_RESULT sipxUnInitialize(SIPX_INST instance, int force) override;
    SIPX_RESULT sipxConfigSetUserAgentName(SIPX_INST instance, const char* name, int includePlatform) override;
    SIPX_RESULT sipxConfigEnableRport(SIPX_INST instance, int enable) override;
    SIPX_RESULT sipxConfigKeepAliveAdd(SIPX_INST instance, int contactId, int type, const char* host, int port,
                                       int intervalSecs) override;
    SIPX_RESULT sipxConfigSetAudioCodecPreferences(SIPX_INST instance, int bandwidth) override;
    SIPX_RESULT sipxConfigSetOutboundDTMFMode(SIPX_INST instance, int mode) override;
    SIPX_RESULT sipxEventListenerAdd(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData) override;
    SIPX_RESULT sipxEventListenerRemove(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData) override;
    SIPX_RESULT sipxLineAdd(SIPX_INST instance, const char* identity, SIPX_LINE* line, int contactId) override;
    SIPX_RESULT sipxLineAddCredential(SIPX_LINE line, const char* user, const char* password,
                                      const char* realm) override;
    SIPX_RESULT sipxLineRegister(SIPX_LINE line, int doRegister) override;
    SIPX_RESULT sipxCallCreate(SIPX_INST instance, SIPX_LINE line, SIPX_CALL* call) override;
    SIPX_RESULT sipxCallConnect(SIPX_CALL call, const char* address, int contactId, const void* display, int takeFocus,
                                const SIPX_CALL_OPTIONS* options, const char* callId) override;
    SIPX_RESULT sipxCallHold(SIPX_CALL call, int stopRemoteAudio) override;
    SIPX_RESULT sipxCallDestroy(SIPX_CALL* call) override;
    SIPX_RESULT sipxCallStartTone(SIPX_CALL call, int tone, int local, int remote) override;
    SIPX_RESULT sipxCallStopTone(SIPX_CALL call) override;
    SIPX_RESULT sipxCallAudioRecordFileStart(SIPX_CALL call, const char* path) override;
    SIPX_RESULT sipxCallAudioRecordFileStop(SIPX_CALL call) override;
    SIPX_RESULT sipxConferenceCreate(SIPX_INST instance, SIPX_CONF* conference) override;
    SIPX_RESULT sipxConferenceHold(SIPX_CONF conference, int bridging) override;
    SIPX_RESULT sipxConferenceUnhold(SIPX_CONF conference) override;
    SIPX_RESULT sipxConferenceAdd(SIPX_CONF conference, SIPX_LINE line, const char* address, SIPX_CALL* call,
                                  int takeFocus, const void* display, const void* security, int sendLocation,
                                  const SIPX_CALL_OPTIONS* options) override;
    SIPX_RESULT sipxConferenceDestroy(SIPX_CONF conference) override;
    SIPX_RESULT sipxAudioSetInputVolume(SIPX_INST instance, int level) override;
    SIPX_RESULT sipxAudioMuteInput(SIPX_INST instance, int mute) override;
    SIPX_RESULT sipxAudioMuteOutput(SIPX_INST instance, int mute) override;
    SIPX_RESULT sipxAudioSetAGCMode(SIPX_INST instance, int mode) override;
    SIPX_RESULT sipxAudioSetNoiseReductionMode(SIPX_INST instance, int mode) override;
    SIPX_RESULT sipxAudioSetAECMode(SIPX_INST instance, int mode) override;
    SIPX_RESULT sipxAudioSetInputDevice(SIPX_INST instance, const char* name, int flags) override;
    SIPX_RESULT sipxAudioSetOutputDevice(SIPX_INST instance, const char* name, int flags) override;
    SIPX_RESULT sipxAudioGetInputEnergy(SIPX_INST instance, int channel, double* energy) override;
    SIPX_RESULT sipxAudioGetOutputEnergy(SIPX_INST instance, int channel, double* energy) override;
    SIPX_RESULT sipxAudioGetNumInputDevices(SIPX_INST instance, int* count) override;
    SIPX_RESULT sipxAudioGetNumOutputDevices(SIPX_INST instance, int* count) override;
    SIPX_RESULT sipxAudioGetInputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size) override;
    SIPX_RESULT sipxAudioGetOutputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size) override;

private:
    struct Listener {
        SIPX_EVENT_CALLBACK fn;
        void* user;
    };
    SIPX_RESULT record(const char* name, std::vector<std::string> args);
    uint32_t newHandle();
    std::vector<bool> deliver(SIPX_EVENT_CATEGORY category, void* info);
    SIPX_RESULT deviceName(const std::vector<std::string>& names, int index, char* buffer, size_t* size);

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::map<std::string, SIPX_RESULT> results_;
    std::vector<Listener> listeners_;
    uint32_t nextHandle_ = 1;
    SIPX_INST lastInstance_ = 0;
    SIPX_LINE lastLine_ = 0;
    SIPX_CALL lastCall_ = 0;
    SIPX_CONF lastConference_ = 0;
    double inputEnergy_ = 0, outputEnergy_ = 0;
    std::vector<std::string> inputs_{"Null: Null sound card"}, outputs_{"Null: Null sound card"};

    // The event thread and its queue; deliveryMutex_ is held while listeners
    // run, so removing a listener waits for a delivery in progress.
    std::mutex deliveryMutex_;
    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    std::deque<std::function<void()>> queue_;
    bool stop_ = false;
    std::thread::id eventThreadId_;
    std::thread thread_;
};

} // namespace velkor::tel
