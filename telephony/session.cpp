#include "telephony/session.h"

#include <cstring>

namespace velkor::tel {

SipSession::SipSession(SessionHost& host, UiExecutor ui)
    : host_(host), ui_(std::move(ui)), dispatch_(std::make_shared<EventDispatch>(*this, ui_))
{
}

SipSession::~SipSession()
{
    if (!ended_)
        end(false);
}

std::string SipSession::identity() const
{
    return "sip:" + account.sipUser + "@" + account.sipServer;
}

void SipSession::start()
{
    registered_ = 0;
    handles.instance = 0;
    const std::string id = identity();
    if (sipxInitialize(&handles.instance, 14500, -1, -1, 8000, 64, "sipx", "0.0.0.0", 0) != SIPX_RESULT_SUCCESS) {
        handles.instance = 0;
        host_.showMessage(kStartFailedText);
        return;
    }
    sipxConfigSetUserAgentName(handles.instance, "Simple Agent (sipXtapi)", 0);
    sipxEventListenerAdd(handles.instance, &EventDispatch::listener, dispatch_.get());
    sipxConfigEnableRport(handles.instance, 1);
    if (sipxLineAdd(handles.instance, id.c_str(), &handles.line, 0) != SIPX_RESULT_SUCCESS) {
        host_.showMessage(kStartFailedText);
        return;
    }
    sipxLineAddCredential(handles.line, account.sipUser.c_str(), account.password.c_str(), "");
    if (sipxLineRegister(handles.line, 1) != SIPX_RESULT_SUCCESS)
        host_.showMessage(kStartFailedText);
}

void SipSession::configure()
{
    const SIPX_INST inst = handles.instance;
    if (inst == 0)
        return;
    sipxConfigKeepAliveAdd(inst, 0, 3, account.keepAliveHost.c_str(), account.keepAlivePort, 30);
    sipxAudioSetInputVolume(inst, kDefaultInputVolume);
    sipxAudioSetAGCMode(inst, audio.automaticGain ? 1 : 0);
    sipxAudioSetAECMode(inst, audio.echoCancellation ? 2 : 0);
    sipxConfigSetAudioCodecPreferences(inst, 1);
    sipxAudioSetNoiseReductionMode(inst, audio.noiseReduction ? 1 : 0);
    sipxConfigSetOutboundDTMFMode(inst, 2);
    sipxAudioSetInputDevice(inst, audio.inputDevice.c_str(), 0);
    sipxAudioSetOutputDevice(inst, audio.outputDevice.c_str(), 0);
}

void SipSession::end(bool callInProgress)
{
    if (ended_)
        return;
    ended_ = true;
    if (handles.instance != 0) {
        if (callInProgress)
            sipxCallHold(handles.mainCall, 1);
        sipxCallDestroy(&handles.mainCall);
        sipxEventListenerRemove(handles.instance, &EventDispatch::listener, nullptr);
        sipxLineRegister(handles.line, 0);
        sipxUnInitialize(handles.instance, 1);
    }
    // Effects already handed to the UI thread but not yet run are dropped.
    dispatch_.reset();
}

void SipSession::detachMultiParty()
{
    legs_ = nullptr;
    handles.legs = {0, 0, 0};
}

void SipSession::callEvent(SIPX_CALL call, int32_t code)
{
    int message = 0;
    void (LegHandlers::*handler)(int) = nullptr;
    switch (code) {
    case SIPX_CALLSTATE_CONNECTED:
        message = WM_CALL_CONNECTED;
        handler = &LegHandlers::onLegConnected;
        break;
    case SIPX_CALLSTATE_ALERTING:
        message = WM_CALL_RINGING;
        handler = &LegHandlers::onLegRinging;
        break;
    case SIPX_CALLSTATE_DISCONNECTED:
        message = WM_CALL_DISCONNECTED;
        handler = &LegHandlers::onLegDisconnected;
        break;
    default:
        return;
    }
    if (call == 0)  // matches no call, not even an empty slot
        return;
    // The four comparisons are independent of each other.
    if (call == handles.mainCall)
        host_.postMessage(message);
    for (int i = 0; i < 3; ++i)
        if (legs_ && call == handles.legs[static_cast<size_t>(i)])
            (legs_->*handler)(i + 1);
}

void SipSession::lineEvent(int32_t code)
{
    if (code == SIPX_LINESTATE_REGISTER_FAILED) {
        registered_ = 0;
        host_.registeredChanged(0);
        host_.setStatusText(kRegisterFailedText);
        host_.playSound(kSoundRegisterFailed);
    } else if (code == SIPX_LINESTATE_REGISTERED) {
        registered_ = 1;
        host_.registeredChanged(1);
        host_.setStatusText(kRegisteredText);
        sipxAudioSetInputVolume(handles.instance, kDefaultInputVolume);
        host_.startTimer(kMeterTimerId, kMeterTimerMs);
        host_.playSound(kSoundRegistered);
    }
}

bool EventDispatch::listener(SIPX_EVENT_CATEGORY category, void* info, void* userData)
{
    if (userData && info)
        static_cast<EventDispatch*>(userData)->onEvent(category, info);
    return false;
}

// Engine thread: read the record by its field offsets, then hand over.
void EventDispatch::onEvent(SIPX_EVENT_CATEGORY category, const void* info)
{
    const auto* bytes = static_cast<const unsigned char*>(info);
    auto field = [bytes](size_t offset) {
        int32_t v;
        std::memcpy(&v, bytes + offset, sizeof v);
        return v;
    };
    std::weak_ptr<EventDispatch> self = weak_from_this();
    SipSession* session = &session_;
    if (category == SIPX_EVENT_CALLSTATE) {
        const auto call = static_cast<SIPX_CALL>(field(4));
        const int32_t code = field(12);
        if (code != SIPX_CALLSTATE_ALERTING && code != SIPX_CALLSTATE_CONNECTED && code != SIPX_CALLSTATE_DISCONNECTED)
            return;
        ui_([self, session, call, code] {
            if (self.lock())
                session->callEvent(call, code);
        });
    } else if (category == SIPX_EVENT_LINESTATE) {
        const int32_t code = field(12);
        if (code != SIPX_LINESTATE_REGISTERED && code != SIPX_LINESTATE_REGISTER_FAILED)
            return;
        ui_([self, session, code] {
            if (self.lock())
                session->lineEvent(code);
        });
    } else if (category == SIPX_EVENT_TEXT) {
        const auto* record = static_cast<const SIPX_TEXT_INFO*>(info);
        if (!record->text)
            return;
        std::string text(record->text, record->length);
        // Shown on the UI thread; the engine thread goes on at once.
        ui_([self, session, text = std::move(text)] {
            if (self.lock())
                session->host_.showMessage(text);
        });
    }
}

} // namespace velkor::tel
