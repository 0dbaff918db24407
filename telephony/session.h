// The one SIP session of the main window and the dispatch of engine events.
//
// The main window owns a SipSession and implements SessionHost. Every effect
// of an engine event reaches the host on the UI thread: the listener, which
// runs on the engine thread, only copies the event and hands a task to the
// injected UI executor, so effects keep the order of the events and the
// engine thread never waits for the window (not even for a message box).
#pragma once

#include "telephony/sipx.h"

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace velkor::tel {

// Window messages posted to the main window (both parameters 0).
inline constexpr int WM_CALL_DISCONNECTED = 5501;
inline constexpr int WM_CALL_CONNECTED = 5502;
inline constexpr int WM_CALL_RINGING = 5503;

// Texts (GBK).
inline constexpr const char* kStartFailedText = "\xB3\xCC\xD0\xF2\xC6\xF4\xB6\xAF\xCA\xA7\xB0\xDC!";  // 程序启动失败!
inline constexpr const char* kRegisterFailedText =
    "\xD7\xA2\xB2\xE1\xB7\xFE\xCE\xF1\xC6\xF7\xCA\xA7\xB0\xDC";  // 注册服务器失败
inline constexpr const char* kRegisteredText =
    "\xB3\xC9\xB9\xA6\xB5\xC7\xC2\xBD.\xC7\xEB\xCA\xE4\xC8\xEB\xBA\xF4\xBD\xD0\xBA\xC5\xC2\xEB";  // 成功登陆.请输入呼叫号码

inline constexpr int kSoundRegistered = 152;
inline constexpr int kSoundRegisterFailed = 151;
inline constexpr int kMeterTimerId = 2;
inline constexpr int kMeterTimerMs = 50;
inline constexpr int kDefaultInputVolume = 98;

// Runs a task on the UI thread, later, in the order tasks were handed over
// (for Qt: QMetaObject::invokeMethod(window, task, Qt::QueuedConnection)).
using UiExecutor = std::function<void(std::function<void()>)>;

// What the main window does for the session; every call is on the UI thread.
class SessionHost {
public:
    virtual ~SessionHost() = default;
    // Post (or handle) WM_CALL_DISCONNECTED / WM_CALL_CONNECTED / WM_CALL_RINGING.
    virtual void postMessage(int message) = 0;
    // The status line (static 1040).
    virtual void setStatusText(const std::string& gbk) = 0;
    // Start window timer id; a running timer of that id is replaced.
    virtual void startTimer(int id, int intervalMs) = 0;
    // A message box with the text, the application's name as caption and OK.
    virtual void showMessage(const std::string& gbk) = 0;
    virtual void playSound(int cue) = 0;
    // The registered flag changed (it is read with SipSession::registered()).
    virtual void registeredChanged(int /*flag*/) {}
};

// The per-leg handlers of the multi-party window; leg is 1, 2 or 3. Called on
// the UI thread.
class LegHandlers {
public:
    virtual ~LegHandlers() = default;
    virtual void onLegRinging(int leg) = 0;
    virtual void onLegConnected(int leg) = 0;
    virtual void onLegDisconnected(int leg) = 0;
};

// Account data the session uses (copied from the verified account).
struct SessionAccount {
    std::string sipUser;
    std::string password;
    std::string sipServer;       // host:port
    std::string keepAliveHost;   // host part of sipServer
    int keepAlivePort = 0;
};

// Audio settings of the session (from Call.xml, the audio window, Audio.xml).
struct SessionAudio {
    std::string inputDevice;
    std::string outputDevice;
    int echoCancellation = 0;
    int noiseReduction = 0;
    int automaticGain = 0;
};

// Handles of the session; 0 = none. The windows pass their addresses to the
// sipx* functions (sipxCallCreate(instance, line, &handles.mainCall), ...).
struct SessionHandles {
    SIPX_INST instance = 0;
    SIPX_LINE line = 0;
    SIPX_CALL mainCall = 0;
    SIPX_CONF conference = 0;
    std::array<SIPX_CALL, 3> legs{};  // leg-1 to leg-3 slots
};

class EventDispatch;

class SipSession {
public:
    SipSession(SessionHost& host, UiExecutor ui);
    ~SipSession();  // ends the session if end() was not called
    SipSession(const SipSession&) = delete;
    SipSession& operator=(const SipSession&) = delete;

    SessionAccount account;
    SessionAudio audio;
    SessionHandles handles;

    // "sip:" + SIP user + "@" + SIP server.
    std::string identity() const;

    // Starts the instance, adds the listener and the line and asks for the
    // registration; each of the three failures shows kStartFailedText.
    void start();
    // The configuration steps; nothing when the instance is 0.
    void configure();
    // Holds a call in progress, destroys the main call, removes the listener,
    // unregisters and uninitialises. The window then closes the login window.
    void end(bool callInProgress);

    // 1 while the line is registered (UI thread).
    int registered() const { return registered_; }

    // The multi-party window opened / closes. Detaching clears the reference
    // and the three leg slots, so no leg handler is reached without a window.
    void attachMultiParty(LegHandlers* window) { legs_ = window; }
    void detachMultiParty();

private:
    friend class EventDispatch;
    void callEvent(SIPX_CALL call, int32_t code);
    void lineEvent(int32_t code);

    SessionHost& host_;
    UiExecutor ui_;
    std::shared_ptr<EventDispatch> dispatch_;
    LegHandlers* legs_ = nullptr;
    int registered_ = 0;
    bool ended_ = false;
};

// The listener: runs on the engine thread, copies what it needs from the
// event record and hands the effects to the UI thread. Returns false.
class EventDispatch : public std::enable_shared_from_this<EventDispatch> {
public:
    EventDispatch(SipSession& session, UiExecutor ui) : session_(session), ui_(std::move(ui)) {}
    static bool listener(SIPX_EVENT_CATEGORY category, void* info, void* userData);

private:
    void onEvent(SIPX_EVENT_CATEGORY category, const void* info);
    SipSession& session_;
    UiExecutor ui_;
};

} // namespace velkor::tel
