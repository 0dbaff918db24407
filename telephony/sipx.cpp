#include "telephony/sipx_api.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <string>

// The engine linked into the executable (the tests and tools link it in); the
// program itself has none and loads the engine's module instead, so that its
// start-up does not wait for the engine's libraries.
extern "C" __attribute__((weak)) velkor::tel::SipxApi* velkor_linked_engine();

namespace velkor::tel {
namespace {
std::atomic<SipxApi*> g_api{nullptr};

// Stands in for an engine that could not be loaded: every call fails, so the
// program reports that it could not start its telephony.
class UnavailableEngine final : public SipxApi {
public:
    SIPX_RESULT sipxInitialize(SIPX_INST*, int, int, int, int, int, const char*, const char*, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxUnInitialize(SIPX_INST, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxConfigSetUserAgentName(SIPX_INST, const char*, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxConfigEnableRport(SIPX_INST, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxConfigKeepAliveAdd(SIPX_INST, int, int, const char*, int, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxConfigSetAudioCodecPreferences(SIPX_INST, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxConfigSetOutboundDTMFMode(SIPX_INST, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxEventListenerAdd(SIPX_INST, SIPX_EVENT_CALLBACK, void*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxEventListenerRemove(SIPX_INST, SIPX_EVENT_CALLBACK, void*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxLineAdd(SIPX_INST, const char*, SIPX_LINE*, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxLineAddCredential(SIPX_LINE, const char*, const char*, const char*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxLineRegister(SIPX_LINE, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxCallCreate(SIPX_INST, SIPX_LINE, SIPX_CALL*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxCallConnect(SIPX_CALL, const char*, int, const void*, int, const SIPX_CALL_OPTIONS*, const char*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxCallHold(SIPX_CALL, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxCallDestroy(SIPX_CALL*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxCallStartTone(SIPX_CALL, int, int, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxCallStopTone(SIPX_CALL) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxCallAudioRecordFileStart(SIPX_CALL, const char*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxCallAudioRecordFileStop(SIPX_CALL) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxConferenceCreate(SIPX_INST, SIPX_CONF*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxConferenceHold(SIPX_CONF, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxConferenceUnhold(SIPX_CONF) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxConferenceAdd(SIPX_CONF, SIPX_LINE, const char*, SIPX_CALL*, int, const void*, const void*, int, const SIPX_CALL_OPTIONS*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxConferenceDestroy(SIPX_CONF) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioSetInputVolume(SIPX_INST, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioMuteInput(SIPX_INST, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioMuteOutput(SIPX_INST, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioSetAGCMode(SIPX_INST, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioSetNoiseReductionMode(SIPX_INST, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioSetAECMode(SIPX_INST, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioSetInputDevice(SIPX_INST, const char*, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioSetOutputDevice(SIPX_INST, const char*, int) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioGetInputEnergy(SIPX_INST, int, double*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioGetOutputEnergy(SIPX_INST, int, double*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioGetNumInputDevices(SIPX_INST, int*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioGetNumOutputDevices(SIPX_INST, int*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioGetInputDeviceName(SIPX_INST, int, char*, size_t*) override { return SIPX_RESULT_FAILURE; }
    SIPX_RESULT sipxAudioGetOutputDeviceName(SIPX_INST, int, char*, size_t*) override { return SIPX_RESULT_FAILURE; }
};

// The engine's module: beside the program, in its library folder, or where
// the build put it.
SipxApi* loadEngineModule()
{
    std::string dir;
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        dir.assign(exe, static_cast<size_t>(n));
        dir.erase(dir.rfind('/') + 1);
    }
    std::string error;
    for (const std::string& path : {dir + "velkor-engine.so", dir + "../lib/velkor/velkor-engine.so",
                                    std::string(VELKOR_ENGINE_BUILD_PATH)}) {
        if (::access(path.c_str(), R_OK) != 0)
            continue;
        void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            error = ::dlerror();
            continue;
        }
        using ApiFn = SipxApi* (*)();
        if (auto api = reinterpret_cast<ApiFn>(::dlsym(h, "velkor_engine_api")))
            return api();
        error = path + ": no velkor_engine_api";
    }
    std::fprintf(stderr, "velkor: the telephony engine could not be loaded (%s)\n",
                 error.empty() ? "velkor-engine.so not found" : error.c_str());
    return nullptr;
}

SipxApi& defaultEngine()
{
    static SipxApi* const engine = velkor_linked_engine ? velkor_linked_engine() : loadEngineModule();
    static UnavailableEngine unavailable;
    return engine ? *engine : unavailable;
}
} // namespace

SipxApi& sipxApi()
{
    SipxApi* api = g_api.load(std::memory_order_acquire);
    return api ? *api : defaultEngine();
}

SipxApi* setSipxApi(SipxApi* api)
{
    return g_api.exchange(api, std::memory_order_acq_rel);
}

void preloadSipxEngine()
{
    defaultEngine();
}

namespace {
std::vector<std::string> deviceNames(SIPX_INST instance, bool input)
{
    std::vector<std::string> names;
    int count = 0;
    const SIPX_RESULT r = input ? sipxAudioGetNumInputDevices(instance, &count)
                                : sipxAudioGetNumOutputDevices(instance, &count);
    if (r != SIPX_RESULT_SUCCESS)
        return names;
    for (int i = 0; i < count; ++i) {
        std::string buf(64, '\0');
        for (;;) {
            size_t size = buf.size();
            const SIPX_RESULT n = input ? sipxAudioGetInputDeviceName(instance, i, buf.data(), &size)
                                        : sipxAudioGetOutputDeviceName(instance, i, buf.data(), &size);
            if (n == SIPX_RESULT_BUFFER_TOO_SMALL && size > buf.size()) {
                buf.assign(size, '\0');
                continue;
            }
            if (n == SIPX_RESULT_SUCCESS)
                names.emplace_back(buf.c_str());
            break;
        }
    }
    return names;
}
} // namespace

std::vector<std::string> sipxInputDeviceNames(SIPX_INST instance)
{
    return deviceNames(instance, true);
}

std::vector<std::string> sipxOutputDeviceNames(SIPX_INST instance)
{
    return deviceNames(instance, false);
}

} // namespace velkor::tel

extern "C" {

SIPX_RESULT sipxInitialize(SIPX_INST* instance, int sipUdpPort, int sipTcpPort, int sipTlsPort, int rtpPortStart, int maxConnections, const char* identity, const char* bindAddress, int sequentialPorts)
{
    return velkor::tel::sipxApi().sipxInitialize(instance, sipUdpPort, sipTcpPort, sipTlsPort, rtpPortStart, maxConnections, identity, bindAddress, sequentialPorts);
}

SIPX_RESULT sipxUnInitialize(SIPX_INST instance, int force)
{
    return velkor::tel::sipxApi().sipxUnInitialize(instance, force);
}

SIPX_RESULT sipxConfigSetUserAgentName(SIPX_INST instance, const char* name, int includePlatform)
{
    return velkor::tel::sipxApi().sipxConfigSetUserAgentName(instance, name, includePlatform);
}

SIPX_RESULT sipxConfigEnableRport(SIPX_INST instance, int enable)
{
    return velkor::tel::sipxApi().sipxConfigEnableRport(instance, enable);
}

SIPX_RESULT sipxConfigKeepAliveAdd(SIPX_INST instance, int contactId, int type, const char* host, int port, int intervalSecs)
{
    return velkor::tel::sipxApi().sipxConfigKeepAliveAdd(instance, contactId, type, host, port, intervalSecs);
}

SIPX_RESULT sipxConfigSetAudioCodecPreferences(SIPX_INST instance, int bandwidth)
{
    return velkor::tel::sipxApi().sipxConfigSetAudioCodecPreferences(instance, bandwidth);
}

SIPX_RESULT sipxConfigSetOutboundDTMFMode(SIPX_INST instance, int mode)
{
    return velkor::tel::sipxApi().sipxConfigSetOutboundDTMFMode(instance, mode);
}

SIPX_RESULT sipxEventListenerAdd(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData)
{
    return velkor::tel::sipxApi().sipxEventListenerAdd(instance, listener, userData);
}

SIPX_RESULT sipxEventListenerRemove(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData)
{
    return velkor::tel::sipxApi().sipxEventListenerRemove(instance, listener, userData);
}

SIPX_RESULT sipxLineAdd(SIPX_INST instance, const char* identity, SIPX_LINE* line, int contactId)
{
    return velkor::tel::sipxApi().sipxLineAdd(instance, identity, line, contactId);
}

SIPX_RESULT sipxLineAddCredential(SIPX_LINE line, const char* user, const char* password, const char* realm)
{
    return velkor::tel::sipxApi().sipxLineAddCredential(line, user, password, realm);
}

SIPX_RESULT sipxLineRegister(SIPX_LINE line, int doRegister)
{
    return velkor::tel::sipxApi().sipxLineRegister(line, doRegister);
}

SIPX_RESULT sipxCallCreate(SIPX_INST instance, SIPX_LINE line, SIPX_CALL* call)
{
    return velkor::tel::sipxApi().sipxCallCreate(instance, line, call);
}

SIPX_RESULT sipxCallConnect(SIPX_CALL call, const char* address, int contactId, const void* display, int takeFocus, const SIPX_CALL_OPTIONS* options, const char* callId)
{
    return velkor::tel::sipxApi().sipxCallConnect(call, address, contactId, display, takeFocus, options, callId);
}

SIPX_RESULT sipxCallHold(SIPX_CALL call, int stopRemoteAudio)
{
    return velkor::tel::sipxApi().sipxCallHold(call, stopRemoteAudio);
}

SIPX_RESULT sipxCallDestroy(SIPX_CALL* call)
{
    return velkor::tel::sipxApi().sipxCallDestroy(call);
}

SIPX_RESULT sipxCallStartTone(SIPX_CALL call, int tone, int local, int remote)
{
    return velkor::tel::sipxApi().sipxCallStartTone(call, tone, local, remote);
}

SIPX_RESULT sipxCallStopTone(SIPX_CALL call)
{
    return velkor::tel::sipxApi().sipxCallStopTone(call);
}

SIPX_RESULT sipxCallAudioRecordFileStart(SIPX_CALL call, const char* path)
{
    return velkor::tel::sipxApi().sipxCallAudioRecordFileStart(call, path);
}

SIPX_RESULT sipxCallAudioRecordFileStop(SIPX_CALL call)
{
    return velkor::tel::sipxApi().sipxCallAudioRecordFileStop(call);
}

SIPX_RESULT sipxConferenceCreate(SIPX_INST instance, SIPX_CONF* conference)
{
    return velkor::tel::sipxApi().sipxConferenceCreate(instance, conference);
}

SIPX_RESULT sipxConferenceHold(SIPX_CONF conference, int bridging)
{
    return velkor::tel::sipxApi().sipxConferenceHold(conference, bridging);
}

SIPX_RESULT sipxConferenceUnhold(SIPX_CONF conference)
{
    return velkor::tel::sipxApi().sipxConferenceUnhold(conference);
}

SIPX_RESULT sipxConferenceAdd(SIPX_CONF conference, SIPX_LINE line, const char* address, SIPX_CALL* call, int takeFocus, const void* display, const void* security, int sendLocation, const SIPX_CALL_OPTIONS* options)
{
    return velkor::tel::sipxApi().sipxConferenceAdd(conference, line, address, call, takeFocus, display, security, sendLocation, options);
}

SIPX_RESULT sipxConferenceDestroy(SIPX_CONF conference)
{
    return velkor::tel::sipxApi().sipxConferenceDestroy(conference);
}

SIPX_RESULT sipxAudioSetInputVolume(SIPX_INST instance, int level)
{
    return velkor::tel::sipxApi().sipxAudioSetInputVolume(instance, level);
}

SIPX_RESULT sipxAudioMuteInput(SIPX_INST instance, int mute)
{
    return velkor::tel::sipxApi().sipxAudioMuteInput(instance, mute);
}

SIPX_RESULT sipxAudioMuteOutput(SIPX_INST instance, int mute)
{
    return velkor::tel::sipxApi().sipxAudioMuteOutput(instance, mute);
}

SIPX_RESULT sipxAudioSetAGCMode(SIPX_INST instance, int mode)
{
    return velkor::tel::sipxApi().sipxAudioSetAGCMode(instance, mode);
}

SIPX_RESULT sipxAudioSetNoiseReductionMode(SIPX_INST instance, int mode)
{
    return velkor::tel::sipxApi().sipxAudioSetNoiseReductionMode(instance, mode);
}

SIPX_RESULT sipxAudioSetAECMode(SIPX_INST instance, int mode)
{
    return velkor::tel::sipxApi().sipxAudioSetAECMode(instance, mode);
}

SIPX_RESULT sipxAudioSetInputDevice(SIPX_INST instance, const char* name, int flags)
{
    return velkor::tel::sipxApi().sipxAudioSetInputDevice(instance, name, flags);
}

SIPX_RESULT sipxAudioSetOutputDevice(SIPX_INST instance, const char* name, int flags)
{
    return velkor::tel::sipxApi().sipxAudioSetOutputDevice(instance, name, flags);
}

SIPX_RESULT sipxAudioGetInputEnergy(SIPX_INST instance, int channel, double* energy)
{
    return velkor::tel::sipxApi().sipxAudioGetInputEnergy(instance, channel, energy);
}

SIPX_RESULT sipxAudioGetOutputEnergy(SIPX_INST instance, int channel, double* energy)
{
    return velkor::tel::sipxApi().sipxAudioGetOutputEnergy(instance, channel, energy);
}

SIPX_RESULT sipxAudioGetNumInputDevices(SIPX_INST instance, int* count)
{
    return velkor::tel::sipxApi().sipxAudioGetNumInputDevices(instance, count);
}

SIPX_RESULT sipxAudioGetNumOutputDevices(SIPX_INST instance, int* count)
{
    return velkor::tel::sipxApi().sipxAudioGetNumOutputDevices(instance, count);
}

SIPX_RESULT sipxAudioGetInputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size)
{
    return velkor::tel::sipxApi().sipxAudioGetInputDeviceName(instance, index, buffer, size);
}

SIPX_RESULT sipxAudioGetOutputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size)
{
    return velkor::tel::sipxApi().sipxAudioGetOutputDeviceName(instance, index, buffer, size);
}

SIPX_RESULT sipxCallAnswer(SIPX_CALL call)
{
    return velkor::tel::sipxApi().sipxCallAnswer(call);
}

SIPX_RESULT sipxCallReject(SIPX_CALL call, int statusCode)
{
    return velkor::tel::sipxApi().sipxCallReject(call, statusCode);
}

SIPX_RESULT sipxCallGetRemoteID(SIPX_CALL call, char* id, size_t maxLength)
{
    return velkor::tel::sipxApi().sipxCallGetRemoteID(call, id, maxLength);
}

SIPX_RESULT sipxCallGetLocalID(SIPX_CALL call, char* id, size_t maxLength)
{
    return velkor::tel::sipxApi().sipxCallGetLocalID(call, id, maxLength);
}
} // extern "C"
