// The implementation behind the sipx* functions, chosen at run time: the
// liblinphone engine (linked in, or loaded from its module) unless a test
// installs another (the fake of telephony/fake_sipx.h) with ScopedSipxApi.
#pragma once

#include "telephony/sipx.h"

#include <string>
#include <vector>

namespace velkor::tel {

class SipxApi {
public:
    virtual ~SipxApi() = default;
    virtual SIPX_RESULT sipxInitialize(SIPX_INST* instance, int sipUdpPort, int sipTcpPort, int sipTlsPort, int rtpPortStart, int maxConnections, const char* identity, const char* bindAddress, int sequentialPorts) = 0;
    virtual SIPX_RESULT sipxUnInitialize(SIPX_INST instance, int force) = 0;
    virtual SIPX_RESULT sipxConfigSetUserAgentName(SIPX_INST instance, const char* name, int includePlatform) = 0;
    virtual SIPX_RESULT sipxConfigEnableRport(SIPX_INST instance, int enable) = 0;
    virtual SIPX_RESULT sipxConfigKeepAliveAdd(SIPX_INST instance, int contactId, int type, const char* host, int port, int intervalSecs) = 0;
    virtual SIPX_RESULT sipxConfigSetAudioCodecPreferences(SIPX_INST instance, int bandwidth) = 0;
    virtual SIPX_RESULT sipxConfigSetOutboundDTMFMode(SIPX_INST instance, int mode) = 0;
    virtual SIPX_RESULT sipxEventListenerAdd(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData) = 0;
    virtual SIPX_RESULT sipxEventListenerRemove(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData) = 0;
    virtual SIPX_RESULT sipxLineAdd(SIPX_INST instance, const char* identity, SIPX_LINE* line, int contactId) = 0;
    virtual SIPX_RESULT sipxLineAddCredential(SIPX_LINE line, const char* user, const char* password, const char* realm) = 0;
    virtual SIPX_RESULT sipxLineRegister(SIPX_LINE line, int doRegister) = 0;
    virtual SIPX_RESULT sipxCallCreate(SIPX_INST instance, SIPX_LINE line, SIPX_CALL* call) = 0;
    virtual SIPX_RESULT sipxCallConnect(SIPX_CALL call, const char* address, int contactId, const void* display, int takeFocus, const SIPX_CALL_OPTIONS* options, const char* callId) = 0;
    virtual SIPX_RESULT sipxCallHold(SIPX_CALL call, int stopRemoteAudio) = 0;
    virtual SIPX_RESULT sipxCallDestroy(SIPX_CALL* call) = 0;
    virtual SIPX_RESULT sipxCallStartTone(SIPX_CALL call, int tone, int local, int remote) = 0;
    virtual SIPX_RESULT sipxCallStopTone(SIPX_CALL call) = 0;
    virtual SIPX_RESULT sipxCallAudioRecordFileStart(SIPX_CALL call, const char* path) = 0;
    virtual SIPX_RESULT sipxCallAudioRecordFileStop(SIPX_CALL call) = 0;
    virtual SIPX_RESULT sipxConferenceCreate(SIPX_INST instance, SIPX_CONF* conference) = 0;
    virtual SIPX_RESULT sipxConferenceHold(SIPX_CONF conference, int bridging) = 0;
    virtual SIPX_RESULT sipxConferenceUnhold(SIPX_CONF conference) = 0;
    virtual SIPX_RESULT sipxConferenceAdd(SIPX_CONF conference, SIPX_LINE line, const char* address, SIPX_CALL* call, int takeFocus, const void* display, const void* security, int sendLocation, const SIPX_CALL_OPTIONS* options) = 0;
    virtual SIPX_RESULT sipxConferenceDestroy(SIPX_CONF conference) = 0;
    virtual SIPX_RESULT sipxAudioSetInputVolume(SIPX_INST instance, int level) = 0;
    virtual SIPX_RESULT sipxAudioMuteInput(SIPX_INST instance, int mute) = 0;
    virtual SIPX_RESULT sipxAudioMuteOutput(SIPX_INST instance, int mute) = 0;
    virtual SIPX_RESULT sipxAudioSetAGCMode(SIPX_INST instance, int mode) = 0;
    virtual SIPX_RESULT sipxAudioSetNoiseReductionMode(SIPX_INST instance, int mode) = 0;
    virtual SIPX_RESULT sipxAudioSetAECMode(SIPX_INST instance, int mode) = 0;
    virtual SIPX_RESULT sipxAudioSetInputDevice(SIPX_INST instance, const char* name, int flags) = 0;
    virtual SIPX_RESULT sipxAudioSetOutputDevice(SIPX_INST instance, const char* name, int flags) = 0;
    virtual SIPX_RESULT sipxAudioGetInputEnergy(SIPX_INST instance, int channel, double* energy) = 0;
    virtual SIPX_RESULT sipxAudioGetOutputEnergy(SIPX_INST instance, int channel, double* energy) = 0;
    virtual SIPX_RESULT sipxAudioGetNumInputDevices(SIPX_INST instance, int* count) = 0;
    virtual SIPX_RESULT sipxAudioGetNumOutputDevices(SIPX_INST instance, int* count) = 0;
    virtual SIPX_RESULT sipxAudioGetInputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size) = 0;
    virtual SIPX_RESULT sipxAudioGetOutputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size) = 0;
    // Answering side (the local service's far end); implementations that only
    // place calls keep these defaults.
    virtual SIPX_RESULT sipxCallAnswer(SIPX_CALL) { return SIPX_RESULT_FAILURE; }
    virtual SIPX_RESULT sipxCallReject(SIPX_CALL, int) { return SIPX_RESULT_FAILURE; }
    virtual SIPX_RESULT sipxCallGetRemoteID(SIPX_CALL, char*, size_t) { return SIPX_RESULT_FAILURE; }
    virtual SIPX_RESULT sipxCallGetLocalID(SIPX_CALL, char*, size_t) { return SIPX_RESULT_FAILURE; }
};

// The implementation in force (the liblinphone engine by default: the one
// linked in, else the one of the engine's module, loaded at the first call).
SipxApi& sipxApi();

// Loads the default engine now (the program does it on a worker thread while
// the login window waits for the user). Safe from any thread.
void preloadSipxEngine();

// Installs api (nullptr: back to the default) and returns the previous one.
// Not meant to be switched while another thread is inside a sipx* call.
SipxApi* setSipxApi(SipxApi* api);

// Installs an implementation for the lifetime of a scope (a test).
class ScopedSipxApi {
public:
    explicit ScopedSipxApi(SipxApi& api) : previous_(setSipxApi(&api)) {}
    ~ScopedSipxApi() { setSipxApi(previous_); }
    ScopedSipxApi(const ScopedSipxApi&) = delete;
    ScopedSipxApi& operator=(const ScopedSipxApi&) = delete;

private:
    SipxApi* previous_;
};

// The device names of the instance, in order (empty on failure).
std::vector<std::string> sipxInputDeviceNames(SIPX_INST instance);
std::vector<std::string> sipxOutputDeviceNames(SIPX_INST instance);

} // namespace velkor::tel
