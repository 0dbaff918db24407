// The SIP session and the event dispatch against the fake engine.
#include "telephony/fake_sipx.h"
#include "telephony/session.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using velkor::tel::FakeSipx;
using velkor::tel::LegHandlers;
using velkor::tel::ScopedSipxApi;
using velkor::tel::SessionHost;
using velkor::tel::SipSession;

namespace {

const std::string kFailed = "\xB3\xCC\xD0\xF2\xC6\xF4\xB6\xAF\xCA\xA7\xB0\xDC!";                 // 程序启动失败!
const std::string kRefused = "\xD7\xA2\xB2\xE1\xB7\xFE\xCE\xF1\xC6\xF7\xCA\xA7\xB0\xDC";          // 注册服务器失败
const std::string kWelcome = "\xB3\xC9\xB9\xA6\xB5\xC7\xC2\xBD.\xC7\xEB\xCA\xE4\xC8\xEB\xBA\xF4\xBD\xD0\xBA\xC5\xC2\xEB";  // 成功登陆.请输入呼叫号码

// The UI thread's queue: tasks wait until the test (the UI thread) runs them.
class UiQueue {
public:
    velkor::tel::UiExecutor executor()
    {
        return [this](std::function<void()> task) {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        };
    }
    size_t pending()
    {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }
    void runAll()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty())
                    return;
                task = std::move(tasks_.front());
                tasks_.erase(tasks_.begin());
            }
            task();
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::function<void()>> tasks_;
};

// The main window's side, as a list of effects; every effect must come on the UI thread.
class Window : public SessionHost, public LegHandlers {
public:
    std::vector<std::string> effects;
    std::thread::id uiThread = std::this_thread::get_id();
    bool offThread = false;

    void postMessage(int m) override { add("post " + std::to_string(m)); }
    void setStatusText(const std::string& t) override { add("status " + t); }
    void startTimer(int id, int ms) override { add("timer " + std::to_string(id) + " " + std::to_string(ms)); }
    void showMessage(const std::string& t) override { add("box " + t); }
    void playSound(int cue) override { add("sound " + std::to_string(cue)); }
    void registeredChanged(int flag) override { add("registered " + std::to_string(flag)); }
    void onLegRinging(int leg) override { add("leg " + std::to_string(leg) + " ringing"); }
    void onLegConnected(int leg) override { add("leg " + std::to_string(leg) + " connected"); }
    void onLegDisconnected(int leg) override { add("leg " + std::to_string(leg) + " disconnected"); }

private:
    void add(std::string e)
    {
        offThread = offThread || std::this_thread::get_id() != uiThread;
        effects.push_back(std::move(e));
    }
};

class SessionTest : public ::testing::Test {
protected:
    SessionTest() : use(fake), session(window, ui.executor())
    {
        session.account = {"8001", "pw", "10.0.0.1:5060", "10.0.0.1", 5060};
        session.audio = {"mic 1", "speaker 1", 0, 0, 0};
    }

    // Starts and configures, then forgets the calls made so far.
    void startSession()
    {
        session.start();
        session.configure();
        fake.clearCalls();
    }

    // Fires from the engine's thread, then lets the UI thread run what was handed over.
    void call(SIPX_CALL h, int32_t code)
    {
        fake.fireCallEvent(h, code);
        ui.runAll();
    }
    void line(int32_t code)
    {
        fake.fireLineEvent(session.handles.line, code);
        ui.runAll();
    }

    FakeSipx fake;
    ScopedSipxApi use;
    UiQueue ui;
    Window window;
    SipSession session;
};

TEST_F(SessionTest, StartAndConfigureCallTheEngineInOrder)
{
    session.audio.echoCancellation = 1;
    session.audio.automaticGain = 1;
    session.start();
    ASSERT_NE(session.handles.instance, 0u);
    ASSERT_NE(session.handles.line, 0u);
    session.configure();
    const std::string inst = std::to_string(session.handles.instance);
    const std::string ln = std::to_string(session.handles.line);
    EXPECT_EQ(session.identity(), "sip:8001@10.0.0.1:5060");
    EXPECT_EQ(fake.callTexts(), (std::vector<std::string>{
        "sipxInitialize(out, 14500, -1, -1, 8000, 64, \"sipx\", \"0.0.0.0\", 0)",
        "sipxConfigSetUserAgentName(" + inst + ", \"Simple Agent (sipXtapi)\", 0)",
        "sipxEventListenerAdd(" + inst + ", ptr, ptr)",
        "sipxConfigEnableRport(" + inst + ", 1)",
        "sipxLineAdd(" + inst + ", \"sip:8001@10.0.0.1:5060\", out, 0)",
        "sipxLineAddCredential(" + ln + ", \"8001\", \"pw\", \"\")",
        "sipxLineRegister(" + ln + ", 1)",
        "sipxConfigKeepAliveAdd(" + inst + ", 0, 3, \"10.0.0.1\", 5060, 30)",
        "sipxAudioSetInputVolume(" + inst + ", 98)",
        "sipxAudioSetAGCMode(" + inst + ", 1)",
        "sipxAudioSetAECMode(" + inst + ", 2)",
        "sipxConfigSetAudioCodecPreferences(" + inst + ", 1)",
        "sipxAudioSetNoiseReductionMode(" + inst + ", 0)",
        "sipxConfigSetOutboundDTMFMode(" + inst + ", 2)",
        "sipxAudioSetInputDevice(" + inst + ", \"mic 1\", 0)",
        "sipxAudioSetOutputDevice(" + inst + ", \"speaker 1\", 0)",
    }));
    EXPECT_TRUE(window.effects.empty());
}

TEST_F(SessionTest, ProcessingModesFollowTheFlags)
{
    struct Case { int ec, nr, agc; const char *aec, *nrMode, *agcMode; };
    for (const Case c : {Case{0, 0, 0, "0", "0", "0"}, Case{1, 1, 1, "2", "1", "1"}, Case{7, 0, 3, "2", "0", "1"}}) {
        fake.clearCalls();
        session.handles.instance = 5;
        session.audio.echoCancellation = c.ec;
        session.audio.noiseReduction = c.nr;
        session.audio.automaticGain = c.agc;
        session.configure();
        EXPECT_EQ(fake.callTexts("sipxAudioSetAECMode"), std::vector<std::string>{std::string("sipxAudioSetAECMode(5, ") + c.aec + ")"});
        EXPECT_EQ(fake.callTexts("sipxAudioSetNoiseReductionMode"),
                  std::vector<std::string>{std::string("sipxAudioSetNoiseReductionMode(5, ") + c.nrMode + ")"});
        EXPECT_EQ(fake.callTexts("sipxAudioSetAGCMode"), std::vector<std::string>{std::string("sipxAudioSetAGCMode(5, ") + c.agcMode + ")"});
    }
    session.handles.instance = 0;
}

TEST_F(SessionTest, EachStartFailureShowsTheMessageOnceAndStopsThere)
{
    struct Case { const char* failing; const char* lastCall; bool instance; };
    for (const Case c : {Case{"sipxInitialize", "sipxInitialize", false}, Case{"sipxLineAdd", "sipxLineAdd", true},
                         Case{"sipxLineRegister", "sipxLineRegister", true}}) {
        SCOPED_TRACE(c.failing);
        FakeSipx f;
        ScopedSipxApi scoped(f);
        Window w;
        UiQueue q;
        SipSession s(w, q.executor());
        s.account = session.account;
        f.setResult(c.failing, 1);
        s.start();
        EXPECT_EQ(w.effects, std::vector<std::string>{"box " + kFailed});
        EXPECT_EQ(f.calls().back().name, c.lastCall);
        EXPECT_EQ(s.handles.instance != 0, c.instance);
        EXPECT_EQ(s.registered(), 0);
        f.clearCalls();
        s.configure();  // nothing without an instance
        s.end(false);
        if (!c.instance) {
            EXPECT_TRUE(f.callTexts().empty());
        } else {
            EXPECT_EQ(f.callTexts("sipxUnInitialize").size(), 1u);
        }
        EXPECT_EQ(w.effects.size(), 1u);
    }
}

TEST_F(SessionTest, EndHoldsACallInProgressThenTearsDown)
{
    for (bool inCall : {true, false}) {
        SCOPED_TRACE(inCall);
        FakeSipx f;
        ScopedSipxApi scoped(f);
        Window w;
        UiQueue q;
        SipSession s(w, q.executor());
        s.account = session.account;
        s.start();
        s.handles.mainCall = inCall ? 42 : 0;
        f.clearCalls();
        s.end(inCall);
        const std::string inst = std::to_string(s.handles.instance), ln = std::to_string(s.handles.line);
        std::vector<std::string> expected;
        if (inCall)
            expected.push_back("sipxCallHold(42, 1)");
        expected.push_back(inCall ? "sipxCallDestroy(&42)" : "sipxCallDestroy(&0)");
        expected.push_back("sipxEventListenerRemove(" + inst + ", ptr, null)");
        expected.push_back("sipxLineRegister(" + ln + ", 0)");
        expected.push_back("sipxUnInitialize(" + inst + ", 1)");
        EXPECT_EQ(f.callTexts(), expected);
        EXPECT_EQ(s.handles.mainCall, 0u);
        EXPECT_EQ(f.listenerCount(), 0);
        s.end(false);  // once only
        EXPECT_EQ(f.callTexts().size(), expected.size());
    }
}

TEST_F(SessionTest, LineEventsSetFlagStatusTimerVolumeAndSound)
{
    startSession();
    const std::string inst = std::to_string(session.handles.instance);
    line(SIPX_LINESTATE_REGISTERED);
    EXPECT_EQ(session.registered(), 1);
    line(SIPX_LINESTATE_REGISTERED);  // all of it again; the host replaces timer 2
    line(SIPX_LINESTATE_REGISTER_FAILED);
    EXPECT_EQ(session.registered(), 0);
    line(SIPX_LINESTATE_REGISTERING);  // others: nothing
    line(SIPX_LINESTATE_UNREGISTERED);
    line(22222);
    const std::vector<std::string> registered = {"registered 1", "status " + kWelcome, "timer 2 50", "sound 152"};
    std::vector<std::string> expected = registered;
    expected.insert(expected.end(), registered.begin(), registered.end());
    expected.insert(expected.end(), {"registered 0", "status " + kRefused, "sound 151"});
    EXPECT_EQ(window.effects, expected);
    EXPECT_EQ(fake.callTexts(), (std::vector<std::string>{"sipxAudioSetInputVolume(" + inst + ", 98)",
                                                           "sipxAudioSetInputVolume(" + inst + ", 98)"}));
    EXPECT_FALSE(window.offThread);
}

TEST_F(SessionTest, CallEventsPostForTheMainCallAndCallLegHandlers)
{
    startSession();
    session.attachMultiParty(&window);
    session.handles.mainCall = 10;
    session.handles.legs = {11, 12, 13};
    struct Case { SIPX_CALL call; int32_t code; std::vector<std::string> effects; };
    const Case cases[] = {
        {10, SIPX_CALLSTATE_ALERTING, {"post 5503"}},
        {10, SIPX_CALLSTATE_CONNECTED, {"post 5502"}},
        {10, SIPX_CALLSTATE_DISCONNECTED, {"post 5501"}},
        {11, SIPX_CALLSTATE_ALERTING, {"leg 1 ringing"}},
        {12, SIPX_CALLSTATE_CONNECTED, {"leg 2 connected"}},
        {13, SIPX_CALLSTATE_DISCONNECTED, {"leg 3 disconnected"}},
        {10, SIPX_CALLSTATE_INCOMING, {}},   // an incoming call changes nothing
        {10, 6000, {}},
        {99, SIPX_CALLSTATE_CONNECTED, {}},  // no such call
    };
    for (const auto& c : cases) {
        window.effects.clear();
        call(c.call, c.code);
        EXPECT_EQ(window.effects, c.effects) << c.call << " " << c.code;
    }
    // The comparisons are independent: a handle in two places reaches both.
    session.handles.legs = {10, 0, 10};
    window.effects.clear();
    call(10, SIPX_CALLSTATE_CONNECTED);
    EXPECT_EQ(window.effects, (std::vector<std::string>{"post 5502", "leg 1 connected", "leg 3 connected"}));
    EXPECT_FALSE(window.offThread);
}

TEST_F(SessionTest, NoLegHandlerWithoutAMultiPartyWindow)
{
    startSession();
    session.handles.mainCall = 10;
    // Never opened: the slots are 0 and nothing reaches a handler, not even for a handle 0.
    call(10, SIPX_CALLSTATE_CONNECTED);
    call(0, SIPX_CALLSTATE_CONNECTED);
    EXPECT_EQ(window.effects, std::vector<std::string>{"post 5502"});
    // Opened, a leg dialled, then closed: the slot and the reference are cleared.
    session.attachMultiParty(&window);
    session.handles.legs[1] = 21;
    call(21, SIPX_CALLSTATE_ALERTING);
    session.detachMultiParty();
    EXPECT_EQ(session.handles.legs, (std::array<SIPX_CALL, 3>{0, 0, 0}));
    call(21, SIPX_CALLSTATE_DISCONNECTED);
    call(0, SIPX_CALLSTATE_DISCONNECTED);
    EXPECT_EQ(window.effects, (std::vector<std::string>{"post 5502", "leg 2 ringing"}));
}

TEST_F(SessionTest, EffectsWaitForTheUiThreadAndKeepTheEventOrder)
{
    startSession();
    session.handles.mainCall = 10;
    fake.fireCallEvent(10, SIPX_CALLSTATE_ALERTING);
    fake.fireLineEvent(session.handles.line, SIPX_LINESTATE_REGISTERED);
    fake.fireCallEvent(10, SIPX_CALLSTATE_CONNECTED);
    fake.fireLineEvent(session.handles.line, SIPX_LINESTATE_REGISTER_FAILED);
    // The listener returned on the engine thread without touching the window.
    EXPECT_TRUE(window.effects.empty());
    EXPECT_EQ(session.registered(), 0);
    EXPECT_EQ(ui.pending(), 4u);
    ui.runAll();
    EXPECT_EQ(window.effects, (std::vector<std::string>{"post 5503", "registered 1", "status " + kWelcome,
                                                        "timer 2 50", "sound 152", "post 5502", "registered 0",
                                                        "status " + kRefused, "sound 151"}));
    EXPECT_FALSE(window.offThread);
}

TEST_F(SessionTest, TextEventIsShownOnTheUiThreadWithoutHoldingTheEngine)
{
    startSession();
    const std::string text = "\xC4\xE3\xBA\xC3 hello";  // 你好 hello
    fake.fireText(text);  // returns although no box has been shown, let alone closed
    EXPECT_TRUE(window.effects.empty());
    // The engine thread goes on delivering while the box waits for the UI thread.
    session.handles.mainCall = 10;
    fake.fireCallEvent(10, SIPX_CALLSTATE_CONNECTED);
    ui.runAll();
    EXPECT_EQ(window.effects, (std::vector<std::string>{"box " + text, "post 5502"}));
    EXPECT_FALSE(window.offThread);
}

TEST_F(SessionTest, EffectsPendingAtTheEndAreDropped)
{
    startSession();
    session.handles.mainCall = 10;
    fake.fireCallEvent(10, SIPX_CALLSTATE_DISCONNECTED);
    fake.fireLineEvent(session.handles.line, SIPX_LINESTATE_REGISTERED);
    session.end(false);
    ui.runAll();
    EXPECT_TRUE(window.effects.empty());
    fake.fireCallEvent(10, SIPX_CALLSTATE_CONNECTED);  // the listener is gone
    EXPECT_EQ(ui.pending(), 0u);
}

TEST_F(SessionTest, ListenerReturnsFalseAndIgnoresOtherCategories)
{
    startSession();
    session.handles.mainCall = 10;
    SIPX_CALLSTATE_INFO callInfo {sizeof(SIPX_CALLSTATE_INFO), 10, 0, SIPX_CALLSTATE_CONNECTED, 0};
    SIPX_LINESTATE_INFO lineInfo {sizeof(SIPX_LINESTATE_INFO), session.handles.line, 0, SIPX_LINESTATE_REGISTERED, 0};
    EXPECT_EQ(fake.fireEvent(SIPX_EVENT_CALLSTATE, &callInfo), std::vector<bool>{false});
    EXPECT_EQ(fake.fireEvent(SIPX_EVENT_LINESTATE, &lineInfo), std::vector<bool>{false});
    // The same records under other categories are nothing.
    for (SIPX_EVENT_CATEGORY other : {2, 3, 5, 8, 10}) {
        EXPECT_EQ(fake.fireEvent(other, &callInfo), std::vector<bool>{false});
        EXPECT_EQ(fake.fireEvent(other, &lineInfo), std::vector<bool>{false});
    }
    EXPECT_EQ(ui.pending(), 2u);
}

} // namespace
