// The sipx* API over liblinphone: one engine thread per instance owns the
// core; every other thread reaches it through a queued, waited-on command.

#include "telephony/engine.h"

#include "platform/gbk.h"
#include "telephony/keep_alive.h"
#include "telephony/null_sound_card.h"
#include "telephony/udp_port.h"

#include <linphone/core.h>
#include <linphone/logging.h>
#include <linphone/api/c-account-params.h>
#include <linphone/api/c-account.h>
#include <linphone/api/c-audio-device.h>
#include <linphone/api/c-conference.h>

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace velkor::tel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kTonePause = std::chrono::milliseconds(150);  // between queued RFC 2833 tones
// The core is iterated at least this often during calls, and less often while
// idle: SIP arriving on the socket wakes the loop at once either way.
constexpr auto kIterateInterval = std::chrono::milliseconds(20);
constexpr auto kIdleIterateInterval = std::chrono::milliseconds(50);
// Longest wait of a shutdown for calls to end and the core to stop.
constexpr auto kShutdownWait = std::chrono::milliseconds(3000);
// Time for the SIP stack's deferred frees of released calls and conferences.
constexpr auto kDeferredFreeWait = std::chrono::milliseconds(50);

std::mutex g_settingsMutex;
EngineSettings g_settings;

std::string utf8(const char* gbkText)
{
    return gbkText ? gbk::toUtf8(gbkText).text : std::string();
}

std::string gbkOf(const char* utf8Text)
{
    return utf8Text ? gbk::fromUtf8(utf8Text).text : std::string();
}

// A path from the program: GBK, possibly written with '\' separators.
std::string localPath(const char* gbkPath)
{
    std::string p = utf8(gbkPath);  // after conversion no 0x5C is part of a character
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

// The recorder's header counts its own 44 bytes into the chunk sizes; set the
// RIFF and data sizes from what the file holds.
void fixWavSizes(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f)
        return;
    unsigned char h[44];
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    if (size >= 44 && std::fread(h, 1, 44, f) == 44 && std::memcmp(h, "RIFF", 4) == 0 &&
        std::memcmp(h + 8, "WAVE", 4) == 0 && std::memcmp(h + 36, "data", 4) == 0) {
        auto put = [&](long offset, uint32_t v) {
            const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                        static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
            std::fseek(f, offset, SEEK_SET);
            std::fwrite(b, 1, 4, f);
        };
        put(4, static_cast<uint32_t>(size - 8));
        put(40, static_cast<uint32_t>(size - 44));
    }
    std::fclose(f);
}

char toneChar(int tone)
{
    if (tone >= 0 && tone <= 9)
        return static_cast<char>('0' + tone);
    if (tone == 10)
        return '*';
    if (tone == 11)
        return '#';
    return 0;
}

class Instance;

// Handles of every kind share one counter; each names the instance that owns it.
std::mutex g_handleMutex;
std::map<uint32_t, std::shared_ptr<Instance>> g_owner;
uint32_t g_nextHandle = 1;

uint32_t newHandle(std::shared_ptr<Instance> owner)
{
    std::lock_guard lock(g_handleMutex);
    const uint32_t h = g_nextHandle++;
    if (g_nextHandle == 0)
        g_nextHandle = 1;
    g_owner[h] = std::move(owner);
    return h;
}

std::shared_ptr<Instance> ownerOf(uint32_t h)
{
    if (h == 0)
        return nullptr;
    std::lock_guard lock(g_handleMutex);
    auto it = g_owner.find(h);
    return it == g_owner.end() ? nullptr : it->second;
}

void releaseHandle(uint32_t h)
{
    std::lock_guard lock(g_handleMutex);
    g_owner.erase(h);
}

struct LineRec {
    SIPX_LINE handle = 0;
    std::string identity;          // UTF-8 (ASCII in practice)
    LinphoneAccount* account = nullptr;
};

struct CallRec {
    SIPX_CALL handle = 0;
    SIPX_LINE line = 0;
    LinphoneCall* call = nullptr;  // referenced while bound
    std::string tempRecordPath;
    std::string finalRecordPath;   // set by RecordFileStart
    bool recordWanted = false;     // start once the streams run
    bool recording = false;
    bool alertingSent = false;
    bool connectedSent = false;
    bool endedSent = false;
    bool destroyed = false;
    std::deque<char> tones;        // RFC 2833 tones waiting to be sent
    Clock::time_point lastTone{};
};

struct ConfRec {
    SIPX_CONF handle = 0;
    LinphoneConference* conference = nullptr;
    std::vector<SIPX_CALL> legs;  // the calls added to it
    bool terminating = false;     // released and asked to end
    bool ended = false;           // deleted (or failed to end) in the core
};

struct KeepAlive {
    std::string host;
    int port = 0;
    std::chrono::milliseconds interval{30000};
    Clock::time_point next{};
};

struct Listener {
    SIPX_EVENT_CALLBACK fn;
    void* user;
};

class Instance : public std::enable_shared_from_this<Instance> {
public:
    SIPX_INST handle = 0;

    // Starts the thread and the core; false when the core could not start.
    bool start(int udpPort, int rtpPort, int maxCalls, const std::string& bindAddress)
    {
        wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wakeFd_ < 0)
            return false;
        std::promise<bool> started;
        auto result = started.get_future();
        thread_ = std::thread([this, udpPort, rtpPort, maxCalls, bindAddress, &started] {
            threadId_ = std::this_thread::get_id();
            const bool ok = createCore(udpPort, rtpPort, maxCalls, bindAddress);
            started.set_value(ok);
            if (ok)
                loop();
            destroyCore();
        });
        const bool ok = result.get();
        if (!ok) {
            thread_.join();
            close(wakeFd_);
            wakeFd_ = -1;
        }
        return ok;
    }

    void shutdown()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake();
        if (thread_.joinable())
            thread_.join();
        if (wakeFd_ >= 0)
            close(wakeFd_);
        wakeFd_ = -1;
    }

    bool onEngineThread() const { return std::this_thread::get_id() == threadId_; }

    // Runs f on the engine thread and returns its result.
    SIPX_RESULT run(const std::function<SIPX_RESULT()>& f)
    {
        if (std::this_thread::get_id() == threadId_)
            return f();
        std::packaged_task<SIPX_RESULT()> task(f);
        auto result = task.get_future();
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return SIPX_RESULT_INVALID_HANDLE;
            commands_.emplace_back([&task] { task(); });
        }
        wake();
        return result.get();
    }

    // ---- commands (engine thread) ------------------------------------------------

    SIPX_RESULT setUserAgent(const std::string& name)
    {
        userAgent_ = name;
        linphone_core_set_user_agent(core_, name.c_str(), nullptr);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT addKeepAlive(const std::string& host, int port, int seconds)
    {
        KeepAlive k;
        k.host = host;
        k.port = port;
        const auto forced = settings_.keepAliveInterval;
        k.interval = forced.count() > 0 ? forced : std::chrono::milliseconds(seconds * 1000LL);
        k.next = Clock::now();
        keepAlives_.push_back(k);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT addListener(SIPX_EVENT_CALLBACK fn, void* user)
    {
        listeners_.push_back({fn, user});
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT removeListener(SIPX_EVENT_CALLBACK fn, void* user)
    {
        auto it = std::find_if(listeners_.begin(), listeners_.end(),
                               [&](const Listener& l) { return l.fn == fn && (user == nullptr || l.user == user); });
        if (it == listeners_.end())
            return SIPX_RESULT_FAILURE;
        listeners_.erase(it);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT addLine(const std::string& identity, SIPX_LINE* out)
    {
        LinphoneAddress* addr = linphone_factory_create_address(linphone_factory_get(), identity.c_str());
        if (!addr)
            return SIPX_RESULT_INVALID_ARGS;
        LinphoneAccountParams* params = linphone_core_create_account_params(core_);
        linphone_account_params_set_identity_address(params, addr);
        std::string server = std::string("sip:") + linphone_address_get_domain(addr);
        if (linphone_address_get_port(addr) > 0)
            server += ":" + std::to_string(linphone_address_get_port(addr));
        server += ";transport=udp";
        linphone_account_params_set_server_addr(params, server.c_str());
        linphone_account_params_enable_register(params, FALSE);
        LinphoneAccount* account = linphone_core_create_account(core_, params);
        linphone_account_params_unref(params);
        linphone_address_unref(addr);
        if (!account || linphone_core_add_account(core_, account) != 0) {
            if (account)
                linphone_account_unref(account);
            return SIPX_RESULT_FAILURE;
        }
        if (lines_.empty())  // calls go out through the first line
            linphone_core_set_default_account(core_, account);
        LineRec line;
        line.handle = newHandle(shared_from_this());
        line.identity = identity;
        line.account = account;
        lines_[line.handle] = line;
        *out = line.handle;
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT addCredential(SIPX_LINE h, const std::string& user, const std::string& password,
                              const std::string& realm)
    {
        LineRec* line = findLine(h);
        if (!line)
            return SIPX_RESULT_INVALID_HANDLE;
        const LinphoneAddress* id = linphone_account_params_get_identity_address(linphone_account_get_params(line->account));
        LinphoneAuthInfo* ai = linphone_factory_create_auth_info_2(
            linphone_factory_get(), user.c_str(), nullptr, password.c_str(), nullptr,
            realm.empty() ? nullptr : realm.c_str(), linphone_address_get_domain(id), nullptr);
        linphone_core_add_auth_info(core_, ai);
        linphone_auth_info_unref(ai);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT registerLine(SIPX_LINE h, bool on)
    {
        LineRec* line = findLine(h);
        if (!line)
            return SIPX_RESULT_INVALID_HANDLE;
        LinphoneAccountParams* params = linphone_account_params_clone(linphone_account_get_params(line->account));
        linphone_account_params_enable_register(params, on ? TRUE : FALSE);
        const int r = linphone_account_set_params(line->account, params);
        linphone_account_params_unref(params);
        if (on)
            linphone_account_refresh_register(line->account);
        return r == 0 ? SIPX_RESULT_SUCCESS : SIPX_RESULT_FAILURE;
    }

    SIPX_RESULT createCall(SIPX_LINE line, SIPX_CALL* out)
    {
        if (line != 0 && !findLine(line))
            return SIPX_RESULT_INVALID_HANDLE;
        auto rec = std::make_unique<CallRec>();
        rec->handle = newHandle(shared_from_this());
        rec->line = line;
        *out = rec->handle;
        calls_[rec->handle] = std::move(rec);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT connectCall(SIPX_CALL h, const std::string& address)
    {
        CallRec* rec = findCall(h);
        if (!rec)
            return SIPX_RESULT_INVALID_HANDLE;
        if (rec->call || rec->destroyed)
            return SIPX_RESULT_FAILURE;
        LinphoneAddress* to = linphone_core_interpret_url(core_, address.c_str());
        if (!to)
            return SIPX_RESULT_INVALID_ARGS;
        LinphoneCallParams* params = callParams(*rec);
        pendingCall_ = rec;
        LinphoneCall* call = linphone_core_invite_address_with_params(core_, to, params);
        pendingCall_ = nullptr;
        linphone_call_params_unref(params);
        linphone_address_unref(to);
        if (!call) {
            sendCallEnded(*rec, 0);
            return SIPX_RESULT_FAILURE;
        }
        bind(*rec, call);
        closeMediaSocketsOnExec(call);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT answerCall(SIPX_CALL h)
    {
        CallRec* rec = findCall(h);
        if (!rec || !rec->call || rec->destroyed || rec->endedSent)
            return SIPX_RESULT_INVALID_HANDLE;
        const LinphoneCallState st = linphone_call_get_state(rec->call);
        if (st != LinphoneCallIncomingReceived && st != LinphoneCallIncomingEarlyMedia)
            return SIPX_RESULT_FAILURE;
        LinphoneCallParams* params = callParams(*rec);
        const int r = linphone_call_accept_with_params(rec->call, params);
        linphone_call_params_unref(params);
        return r == 0 ? SIPX_RESULT_SUCCESS : SIPX_RESULT_FAILURE;
    }

    SIPX_RESULT rejectCall(SIPX_CALL h, int code)
    {
        CallRec* rec = findCall(h);
        if (!rec || !rec->call || rec->destroyed || rec->endedSent)
            return SIPX_RESULT_INVALID_HANDLE;
        const LinphoneCallState st = linphone_call_get_state(rec->call);
        if (st != LinphoneCallIncomingReceived && st != LinphoneCallIncomingEarlyMedia)
            return SIPX_RESULT_FAILURE;
        LinphoneErrorInfo* ei = linphone_factory_create_error_info(linphone_factory_get());
        linphone_error_info_set(ei, "SIP", linphone_error_code_to_reason(code), code, nullptr, nullptr);
        const int r = linphone_call_decline_with_error_info(rec->call, ei);
        linphone_error_info_unref(ei);
        return r == 0 ? SIPX_RESULT_SUCCESS : SIPX_RESULT_FAILURE;
    }

    // The remote (remote true) or local address of a call, empty when it has none.
    std::optional<std::string> callAddress(SIPX_CALL h, bool remote)
    {
        CallRec* rec = findCall(h);
        if (!rec || !rec->call)
            return std::nullopt;
        LinphoneCallLog* log = linphone_call_get_call_log(rec->call);
        const bool incoming = linphone_call_log_get_dir(log) == LinphoneCallIncoming;
        const LinphoneAddress* a = remote == incoming ? linphone_call_log_get_from_address(log)
                                                      : linphone_call_log_get_to_address(log);
        if (!a)
            return std::nullopt;
        char* text = linphone_address_as_string_uri_only(a);
        std::string g = gbkOf(text);
        ortp_free(text);
        return g;
    }

    SIPX_RESULT holdCall(SIPX_CALL h)
    {
        CallRec* rec = findCall(h);
        if (!rec || !rec->call || rec->destroyed)
            return SIPX_RESULT_INVALID_HANDLE;
        return linphone_call_pause(rec->call) == 0 ? SIPX_RESULT_SUCCESS : SIPX_RESULT_FAILURE;
    }

    SIPX_RESULT destroyCall(SIPX_CALL h)
    {
        CallRec* rec = findCall(h);
        if (!rec || rec->destroyed)
            return SIPX_RESULT_INVALID_HANDLE;
        rec->destroyed = true;
        if (!rec->call) {
            forgetCall(h);
            return SIPX_RESULT_SUCCESS;
        }
        endCall(rec->call);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT startTone(SIPX_CALL h, int tone, bool local, bool remote)
    {
        CallRec* rec = findCall(h);
        if (!rec || !rec->call || rec->destroyed)
            return SIPX_RESULT_INVALID_HANDLE;
        const char c = toneChar(tone);
        if (!c)
            return SIPX_RESULT_INVALID_ARGS;
        if (local)
            linphone_core_play_dtmf(core_, c, -1);
        if (remote)
            rec->tones.push_back(c);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT stopTone(SIPX_CALL h)
    {
        CallRec* rec = findCall(h);
        if (!rec || !rec->call)
            return SIPX_RESULT_INVALID_HANDLE;
        linphone_core_stop_dtmf(core_);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT recordStart(SIPX_CALL h, const std::string& path)
    {
        CallRec* rec = findCall(h);
        if (!rec || !rec->call || rec->destroyed || rec->endedSent)
            return SIPX_RESULT_INVALID_HANDLE;
        if (path.empty())
            return SIPX_RESULT_INVALID_ARGS;
        if (rec->recording) {
            linphone_call_stop_recording(rec->call);
            rec->recording = false;
            moveRecording(*rec);
        }
        rec->finalRecordPath = path;
        rec->recordWanted = true;
        startRecordingIfRunning(*rec);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT recordStop(SIPX_CALL h)
    {
        CallRec* rec = findCall(h);
        if (!rec || !rec->call)
            return SIPX_RESULT_INVALID_HANDLE;
        rec->recordWanted = false;
        if (rec->recording) {
            linphone_call_stop_recording(rec->call);
            rec->recording = false;
            moveRecording(*rec);
        }
        return SIPX_RESULT_SUCCESS;
    }

    // A local conference with us in it; its state changes reach onConferenceState.
    LinphoneConference* newConference()
    {
        LinphoneConferenceParams* params = linphone_core_create_conference_params(core_);
        linphone_conference_params_enable_local_participant(params, TRUE);
        linphone_conference_params_enable_video(params, FALSE);
        LinphoneConference* conf = linphone_core_create_conference_with_params(core_, params);
        linphone_conference_params_unref(params);
        if (!conf)
            return nullptr;
        if (inputMuted_)
            linphone_conference_mute_microphone(conf, TRUE);
        return conf;  // the creation reference is ours
    }

    SIPX_RESULT createConference(SIPX_CONF* out)
    {
        LinphoneConference* conf = newConference();
        if (!conf)
            return SIPX_RESULT_FAILURE;
        ConfRec rec;
        rec.handle = newHandle(shared_from_this());
        rec.conference = conf;
        confs_[rec.handle] = rec;
        *out = rec.handle;
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT holdConference(SIPX_CONF h, bool hold)
    {
        ConfRec* rec = findConf(h);
        if (!rec)
            return SIPX_RESULT_INVALID_HANDLE;
        if (hold)
            linphone_conference_leave(rec->conference);
        else
            linphone_conference_enter(rec->conference);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT addToConference(SIPX_CONF h, SIPX_LINE line, const std::string& address, SIPX_CALL* out)
    {
        ConfRec* conf = findConf(h);
        if (!conf)
            return SIPX_RESULT_INVALID_HANDLE;
        if (line != 0 && !findLine(line))
            return SIPX_RESULT_INVALID_HANDLE;
        if (conf->ended) {
            // liblinphone ends a conference when its last call has left; the
            // handle stays valid, so a new call goes into a new conference.
            LinphoneConference* fresh = newConference();
            if (!fresh)
                return SIPX_RESULT_FAILURE;
            ConfRec old = *conf;
            old.handle = 0;
            old.legs.clear();
            retiredConfs_.push_back(std::move(old));
            conf->conference = fresh;
            conf->ended = false;
            conf->legs.clear();
        }
        LinphoneAddress* to = linphone_core_interpret_url(core_, address.c_str());
        if (!to)
            return SIPX_RESULT_INVALID_ARGS;
        SIPX_CALL handle = 0;
        createCall(line, &handle);
        conf->legs.push_back(handle);
        CallRec* rec = findCall(handle);
        LinphoneCallParams* params = callParams(*rec);
        bctbx_list_t* list = bctbx_list_append(nullptr, to);
        pendingCall_ = rec;
        const int r = linphone_conference_invite_participants(conf->conference, list, params);
        pendingCall_ = nullptr;
        bctbx_list_free(list);
        linphone_address_unref(to);
        linphone_call_params_unref(params);
        *out = handle;
        if (rec->call)
            closeMediaSocketsOnExec(rec->call);
        if (!rec->call) {
            sendCallEnded(*rec, 0);
            return SIPX_RESULT_FAILURE;
        }
        return r == 0 ? SIPX_RESULT_SUCCESS : SIPX_RESULT_FAILURE;
    }

    SIPX_RESULT destroyConference(SIPX_CONF h)
    {
        auto it = confs_.find(h);
        if (it == confs_.end())
            return SIPX_RESULT_INVALID_HANDLE;
        retire(it);
        endRetiredConferences();
        return SIPX_RESULT_SUCCESS;
    }

    // The handle goes at once; the conference is freed in endRetiredConferences.
    void retire(std::map<SIPX_CONF, ConfRec>::iterator it)
    {
        releaseHandle(it->first);
        retiredConfs_.push_back(std::move(it->second));
        confs_.erase(it);
    }

    // A released conference is asked to end once the calls added to it are
    // released, and our reference goes once it has ended too. Releasing either
    // while a call of it is still being released now and then leaves
    // liblinphone's conference objects unfreed.
    void endRetiredConferences()
    {
        std::erase_if(retiredConfs_, [this](ConfRec& conf) {
            for (SIPX_CALL leg : conf.legs)
                if (const CallRec* rec = findCall(leg); rec && rec->call)
                    return false;
            if (!conf.ended && !conf.terminating) {
                conf.terminating = true;
                linphone_conference_terminate(conf.conference);  // may end it at once
            }
            if (!conf.ended)
                return false;
            linphone_conference_unref(conf.conference);
            return true;
        });
    }

    SIPX_RESULT setInputVolume(int level)
    {
        linphone_core_set_mic_gain_db(core_, inputGainDb(level));
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT muteInput(bool mute)
    {
        inputMuted_ = mute;
        linphone_core_enable_mic(core_, mute ? FALSE : TRUE);
        for (auto& [h, conf] : confs_)
            linphone_conference_mute_microphone(conf.conference, mute ? TRUE : FALSE);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT muteOutput(bool mute)
    {
        outputMuted_ = mute;
        for (auto& [h, rec] : calls_)
            if (rec->call && running(rec->call))
                linphone_call_set_speaker_muted(rec->call, mute ? TRUE : FALSE);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT setAgc(bool on)
    {
        linphone_core_enable_agc(core_, on ? TRUE : FALSE);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT setNoiseReduction(bool on)
    {
        linphone_config_set_int(linphone_core_get_config(core_), "sound", "noisegate", on ? 1 : 0);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT setEchoCancellation(bool on)
    {
        linphone_core_enable_echo_cancellation(core_, on ? TRUE : FALSE);
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT setDevice(const std::string& name, bool input)
    {
        const auto want = input ? LinphoneAudioDeviceCapabilityRecord : LinphoneAudioDeviceCapabilityPlay;
        SIPX_RESULT r = SIPX_RESULT_FAILURE;
        bctbx_list_t* devices = linphone_core_get_extended_audio_devices(core_);
        for (bctbx_list_t* it = devices; it; it = it->next) {
            auto* d = static_cast<LinphoneAudioDevice*>(it->data);
            if (!linphone_audio_device_has_capability(d, want) || name != linphone_audio_device_get_id(d))
                continue;
            if (input)
                linphone_core_set_default_input_audio_device(core_, d);
            else
                linphone_core_set_default_output_audio_device(core_, d);
            r = SIPX_RESULT_SUCCESS;
            break;
        }
        bctbx_list_free_with_data(devices, reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
        return r;
    }

    std::vector<std::string> deviceNames(bool input)
    {
        const auto want = input ? LinphoneAudioDeviceCapabilityRecord : LinphoneAudioDeviceCapabilityPlay;
        std::vector<std::string> names;
        bctbx_list_t* devices = linphone_core_get_extended_audio_devices(core_);
        for (bctbx_list_t* it = devices; it; it = it->next) {
            auto* d = static_cast<LinphoneAudioDevice*>(it->data);
            if (linphone_audio_device_has_capability(d, want))
                names.push_back(gbkOf(linphone_audio_device_get_id(d)));
        }
        bctbx_list_free_with_data(devices, reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
        return names;
    }

    double energy(bool input)
    {
        if (input ? inputMuted_ : outputMuted_)
            return 0.0;
        double best = 0.0;
        for (auto& [h, rec] : calls_) {
            if (!rec->call || !running(rec->call))
                continue;
            const float v = input ? linphone_call_get_record_volume(rec->call)
                                  : linphone_call_get_play_volume(rec->call);
            best = std::max(best, energyOf(v));
        }
        return best;
    }

    bool ownsLine(SIPX_LINE h) { return findLine(h) != nullptr; }

private:
    // ---- core ---------------------------------------------------------------------

    // bindAddress: the local address of the SIP and media sockets; empty or
    // "0.0.0.0" binds every address.
    bool createCore(int udpPort, int rtpPort, int maxCalls, const std::string& bindAddress)
    {
        {
            std::lock_guard lock(g_settingsMutex);
            settings_ = g_settings;
        }
        LinphoneFactory* factory = linphone_factory_get();
        static std::once_flag once;
        std::call_once(once, [&] {
            // Our own data folder (trailing '/' needed) and no plugins folder:
            // the video display plugin would pull a second Qt into the process.
            const fs::path base = fs::temp_directory_path() / ("velkor-linphone-" + std::to_string(getuid()));
            std::error_code ec;
            fs::create_directories(base, ec);
            const std::string dir = base.string() + "/";
            linphone_factory_set_data_dir(factory, dir.c_str());
            linphone_factory_set_config_dir(factory, dir.c_str());
            linphone_factory_set_download_dir(factory, dir.c_str());
            linphone_factory_set_msplugins_dir(factory, (dir + "no-plugins/").c_str());
        });
        // -1: the system picks a free port for each call's media.
        const int mediaPort = settings_.systemMediaPorts ? -1 : rtpPort;
        linphone_logging_service_set_log_level(linphone_logging_service_get(),
                                               settings_.verboseLog ? LinphoneLogLevelMessage : LinphoneLogLevelFatal);

        const std::string cfg =
            "[sip]\n"
            + (bindAddress.empty() ? std::string() : "bind_address=" + bindAddress + "\n") +
            "use_ipv6=0\n"
            "guess_hostname=1\n"
            "use_rfc2833=1\n"
            "use_info=0\n"
            "inc_timeout=180\n"
            + std::string(settings_.acceptDuplicateCalls ? "reject_duplicated_calls=0\n" : "") +
            "register_only_when_network_is_up=0\n"
            "auto_net_state_mon=0\n"
            "[rtp]\n"
            "audio_rtp_port=" + std::to_string(mediaPort) + "\n"
            + (bindAddress.empty() ? std::string() : "bind_address=" + bindAddress + "\n") +
            "[sound]\n"
            "echocancellation=0\n"
            "noisegate=0\n"
            "[storage]\n"
            "uri=:memory:\n"
            // No call history or ZRTP files: nothing of the engine is kept on
            // disk, and instances in other processes share no database.
            "call_logs_db_uri=null\n"
            "zrtp_secrets_db_uri=null\n"
            "[misc]\n"
            "max_calls=" + std::to_string(maxCalls) + "\n"
            "conference_server_enabled=0\n"
            "[video]\n"
            "capture=0\n"
            "display=0\n"
            "automatically_initiate=0\n"
            "automatically_accept=0\n"
            "[net]\n"
            "firewall_policy=0\n";
        LinphoneConfig* config = linphone_factory_create_config_from_string(factory, cfg.c_str());
        core_ = linphone_factory_create_core_with_config_3(factory, config, nullptr);
        linphone_config_unref(config);
        if (!core_)
            return false;

        LinphoneCoreCbs* cbs = linphone_factory_create_core_cbs(factory);
        linphone_core_cbs_set_user_data(cbs, this);
        linphone_core_cbs_set_call_state_changed(cbs, &Instance::onCallState);
        linphone_core_cbs_set_account_registration_state_changed(cbs, &Instance::onRegistration);
        linphone_core_cbs_set_message_received(cbs, &Instance::onMessage);
        linphone_core_cbs_set_dtmf_received(cbs, &Instance::onDtmf);
        linphone_core_cbs_set_conference_state_changed(cbs, &Instance::onConferenceState);
        linphone_core_add_callbacks(core_, cbs);
        linphone_core_cbs_unref(cbs);

        LinphoneTransports* tr = linphone_factory_create_transports(factory);
        linphone_transports_set_udp_port(tr, udpPort);
        linphone_transports_set_tcp_port(tr, 0);
        linphone_transports_set_tls_port(tr, 0);
        linphone_transports_set_dtls_port(tr, 0);
        linphone_core_set_transports(core_, tr);
        linphone_transports_unref(tr);
        linphone_core_enable_ipv6(core_, FALSE);
        linphone_core_set_audio_port(core_, mediaPort);
        linphone_core_set_ring(core_, nullptr);
        linphone_core_set_ringback(core_, nullptr);
        linphone_core_set_play_file(core_, nullptr);
        linphone_core_set_remote_ringback_tone(core_, nullptr);
        // Debian's liblinphone lacks a grammar its chat code needs and aborts the
        // process on any incoming SIP MESSAGE: refuse messages instead.
        linphone_core_disable_chat(core_, LinphoneReasonNotImplemented);
        if (settings_.sharedMediaResources)
            linphone_core_set_media_resource_mode(core_, LinphoneSharedMediaResources);
        linphone_core_set_use_rfc2833_for_dtmf(core_, TRUE);
        linphone_core_set_use_info_for_dtmf(core_, FALSE);
        linphone_core_enable_video_capture(core_, FALSE);
        linphone_core_enable_video_display(core_, FALSE);
        LinphoneVideoActivationPolicy* vp = linphone_factory_create_video_activation_policy(factory);
        linphone_video_activation_policy_set_automatically_initiate(vp, FALSE);
        linphone_video_activation_policy_set_automatically_accept(vp, FALSE);
        linphone_core_set_video_activation_policy(core_, vp);
        linphone_video_activation_policy_unref(vp);
        trimCodecs();

        if (linphone_core_start(core_) != 0)
            return false;
        setUpSoundCards();

        LinphoneTransports* used = linphone_core_get_transports_used(core_);
        const int port = used ? linphone_transports_get_udp_port(used) : 0;
        if (used)
            linphone_transports_unref(used);
        if (port != udpPort)
            return false;
        // The SIP stack binds with address reuse: a holder that allowed reuse
        // too (or one that bound the port since sipxInitialize looked) would
        // share our SIP traffic.
        if (udpSocketsOnPort(udpPort) > 1)
            return false;
        sipPort_ = udpPort;
        sipFd_ = findUdpSocket(udpPort);
        setCloseOnExec(sipFd_);
        return true;
    }

    void trimCodecs()
    {
        bctbx_list_t* types = linphone_core_get_audio_payload_types(core_);
        for (bctbx_list_t* it = types; it; it = it->next) {
            auto* pt = static_cast<LinphonePayloadType*>(it->data);
            const std::string mime = linphone_payload_type_get_mime_type(pt);
            const int rate = linphone_payload_type_get_clock_rate(pt);
            const bool keep = rate == 8000 && (mime == "PCMU" || mime == "PCMA" || mime == "telephone-event");
            linphone_payload_type_enable(pt, keep ? TRUE : FALSE);
        }
        bctbx_list_free_with_data(types, reinterpret_cast<bctbx_list_free_func>(linphone_payload_type_unref));
        types = linphone_core_get_video_payload_types(core_);
        for (bctbx_list_t* it = types; it; it = it->next)
            linphone_payload_type_enable(static_cast<LinphonePayloadType*>(it->data), FALSE);
        bctbx_list_free_with_data(types, reinterpret_cast<bctbx_list_free_func>(linphone_payload_type_unref));
    }

    // Real devices where there are any; the null card where there are none (or
    // always, when the settings ask for it). ALSA lists its "default" device
    // even on a machine without a sound card, so ALSA devices count only when
    // ALSA has a card.
    void setUpSoundCards()
    {
        int card = -1;
        const bool alsaHasCard = snd_card_next(&card) == 0 && card >= 0;
        bool capture = false, playback = false;
        forEachDevice([&](LinphoneAudioDevice* d) {
            const std::string driver = linphone_audio_device_get_driver_name(d);
            if (driver == "ALSA" && !alsaHasCard)
                return;
            capture = capture || linphone_audio_device_has_capability(d, LinphoneAudioDeviceCapabilityRecord);
            playback = playback || linphone_audio_device_has_capability(d, LinphoneAudioDeviceCapabilityPlay);
        });
        if (capture && playback && !settings_.nullSoundCardOnly)
            return;
        NullCardSource source;
        source.tone = settings_.nullCaptureTone;
        if (!settings_.nullCapturePrompt.empty())
            source.prompt = std::make_shared<const std::vector<int16_t>>(settings_.nullCapturePrompt);
        source.echo = settings_.nullCaptureEcho;
        source.echoDelayMs = static_cast<int>(settings_.nullEchoDelay.count());
        registerNullSoundCard(linphone_core_get_ms_factory(core_), source);
        linphone_core_reload_sound_devices(core_);
        forEachDevice([&](LinphoneAudioDevice* d) {
            if (std::string(linphone_audio_device_get_driver_name(d)) != kNullSoundCardDriver)
                return;
            if (settings_.nullSoundCardOnly || !capture)
                linphone_core_set_default_input_audio_device(core_, d);
            if (settings_.nullSoundCardOnly || !playback) {
                linphone_core_set_default_output_audio_device(core_, d);
                linphone_core_set_ringer_device(core_, linphone_audio_device_get_id(d));
            }
        });
    }

    template <class F>
    void forEachDevice(F f)
    {
        bctbx_list_t* devices = linphone_core_get_extended_audio_devices(core_);
        for (bctbx_list_t* it = devices; it; it = it->next)
            f(static_cast<LinphoneAudioDevice*>(it->data));
        bctbx_list_free_with_data(devices, reinterpret_cast<bctbx_list_free_func>(linphone_audio_device_unref));
    }

    // Ends the calls and conferences and lets go of them while the core still
    // runs, then stops and frees the core. A call or conference released after
    // the core stopped would cancel timers of a SIP stack already freed.
    void destroyCore()
    {
        if (!core_)
            return;
        const auto deadline = Clock::now() + kShutdownWait;
        // The calls end first; each conference is asked to end once its legs
        // are released (endRetiredConferences).
        while (!confs_.empty())
            retire(confs_.begin());
        std::vector<LinphoneCall*> live;  // ending a call may call back into calls_
        for (auto& [h, rec] : calls_)
            if (rec->call && !ended(rec->call))
                live.push_back(linphone_call_ref(rec->call));
        for (LinphoneCall* call : live) {
            endCall(call);
            linphone_call_unref(call);
        }
        iterateUntil(
            [this] {
                endRetiredConferences();
                return allCallsReleased() && retiredConfs_.empty();
            },
            deadline);
        for (auto& conf : retiredConfs_)  // those that did not end in time
            linphone_conference_unref(conf.conference);
        retiredConfs_.clear();
        for (auto& [h, rec] : calls_) {
            finishRecording(*rec);
            if (rec->call)
                linphone_call_unref(rec->call);
            releaseHandle(h);
        }
        calls_.clear();
        byCall_.clear();

        // What was let go of above is freed by tasks the SIP stack runs a
        // moment later; a core stopped before that keeps it for good.
        iterateUntil([] { return false; }, std::min(deadline, Clock::now() + kDeferredFreeWait));
        linphone_core_stop_async(core_);
        iterateUntil([this] { return linphone_core_get_global_state(core_) == LinphoneGlobalOff; }, deadline);
        if (linphone_core_get_global_state(core_) != LinphoneGlobalOff)
            linphone_core_stop(core_);
        for (auto& [h, line] : lines_) {
            linphone_account_unref(line.account);
            releaseHandle(h);
        }
        lines_.clear();
        linphone_core_unref(core_);
        core_ = nullptr;
    }

    // Iterates the core until done() or the deadline.
    template <class Done>
    void iterateUntil(Done done, Clock::time_point deadline)
    {
        while (!done() && Clock::now() < deadline) {
            linphone_core_iterate(core_);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    bool allCallsReleased() const
    {
        return std::none_of(calls_.begin(), calls_.end(), [](const auto& c) { return c.second->call != nullptr; });
    }

    void wake()
    {
        const uint64_t one = 1;
        if (wakeFd_ >= 0)
            [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }

    void loop()
    {
        for (;;) {
            std::deque<std::function<void()>> batch;
            {
                std::lock_guard lock(mutex_);
                batch.swap(commands_);
                if (stopping_ && batch.empty())
                    break;
            }
            for (auto& c : batch)
                c();
            linphone_core_iterate(core_);
            endRetiredConferences();
            pumpTones();
            sendKeepAlives();

            // Sleep until a command comes, SIP arrives or the next iteration is due.
            if (sipFd_ < 0 || !socketStillOurs()) {  // the SIP stack opened a new socket
                sipFd_ = findUdpSocket(sipPort_);
                setCloseOnExec(sipFd_);
            }
            pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {sipFd_, POLLIN, 0}};
            const int n = sipFd_ >= 0 ? 2 : 1;
            {
                std::lock_guard lock(mutex_);
                if (!commands_.empty() || stopping_)
                    continue;
            }
            const int timeout = static_cast<int>(untilNextTimer().count());
            if (poll(fds, n, std::max(timeout, 0)) > 0 && (fds[0].revents & POLLIN)) {
                uint64_t v;
                [[maybe_unused]] auto r = ::read(wakeFd_, &v, sizeof v);
            }
        }
    }

    bool socketStillOurs()
    {
        sockaddr_storage ss {};
        socklen_t len = sizeof ss;
        return getsockname(sipFd_, reinterpret_cast<sockaddr*>(&ss), &len) == 0 && ss.ss_family == AF_INET &&
               ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port) == sipPort_;
    }

    std::chrono::milliseconds untilNextTimer()
    {
        const bool inCall = std::any_of(calls_.begin(), calls_.end(), [](const auto& c) { return c.second->call; });
        auto next = Clock::now() + (inCall ? kIterateInterval : kIdleIterateInterval);
        for (const auto& k : keepAlives_)
            next = std::min(next, k.next);
        for (const auto& [h, rec] : calls_)
            if (!rec->tones.empty())
                next = std::min(next, rec->lastTone + kTonePause);
        return std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()) +
               std::chrono::milliseconds(1);
    }

    void pumpTones()
    {
        const auto now = Clock::now();
        for (auto& [h, rec] : calls_) {
            if (rec->tones.empty() || !rec->call)
                continue;
            if (!running(rec->call)) {
                if (rec->endedSent)
                    rec->tones.clear();
                continue;
            }
            if (now - rec->lastTone < kTonePause)
                continue;
            linphone_call_send_dtmf(rec->call, rec->tones.front());
            rec->tones.pop_front();
            rec->lastTone = now;
        }
    }

    void sendKeepAlives()
    {
        const auto now = Clock::now();
        for (auto& k : keepAlives_) {
            if (now < k.next)
                continue;
            k.next = now + k.interval;
            const int fd = findUdpSocket(sipPort_);
            if (fd < 0)
                continue;
            addrinfo hints {};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_DGRAM;
            addrinfo* res = nullptr;
            if (getaddrinfo(k.host.c_str(), std::to_string(k.port).c_str(), &hints, &res) != 0 || !res)
                continue;
            OptionsRequest r;
            r.targetHost = k.host;
            r.targetPort = k.port;
            r.localIp = localAddressFor(k.host, k.port);
            r.localPort = sipPort_;
            r.fromUri = lines_.empty() ? "sip:sipx@" + r.localIp + ":" + std::to_string(sipPort_)
                                       : lines_.begin()->second.identity;
            r.userAgent = userAgent_;
            r.callId = randomToken(16) + "@" + r.localIp;
            r.branch = "z9hG4bK" + randomToken(12);
            r.tag = randomToken(8);
            const std::string msg = buildOptionsRequest(r);
            [[maybe_unused]] auto n = sendto(fd, msg.data(), msg.size(), 0, res->ai_addr, res->ai_addrlen);
            freeaddrinfo(res);
        }
    }

    // ---- calls --------------------------------------------------------------------

    LinphoneCallParams* callParams(CallRec& rec)
    {
        LinphoneCallParams* params = linphone_core_create_call_params(core_, nullptr);
        linphone_call_params_enable_video(params, FALSE);
        // The record file must be known before the INVITE; the call records
        // into it only between RecordFileStart and the end of the call.
        const std::string dir = settings_.recordTempDir.empty() ? fs::temp_directory_path().string()
                                                                : settings_.recordTempDir;
        rec.tempRecordPath = dir + "/velkor-rec-" + std::to_string(getpid()) + "-" +
                             std::to_string(handle) + "-" + std::to_string(rec.handle) + ".wav";
        linphone_call_params_set_record_file(params, rec.tempRecordPath.c_str());
        return params;
    }

    static bool ended(LinphoneCall* call)
    {
        const LinphoneCallState st = linphone_call_get_state(call);
        return st == LinphoneCallEnd || st == LinphoneCallError || st == LinphoneCallReleased;
    }

    // Hangs up: BYE, or CANCEL before an answer.
    //
    // liblinphone 5.1 crashes ending a conference leg whose dialog has no
    // complete contact address, which is the case for a leg placed on a line
    // that was never registered (the program places legs only on a registered
    // line). A talking leg that is held first (as the multi-party window does)
    // has left the conference and ends safely either way.
    static void endCall(LinphoneCall* call)
    {
        if (!ended(call))
            linphone_call_terminate(call);
    }

    // Marks the RTP and RTCP sockets of the call's streams close-on-exec, so
    // that a child process started during the call does not hold them.
    static void closeMediaSocketsOnExec(LinphoneCall* call)
    {
        for (int i = 0; i < linphone_call_get_stream_count(call); ++i) {
            RtpTransport* t = linphone_call_get_meta_rtp_transport(call, i);
            if (t && t->session) {
                setCloseOnExec(rtp_session_get_rtp_socket(t->session));
                setCloseOnExec(rtp_session_get_rtcp_socket(t->session));
            }
        }
    }

    static bool running(LinphoneCall* call)
    {
        const LinphoneCallState st = linphone_call_get_state(call);
        return st == LinphoneCallStreamsRunning;
    }

    void bind(CallRec& rec, LinphoneCall* call)
    {
        if (rec.call)
            return;
        rec.call = linphone_call_ref(call);
        byCall_[call] = rec.handle;
    }

    void startRecordingIfRunning(CallRec& rec)
    {
        if (!rec.recordWanted || rec.recording || !rec.call || !running(rec.call))
            return;
        std::error_code ec;
        fs::remove(rec.tempRecordPath, ec);
        linphone_call_start_recording(rec.call);
        rec.recording = true;
    }

    // Moves the finished temporary recording to the name the program gave.
    void moveRecording(CallRec& rec)
    {
        if (rec.finalRecordPath.empty())
            return;
        std::error_code ec;
        if (fs::exists(rec.tempRecordPath, ec)) {
            fixWavSizes(rec.tempRecordPath);
            fs::rename(rec.tempRecordPath, rec.finalRecordPath, ec);
            if (ec) {  // another file system: copy
                std::error_code ec2;
                fs::copy_file(rec.tempRecordPath, rec.finalRecordPath, fs::copy_options::overwrite_existing, ec2);
                fs::remove(rec.tempRecordPath, ec2);
            }
        }
        rec.finalRecordPath.clear();
    }

    void finishRecording(CallRec& rec)
    {
        if (rec.recording && rec.call)
            linphone_call_stop_recording(rec.call);
        rec.recording = false;
        rec.recordWanted = false;
        moveRecording(rec);
        std::error_code ec;
        if (!rec.tempRecordPath.empty())
            fs::remove(rec.tempRecordPath, ec);
    }

    void forgetCall(SIPX_CALL h)
    {
        auto it = calls_.find(h);
        if (it == calls_.end())
            return;
        if (it->second->call) {
            byCall_.erase(it->second->call);
            linphone_call_unref(it->second->call);
        }
        calls_.erase(it);
        releaseHandle(h);
    }

    void sendCall(CallRec& rec, int32_t event, int32_t cause)
    {
        SIPX_CALLSTATE_INFO info {};
        info.size = sizeof info;
        info.call = rec.handle;
        info.line = rec.line;
        info.event = event;
        info.cause = cause;
        emit(SIPX_EVENT_CALLSTATE, &info);
    }

    void sendCallEnded(CallRec& rec, int32_t cause)
    {
        if (rec.endedSent)
            return;
        rec.endedSent = true;
        sendCall(rec, SIPX_CALLSTATE_DISCONNECTED, cause);
    }

    void emit(SIPX_EVENT_CATEGORY category, void* info)
    {
        const auto copy = listeners_;  // a listener may add or remove listeners
        for (const auto& l : copy)
            l.fn(category, info, l.user);
    }

    CallRec* recOf(LinphoneCall* call)
    {
        auto it = byCall_.find(call);
        if (it != byCall_.end())
            return findCall(it->second);
        if (pendingCall_ && !pendingCall_->call) {  // an invite in progress: early states come first
            bind(*pendingCall_, call);
            return pendingCall_;
        }
        return nullptr;
    }

    static void onCallState(LinphoneCore* core, LinphoneCall* call, LinphoneCallState state, const char*)
    {
        auto* self = static_cast<Instance*>(linphone_core_cbs_get_user_data(linphone_core_get_current_callbacks(core)));
        if (self)
            self->callState(call, state);
    }

    void callState(LinphoneCall* call, LinphoneCallState state)
    {
        CallRec* rec = recOf(call);
        if (!rec) {
            if (state != LinphoneCallIncomingReceived)
                return;
            SIPX_CALL h = 0;
            createCall(lines_.empty() ? 0 : lines_.begin()->first, &h);
            rec = findCall(h);
            bind(*rec, call);
            sendCall(*rec, SIPX_CALLSTATE_INCOMING, 0);
            return;
        }
        switch (state) {
        case LinphoneCallOutgoingRinging:
        case LinphoneCallOutgoingEarlyMedia:
            if (!rec->alertingSent && !rec->connectedSent) {
                rec->alertingSent = true;
                sendCall(*rec, SIPX_CALLSTATE_ALERTING, 0);
            }
            break;
        case LinphoneCallConnected:
            if (!rec->connectedSent) {
                rec->connectedSent = true;
                sendCall(*rec, SIPX_CALLSTATE_CONNECTED, 0);
            }
            break;
        case LinphoneCallStreamsRunning:
            closeMediaSocketsOnExec(call);
            if (outputMuted_)
                linphone_call_set_speaker_muted(call, TRUE);
            startRecordingIfRunning(*rec);
            break;
        case LinphoneCallEnd:
        case LinphoneCallError: {
            finishRecording(*rec);
            rec->tones.clear();
            const LinphoneErrorInfo* ei = linphone_call_get_error_info(call);
            sendCallEnded(*rec, ei ? linphone_error_info_get_protocol_code(ei) : 0);
            break;
        }
        case LinphoneCallReleased:
            finishRecording(*rec);
            sendCallEnded(*rec, 0);
            if (rec->destroyed)
                forgetCall(rec->handle);
            else {  // the handle stays valid (and ended) until destroyed
                byCall_.erase(call);
                linphone_call_unref(rec->call);
                rec->call = nullptr;
                rec->connectedSent = true;
            }
            break;
        default:
            break;
        }
    }

    static void onRegistration(LinphoneCore* core, LinphoneAccount* account, LinphoneRegistrationState state,
                               const char*)
    {
        auto* self = static_cast<Instance*>(linphone_core_cbs_get_user_data(linphone_core_get_current_callbacks(core)));
        if (self)
            self->registration(account, state);
    }

    void registration(LinphoneAccount* account, LinphoneRegistrationState state)
    {
        auto it = std::find_if(lines_.begin(), lines_.end(), [&](auto& p) { return p.second.account == account; });
        if (it == lines_.end())
            return;
        SIPX_LINESTATE_INFO info {};
        info.size = sizeof info;
        info.line = it->first;
        switch (state) {
        case LinphoneRegistrationProgress: info.event = SIPX_LINESTATE_REGISTERING; break;
        case LinphoneRegistrationOk: info.event = SIPX_LINESTATE_REGISTERED; break;
        case LinphoneRegistrationCleared: info.event = SIPX_LINESTATE_UNREGISTERED; break;
        case LinphoneRegistrationFailed: {
            info.event = SIPX_LINESTATE_REGISTER_FAILED;
            const LinphoneErrorInfo* ei = linphone_account_get_error_info(account);
            info.cause = ei ? linphone_error_info_get_protocol_code(ei) : 0;
            break;
        }
        default:
            return;
        }
        emit(SIPX_EVENT_LINESTATE, &info);
    }

    static void onConferenceState(LinphoneCore* core, LinphoneConference* conference, LinphoneConferenceState state)
    {
        auto* self = static_cast<Instance*>(linphone_core_cbs_get_user_data(linphone_core_get_current_callbacks(core)));
        if (!self)
            return;
        if (state != LinphoneConferenceStateDeleted && state != LinphoneConferenceStateTerminationFailed &&
            state != LinphoneConferenceStateCreationFailed)
            return;
        for (auto& [h, rec] : self->confs_)
            if (rec.conference == conference)
                rec.ended = true;
        for (ConfRec& rec : self->retiredConfs_)
            if (rec.conference == conference)
                rec.ended = true;
    }

    static void onMessage(LinphoneCore* core, LinphoneChatRoom*, LinphoneChatMessage* message)
    {
        auto* self = static_cast<Instance*>(linphone_core_cbs_get_user_data(linphone_core_get_current_callbacks(core)));
        const char* text = linphone_chat_message_get_utf8_text(message);
        if (!self || !text)
            return;
        const std::string g = gbkOf(text);
        SIPX_TEXT_INFO info {};
        info.size = sizeof info;
        info.line = self->lines_.empty() ? 0 : self->lines_.begin()->first;
        info.length = static_cast<uint32_t>(g.size());
        info.text = g.c_str();
        self->emit(SIPX_EVENT_TEXT, &info);
    }

    static void onDtmf(LinphoneCore* core, LinphoneCall* call, int dtmf)
    {
        auto* self = static_cast<Instance*>(linphone_core_cbs_get_user_data(linphone_core_get_current_callbacks(core)));
        if (!self)
            return;
        auto it = self->byCall_.find(call);
        CallRec* rec = it == self->byCall_.end() ? nullptr : self->findCall(it->second);
        if (!rec)
            return;
        static const char kTones[] = "0123456789*#ABCD";
        const char* p = dtmf > 0 ? std::strchr(kTones, std::toupper(dtmf)) : nullptr;
        SIPX_DTMF_INFO info {};
        info.size = sizeof info;
        info.call = rec->handle;
        info.line = rec->line;
        info.tone = p ? static_cast<int32_t>(p - kTones) : -1;
        info.digit = static_cast<char>(dtmf);
        self->emit(SIPX_EVENT_DTMF, &info);
    }

    LineRec* findLine(SIPX_LINE h)
    {
        auto it = lines_.find(h);
        return it == lines_.end() ? nullptr : &it->second;
    }
    CallRec* findCall(SIPX_CALL h)
    {
        auto it = calls_.find(h);
        return it == calls_.end() ? nullptr : it->second.get();
    }
    ConfRec* findConf(SIPX_CONF h)
    {
        auto it = confs_.find(h);
        return it == confs_.end() ? nullptr : &it->second;
    }

    std::thread thread_;
    std::thread::id threadId_;
    std::mutex mutex_;
    std::deque<std::function<void()>> commands_;
    bool stopping_ = false;
    int wakeFd_ = -1;

    // Engine thread only.
    EngineSettings settings_;
    LinphoneCore* core_ = nullptr;
    int sipPort_ = 0;
    int sipFd_ = -1;
    std::string userAgent_;
    std::map<SIPX_LINE, LineRec> lines_;
    std::map<SIPX_CALL, std::unique_ptr<CallRec>> calls_;
    std::unordered_map<LinphoneCall*, SIPX_CALL> byCall_;
    std::map<SIPX_CONF, ConfRec> confs_;
    std::vector<ConfRec> retiredConfs_;  // released, not yet freed
    std::vector<KeepAlive> keepAlives_;
    std::vector<Listener> listeners_;
    CallRec* pendingCall_ = nullptr;
    bool inputMuted_ = false;
    bool outputMuted_ = false;
};

// Runs f(instance) on the engine thread of the instance that owns handle h.
template <class F>
SIPX_RESULT onOwner(uint32_t h, F f)
{
    const auto inst = ownerOf(h);
    if (!inst)
        return SIPX_RESULT_INVALID_HANDLE;
    return inst->run([&inst, &f] { return f(*inst); });
}

// Instances by handle: the instance handle's owner is the instance itself.
template <class F>
SIPX_RESULT onInstance(SIPX_INST h, F f)
{
    const auto inst = ownerOf(h);
    if (!inst || inst->handle != h)
        return SIPX_RESULT_INVALID_HANDLE;
    return inst->run([&inst, &f] { return f(*inst); });
}

std::mutex g_instancesMutex;  // serialises creating and ending instances

class LinphoneEngine final : public SipxApi {
public:
    SIPX_RESULT sipxInitialize(SIPX_INST* instance, int sipUdpPort, int, int, int rtpPortStart,
                               int maxConnections, const char*, const char* bindAddress, int) override
    {
        if (!instance || sipUdpPort <= 0 || sipUdpPort > 65535)
            return SIPX_RESULT_INVALID_ARGS;
        std::lock_guard lock(g_instancesMutex);
        // Held by anyone (another copy, another instance, a child process that
        // inherited it): the SIP stack's own bind would share it silently.
        if (!udpPortFree(sipUdpPort))
            return SIPX_RESULT_FAILURE;
        auto inst = std::make_shared<Instance>();
        const std::string bind = bindAddress && std::strcmp(bindAddress, "0.0.0.0") != 0 ? bindAddress : "";
        if (!inst->start(sipUdpPort, rtpPortStart > 0 ? rtpPortStart : 8000,
                         maxConnections > 0 ? maxConnections : 64, bind))
            return SIPX_RESULT_FAILURE;
        inst->handle = newHandle(inst);
        *instance = inst->handle;
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT sipxUnInitialize(SIPX_INST instance, int) override
    {
        std::lock_guard lock(g_instancesMutex);
        const auto inst = ownerOf(instance);
        if (!inst || inst->handle != instance)
            return SIPX_RESULT_INVALID_HANDLE;
        if (inst->onEngineThread())  // from inside a listener: the thread cannot join itself
            return SIPX_RESULT_FAILURE;
        releaseHandle(instance);
        inst->shutdown();
        return SIPX_RESULT_SUCCESS;
    }

    SIPX_RESULT sipxConfigSetUserAgentName(SIPX_INST instance, const char* name, int) override
    {
        if (!name)
            return SIPX_RESULT_INVALID_ARGS;
        const std::string n = utf8(name);
        return onInstance(instance, [&](Instance& i) { return i.setUserAgent(n); });
    }

    SIPX_RESULT sipxConfigEnableRport(SIPX_INST instance, int enable) override
    {
        // The SIP stack always asks for rport; turning it off is not offered.
        return onInstance(instance, [&](Instance&) { return enable ? SIPX_RESULT_SUCCESS : SIPX_RESULT_FAILURE; });
    }

    SIPX_RESULT sipxConfigKeepAliveAdd(SIPX_INST instance, int, int type, const char* host, int port,
                                       int intervalSecs) override
    {
        if (type != 3 || !host || !*host || port <= 0 || port > 65535 || intervalSecs <= 0)
            return SIPX_RESULT_INVALID_ARGS;
        const std::string h = utf8(host);
        return onInstance(instance, [&](Instance& i) { return i.addKeepAlive(h, port, intervalSecs); });
    }

    SIPX_RESULT sipxConfigSetAudioCodecPreferences(SIPX_INST instance, int) override
    {
        // The codecs are fixed at creation: PCMU, PCMA and telephone events.
        return onInstance(instance, [](Instance&) { return SIPX_RESULT_SUCCESS; });
    }

    SIPX_RESULT sipxConfigSetOutboundDTMFMode(SIPX_INST instance, int mode) override
    {
        // RFC 2833 is the only mode.
        return onInstance(instance, [&](Instance&) { return mode == 2 ? SIPX_RESULT_SUCCESS : SIPX_RESULT_FAILURE; });
    }

    SIPX_RESULT sipxEventListenerAdd(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData) override
    {
        if (!listener)
            return SIPX_RESULT_INVALID_ARGS;
        return onInstance(instance, [&](Instance& i) { return i.addListener(listener, userData); });
    }

    SIPX_RESULT sipxEventListenerRemove(SIPX_INST instance, SIPX_EVENT_CALLBACK listener, void* userData) override
    {
        return onInstance(instance, [&](Instance& i) { return i.removeListener(listener, userData); });
    }

    SIPX_RESULT sipxLineAdd(SIPX_INST instance, const char* identity, SIPX_LINE* line, int) override
    {
        if (!identity || !line)
            return SIPX_RESULT_INVALID_ARGS;
        const std::string id = utf8(identity);
        return onInstance(instance, [&](Instance& i) { return i.addLine(id, line); });
    }

    SIPX_RESULT sipxLineAddCredential(SIPX_LINE line, const char* user, const char* password, const char* realm) override
    {
        if (!user || !password)
            return SIPX_RESULT_INVALID_ARGS;
        const std::string u = utf8(user), p = utf8(password), r = utf8(realm);
        return onOwner(line, [&](Instance& i) { return i.addCredential(line, u, p, r); });
    }

    SIPX_RESULT sipxLineRegister(SIPX_LINE line, int doRegister) override
    {
        return onOwner(line, [&](Instance& i) { return i.registerLine(line, doRegister != 0); });
    }

    SIPX_RESULT sipxCallCreate(SIPX_INST instance, SIPX_LINE line, SIPX_CALL* call) override
    {
        if (!call)
            return SIPX_RESULT_INVALID_ARGS;
        return onInstance(instance, [&](Instance& i) { return i.createCall(line, call); });
    }

    SIPX_RESULT sipxCallConnect(SIPX_CALL call, const char* address, int, const void*, int,
                                const SIPX_CALL_OPTIONS*, const char*) override
    {
        if (!address)
            return SIPX_RESULT_INVALID_ARGS;
        const std::string a = utf8(address);
        return onOwner(call, [&](Instance& i) { return i.connectCall(call, a); });
    }

    SIPX_RESULT sipxCallHold(SIPX_CALL call, int) override
    {
        return onOwner(call, [&](Instance& i) { return i.holdCall(call); });
    }

    SIPX_RESULT sipxCallDestroy(SIPX_CALL* call) override
    {
        if (!call)
            return SIPX_RESULT_INVALID_ARGS;
        const SIPX_CALL h = *call;
        *call = 0;
        return onOwner(h, [&](Instance& i) { return i.destroyCall(h); });
    }

    SIPX_RESULT sipxCallStartTone(SIPX_CALL call, int tone, int local, int remote) override
    {
        return onOwner(call, [&](Instance& i) { return i.startTone(call, tone, local != 0, remote != 0); });
    }

    SIPX_RESULT sipxCallStopTone(SIPX_CALL call) override
    {
        return onOwner(call, [&](Instance& i) { return i.stopTone(call); });
    }

    SIPX_RESULT sipxCallAudioRecordFileStart(SIPX_CALL call, const char* path) override
    {
        if (!path)
            return SIPX_RESULT_INVALID_ARGS;
        const std::string p = localPath(path);
        return onOwner(call, [&](Instance& i) { return i.recordStart(call, p); });
    }

    SIPX_RESULT sipxCallAudioRecordFileStop(SIPX_CALL call) override
    {
        return onOwner(call, [&](Instance& i) { return i.recordStop(call); });
    }

    SIPX_RESULT sipxConferenceCreate(SIPX_INST instance, SIPX_CONF* conference) override
    {
        if (!conference)
            return SIPX_RESULT_INVALID_ARGS;
        return onInstance(instance, [&](Instance& i) { return i.createConference(conference); });
    }

    SIPX_RESULT sipxConferenceHold(SIPX_CONF conference, int) override
    {
        return onOwner(conference, [&](Instance& i) { return i.holdConference(conference, true); });
    }

    SIPX_RESULT sipxConferenceUnhold(SIPX_CONF conference) override
    {
        return onOwner(conference, [&](Instance& i) { return i.holdConference(conference, false); });
    }

    SIPX_RESULT sipxConferenceAdd(SIPX_CONF conference, SIPX_LINE line, const char* address, SIPX_CALL* call,
                                  int, const void*, const void*, int, const SIPX_CALL_OPTIONS*) override
    {
        if (!address || !call)
            return SIPX_RESULT_INVALID_ARGS;
        const std::string a = utf8(address);
        return onOwner(conference, [&](Instance& i) { return i.addToConference(conference, line, a, call); });
    }

    SIPX_RESULT sipxConferenceDestroy(SIPX_CONF conference) override
    {
        return onOwner(conference, [&](Instance& i) { return i.destroyConference(conference); });
    }

    SIPX_RESULT sipxAudioSetInputVolume(SIPX_INST instance, int level) override
    {
        return onInstance(instance, [&](Instance& i) { return i.setInputVolume(level); });
    }

    SIPX_RESULT sipxAudioMuteInput(SIPX_INST instance, int mute) override
    {
        return onInstance(instance, [&](Instance& i) { return i.muteInput(mute != 0); });
    }

    SIPX_RESULT sipxAudioMuteOutput(SIPX_INST instance, int mute) override
    {
        return onInstance(instance, [&](Instance& i) { return i.muteOutput(mute != 0); });
    }

    SIPX_RESULT sipxAudioSetAGCMode(SIPX_INST instance, int mode) override
    {
        return onInstance(instance, [&](Instance& i) { return i.setAgc(mode != 0); });
    }

    SIPX_RESULT sipxAudioSetNoiseReductionMode(SIPX_INST instance, int mode) override
    {
        return onInstance(instance, [&](Instance& i) { return i.setNoiseReduction(mode != 0); });
    }

    SIPX_RESULT sipxAudioSetAECMode(SIPX_INST instance, int mode) override
    {
        return onInstance(instance, [&](Instance& i) { return i.setEchoCancellation(mode != 0); });
    }

    SIPX_RESULT sipxAudioSetInputDevice(SIPX_INST instance, const char* name, int) override
    {
        if (!name)
            return SIPX_RESULT_INVALID_ARGS;
        const std::string n = utf8(name);
        return onInstance(instance, [&](Instance& i) { return i.setDevice(n, true); });
    }

    SIPX_RESULT sipxAudioSetOutputDevice(SIPX_INST instance, const char* name, int) override
    {
        if (!name)
            return SIPX_RESULT_INVALID_ARGS;
        const std::string n = utf8(name);
        return onInstance(instance, [&](Instance& i) { return i.setDevice(n, false); });
    }

    SIPX_RESULT sipxAudioGetInputEnergy(SIPX_INST instance, int, double* energy) override
    {
        if (!energy)
            return SIPX_RESULT_INVALID_ARGS;
        return onInstance(instance, [&](Instance& i) {
            *energy = i.energy(true);
            return SIPX_RESULT_SUCCESS;
        });
    }

    SIPX_RESULT sipxAudioGetOutputEnergy(SIPX_INST instance, int, double* energy) override
    {
        if (!energy)
            return SIPX_RESULT_INVALID_ARGS;
        return onInstance(instance, [&](Instance& i) {
            *energy = i.energy(false);
            return SIPX_RESULT_SUCCESS;
        });
    }

    SIPX_RESULT sipxAudioGetNumInputDevices(SIPX_INST instance, int* count) override
    {
        return countDevices(instance, count, true);
    }

    SIPX_RESULT sipxAudioGetNumOutputDevices(SIPX_INST instance, int* count) override
    {
        return countDevices(instance, count, false);
    }

    SIPX_RESULT sipxAudioGetInputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size) override
    {
        return deviceName(instance, index, buffer, size, true);
    }

    SIPX_RESULT sipxAudioGetOutputDeviceName(SIPX_INST instance, int index, char* buffer, size_t* size) override
    {
        return deviceName(instance, index, buffer, size, false);
    }

    SIPX_RESULT sipxCallAnswer(SIPX_CALL call) override
    {
        return onOwner(call, [&](Instance& i) { return i.answerCall(call); });
    }

    SIPX_RESULT sipxCallReject(SIPX_CALL call, int statusCode) override
    {
        if (statusCode < 400 || statusCode > 699)
            return SIPX_RESULT_INVALID_ARGS;
        return onOwner(call, [&](Instance& i) { return i.rejectCall(call, statusCode); });
    }

    SIPX_RESULT sipxCallGetRemoteID(SIPX_CALL call, char* id, size_t maxLength) override
    {
        return callId(call, id, maxLength, true);
    }

    SIPX_RESULT sipxCallGetLocalID(SIPX_CALL call, char* id, size_t maxLength) override
    {
        return callId(call, id, maxLength, false);
    }

private:
    static SIPX_RESULT callId(SIPX_CALL call, char* id, size_t maxLength, bool remote)
    {
        if (!id || maxLength == 0)
            return SIPX_RESULT_INVALID_ARGS;
        return onOwner(call, [&](Instance& i) {
            const auto a = i.callAddress(call, remote);
            if (!a)
                return SIPX_RESULT_INVALID_HANDLE;
            if (a->size() + 1 > maxLength) {
                std::memcpy(id, a->data(), maxLength - 1);
                id[maxLength - 1] = '\0';
                return SIPX_RESULT_BUFFER_TOO_SMALL;
            }
            std::memcpy(id, a->c_str(), a->size() + 1);
            return SIPX_RESULT_SUCCESS;
        });
    }

    static SIPX_RESULT countDevices(SIPX_INST instance, int* count, bool input)
    {
        if (!count)
            return SIPX_RESULT_INVALID_ARGS;
        return onInstance(instance, [&](Instance& i) {
            *count = static_cast<int>(i.deviceNames(input).size());
            return SIPX_RESULT_SUCCESS;
        });
    }

    static SIPX_RESULT deviceName(SIPX_INST instance, int index, char* buffer, size_t* size, bool input)
    {
        if (!size || (!buffer && *size > 0))
            return SIPX_RESULT_INVALID_ARGS;
        return onInstance(instance, [&](Instance& i) {
            const auto names = i.deviceNames(input);
            if (index < 0 || static_cast<size_t>(index) >= names.size())
                return SIPX_RESULT_INVALID_ARGS;
            const std::string& n = names[static_cast<size_t>(index)];
            const size_t need = n.size() + 1;
            if (*size < need) {
                *size = need;
                return SIPX_RESULT_BUFFER_TOO_SMALL;
            }
            std::memcpy(buffer, n.c_str(), need);
            *size = need;
            return SIPX_RESULT_SUCCESS;
        });
    }
};

} // namespace

float inputGainDb(int level)
{
    level = std::clamp(level, 0, 100);
    return level == 0 ? -120.0f : static_cast<float>(20.0 * std::log10(level / 98.0));
}

double energyOf(float dbm0)
{
    if (!(dbm0 > -60.0f))  // -120 is silence; NaN too
        return 0.0;
    if (dbm0 >= 0.0f)
        return 100.0;
    return (dbm0 + 60.0) * 100.0 / 60.0;
}

void setEngineSettings(const EngineSettings& settings)
{
    std::lock_guard lock(g_settingsMutex);
    g_settings = settings;
}

EngineSettings engineSettings()
{
    std::lock_guard lock(g_settingsMutex);
    return g_settings;
}

SipxApi& linphoneEngine()
{
    static LinphoneEngine engine;
    return engine;
}

} // namespace velkor::tel

// The engine linked into an executable, found by the sipx* functions.
extern "C" velkor::tel::SipxApi* velkor_linked_engine()
{
    return &velkor::tel::linphoneEngine();
}
