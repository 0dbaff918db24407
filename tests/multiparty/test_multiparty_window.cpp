// The multi-party window with the fake engine: dial checks, leg events from the
// engine's thread, talk times on the virtual clock, hang-up and closing; and
// its opening from the main window's button.
#include "multiparty/multiparty_window.h"

#include "phone/main_window.h"
#include "platform/gbk.h"
#include "platform/ui/text.h"
#include "platform/ui/ui_thread.h"
#include "platform/ui/virtual_clock.h"
#include "telephony/fake_sipx.h"
#include "tests/support/seam_recorder.h"

#include <QApplication>
#include <QDir>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace velkor;
using namespace velkor::multiparty;
using gbk::lit;

namespace {

void drain()
{
    for (int i = 0; i < 4; ++i)
        ui::VirtualClock::deliverPending();
}

// The main window's side of the session, for a window made without one.
class Host : public tel::SessionHost {
public:
    void postMessage(int) override {}
    void setStatusText(const std::string&) override {}
    void startTimer(int, int) override {}
    void showMessage(const std::string&) override {}
    void playSound(int) override {}
};

struct MultiParty : ::testing::Test {
    test::SeamRecorder seams;
    tel::FakeSipx fake;
    tel::ScopedSipxApi use{fake};
    ui::VirtualClock clock{1273000000};
    Host host;
    // Engine effects reach the UI thread the way the main window hands them over.
    tel::SipSession session{host, [](std::function<void()> task) { ui::postToUi(std::move(task)); }};
    std::string balance = "5";
    std::unique_ptr<cduoren1> w;

    void SetUp() override
    {
        session.account.sipServer = "10.0.0.1:5060";
        session.start();
        w = std::make_unique<cduoren1>(session, [this] { return balance; });
        w->show();
        fake.clearCalls();
    }
    void TearDown() override { w.reset(); }

    void type(int leg, const std::string& number) { w->setItemText(kLegControls[leg - 1].number, number); }
    void click(int id) { QTest::mouseClick(w->control(id), Qt::LeftButton); }
    void dial(int leg, const std::string& number)
    {
        type(leg, number);
        click(kLegControls[leg - 1].call);
    }
    std::string status(int leg) const { return w->itemText(kLegControls[leg - 1].status); }
    SIPX_CALL leg(int n) const { return session.handles.legs[static_cast<std::size_t>(n - 1)]; }
    void fire(int n, int32_t code)
    {
        fake.fireCallEvent(leg(n), code);
        drain();
    }
    std::vector<std::string> calls(const char* name) const { return fake.callTexts(name); }
    static std::string h(SIPX_CALL handle) { return std::to_string(handle); }
};

TEST(TalkTime, ShowsHoursMinutesAndSecondsWithinADay)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "00:00:00"},         {59, "00:00:59"},          {3600 + 61, "01:01:01"},
        {86399, "23:59:59"},     {86400 + 3600, "01:00:00"}, {-5, "00:00:00"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(talkTime(seconds), text) << seconds;
}

TEST_F(MultiParty, OpeningCreatesAConferenceAndLimitsTheNumbersTo17Bytes)
{
    const SIPX_CONF conf = session.handles.conference;
    ASSERT_NE(conf, 0u);
    w.reset();
    fake.clearCalls();
    w = std::make_unique<cduoren1>(session, [this] { return balance; });
    const SIPX_CONF second = session.handles.conference;
    EXPECT_NE(second, conf) << "a new conference at each opening";
    EXPECT_EQ(fake.callTexts(), (std::vector<std::string>{"sipxConferenceCreate(1, out)",
                                                          "sipxConferenceHold(" + h(second) + ", 1)",
                                                          "sipxConferenceUnhold(" + h(second) + ")"}));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("多人通话模式(多方通话)"));
    EXPECT_EQ(w->itemText(kCall2), lit("呼 叫"));
    EXPECT_EQ(w->itemText(kHangUp2), lit("挂 断"));

    auto* edit = w->controlAs<QLineEdit>(kNumber1);
    EXPECT_TRUE(edit->font().bold());
    w->show();
    QApplication::setActiveWindow(w.get());
    edit->setFocus();
    QTest::keyClicks(edit, "01234567890123456789");
    EXPECT_EQ(w->itemText(kNumber1), "01234567890123456");
    // A Chinese character counts two bytes: eight of nine fit.
    edit->clear();
    for (QChar ch : QStringLiteral("一二三四五六七八九")) { // typed through the input method
        QInputMethodEvent e;
        e.setCommitString(ch);
        QApplication::sendEvent(edit, &e);
    }
    EXPECT_EQ(w->itemText(kNumber1), lit("一二三四五六七八"));
}

TEST_F(MultiParty, DialChecksRunInOrderAndOnlyTheFirstFailureShows)
{
    struct Case {
        const char* balance;
        std::string number;
        const char* status; // empty: dialled
    } cases[] = {
        {"0.05", "012345678", "话费不足"},
        {"", "", "话费不足"}, // before the number is looked at
        {"abc", "012345678", "话费不足"},
        {"nan", "012345678", "话费不足"},
        {"0.1", "01234567", "号码错误"}, // 8 digits
        {"5", "0123-4567", "号码错误"},
        {"5", "12345678a", "号码错误"}, // digits are checked before the leading 0
        {"5", lit("０１２３４５６７８"), "号码错误"},
        {"5", "13912345678", "手机前加0"},
        {"0.1", "012345678", ""},
        {"0.1yuan", "013912345678", ""},
        {"5", "01234567890123456", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.balance) + " " + c.number);
        balance = c.balance;
        fake.clearCalls();
        seams.clear();
        dial(1, c.number);
        if (*c.status) {
            EXPECT_EQ(status(1), lit(c.status));
            EXPECT_EQ(seams.sounds(), std::vector<int>{151});
            EXPECT_TRUE(fake.callTexts().empty());
            EXPECT_EQ(w->busy(1), 0);
            continue;
        }
        EXPECT_EQ(status(1), lit("正在呼叫"));
        EXPECT_EQ(seams.sounds(), std::vector<int>{149});
        EXPECT_EQ(w->busy(1), 1);
        EXPECT_EQ(fake.callTexts(),
                  std::vector<std::string>{"sipxConferenceAdd(" + h(session.handles.conference) + ", " +
                                           h(session.handles.line) + ", \"sip:" + c.number +
                                           "@10.0.0.1:5060\", out, 1, null, null, 1, {24,1,1,1,1,0})"});
        EXPECT_EQ(leg(1), fake.lastCall());
        click(kHangUp1);
    }
}

TEST_F(MultiParty, ABusyLegsCallButtonChangesNothing)
{
    dial(2, "012345678");
    fire(2, SIPX_CALLSTATE_ALERTING);
    EXPECT_EQ(status(2), lit("正在震铃"));
    fake.clearCalls();
    seams.clear();
    type(2, "1");
    click(kCall2);
    balance = "0";
    click(kCall2);
    EXPECT_EQ(status(2), lit("正在震铃"));
    EXPECT_TRUE(fake.callTexts().empty());
    EXPECT_TRUE(seams.sounds().empty());
    EXPECT_EQ(w->busy(2), 1);
}

TEST_F(MultiParty, LegEventsFromTheEngineThreadTakeEffectInOrderWithTheirOwnTalkTimes)
{
    dial(1, "011111111");
    dial(2, "022222222");
    dial(3, "033333333");
    const SIPX_CALL l1 = leg(1), l2 = leg(2), l3 = leg(3);
    seams.clear();
    // Queued on the engine's thread back to back; the window sees them in that order.
    fake.fireCallEvent(l1, SIPX_CALLSTATE_ALERTING);
    fake.fireCallEvent(l2, SIPX_CALLSTATE_ALERTING);
    fake.fireCallEvent(l1, SIPX_CALLSTATE_CONNECTED);
    fake.fireCallEvent(l3, SIPX_CALLSTATE_CONNECTED);
    fake.fireCallEvent(l3, SIPX_CALLSTATE_DISCONNECTED);
    drain();
    EXPECT_EQ(status(1), lit("开始通话"));
    EXPECT_EQ(status(2), lit("正在震铃"));
    EXPECT_EQ(status(3), lit("通话结束"));
    EXPECT_EQ(seams.sounds(), std::vector<int>{153});
    EXPECT_EQ(w->connectTime(1), 1273000000);
    EXPECT_TRUE(w->timerActive(1));
    EXPECT_EQ(w->timerInterval(1), kTalkTimerMs);
    EXPECT_FALSE(w->timerActive(2));
    EXPECT_FALSE(w->timerActive(3));
    EXPECT_EQ((std::vector<int>{w->busy(1), w->busy(2), w->busy(3)}), (std::vector<int>{1, 1, 0}));

    clock.advance(983);
    EXPECT_EQ(status(1), lit("开始通话")) << "the first tick comes after 984 ms";
    clock.advance(3000 - 983); // ticks at 984, 1968, 2952 ms
    EXPECT_EQ(status(1), "00:00:02");
    fire(2, SIPX_CALLSTATE_CONNECTED); // at 3 s
    clock.advance(1968);                // leg 1 ticks at 4920, leg 2 at 4968 ms
    EXPECT_EQ(status(1), "00:00:04");
    EXPECT_EQ(status(2), "00:00:01");
    EXPECT_EQ(status(3), lit("通话结束"));

    // The far end of leg 1 hangs up: the count stops.
    fire(1, SIPX_CALLSTATE_DISCONNECTED);
    EXPECT_EQ(status(1), lit("通话结束"));
    clock.advance(5000);
    EXPECT_EQ(status(1), lit("通话结束"));
    EXPECT_EQ(w->busy(1), 0);
    EXPECT_TRUE(calls("sipxCallDestroy").empty()) << "an ended leg is not destroyed by its event";
}

TEST_F(MultiParty, RedialingALegReleasesTheCallTheFarEndEnded)
{
    dial(1, "011111111");
    const SIPX_CALL first = leg(1);
    fire(1, SIPX_CALLSTATE_DISCONNECTED);
    fake.clearCalls();
    dial(1, "011111111");
    const auto texts = fake.callTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "sipxCallDestroy(&" + h(first) + ")");
    EXPECT_EQ(texts[1].rfind("sipxConferenceAdd(", 0), 0u);
    EXPECT_NE(leg(1), first);
    EXPECT_EQ(status(1), lit("正在呼叫"));

    // A late event of the first call matches no leg any more.
    seams.clear();
    fake.fireCallEvent(first, SIPX_CALLSTATE_CONNECTED);
    drain();
    EXPECT_EQ(status(1), lit("正在呼叫"));
}

TEST_F(MultiParty, HangUpEndsTheLegInAnyState)
{
    dial(3, "033333333");
    fire(3, SIPX_CALLSTATE_CONNECTED);
    clock.advance(2000);
    const SIPX_CALL l3 = leg(3);
    fake.clearCalls();
    seams.clear();
    click(kHangUp3);
    EXPECT_EQ(fake.callTexts(), (std::vector<std::string>{"sipxCallHold(" + h(l3) + ", 1)",
                                                          "sipxCallDestroy(&" + h(l3) + ")"}));
    EXPECT_EQ(leg(3), 0u);
    EXPECT_EQ(status(3), "");
    EXPECT_EQ(w->busy(3), 0);
    EXPECT_FALSE(w->timerActive(3));
    EXPECT_EQ(seams.sounds(), std::vector<int>{145});

    // An idle leg: its status is cleared and the sound plays all the same.
    dial(1, "0123");
    EXPECT_EQ(status(1), lit("号码错误"));
    fake.clearCalls();
    seams.clear();
    click(kHangUp1);
    EXPECT_EQ(fake.callTexts(), (std::vector<std::string>{"sipxCallHold(0, 1)", "sipxCallDestroy(&0)"}));
    EXPECT_EQ(status(1), "");
    EXPECT_EQ(seams.sounds(), std::vector<int>{145});
}

TEST_F(MultiParty, ClosingEndsEveryLegReleasesTheConferenceAndDetaches)
{
    dial(1, "011111111");
    dial(3, "033333333");
    fire(1, SIPX_CALLSTATE_CONNECTED);
    const SIPX_CALL l1 = leg(1), l3 = leg(3);
    const SIPX_CONF conf = session.handles.conference;
    // An event already on its way to the UI thread when the window closes.
    fake.fireCallEvent(l3, SIPX_CALLSTATE_CONNECTED);
    fake.clearCalls();
    seams.clear();
    w->close();
    w.reset();
    EXPECT_EQ(fake.callTexts(), (std::vector<std::string>{
                                    "sipxCallHold(" + h(l1) + ", 1)",
                                    "sipxCallDestroy(&" + h(l1) + ")",
                                    "sipxCallHold(0, 1)",
                                    "sipxCallDestroy(&0)",
                                    "sipxCallHold(" + h(l3) + ", 1)",
                                    "sipxCallDestroy(&" + h(l3) + ")",
                                    "sipxConferenceDestroy(" + h(conf) + ")",
                                }));
    EXPECT_EQ(session.handles.conference, 0u);
    EXPECT_EQ(session.handles.legs, (std::array<SIPX_CALL, 3>{0, 0, 0}));
    // Late events reach no handler (a window that has gone would be touched otherwise).
    drain();
    fake.fireCallEvent(l1, SIPX_CALLSTATE_DISCONNECTED);
    fake.fireCallEvent(0, SIPX_CALLSTATE_DISCONNECTED);
    drain();
    EXPECT_TRUE(seams.sounds().empty());
    // Even a slot that still named a call would lead to no window now.
    session.handles.legs[0] = l1;
    fake.fireCallEvent(l1, SIPX_CALLSTATE_DISCONNECTED);
    drain();
    EXPECT_TRUE(seams.sounds().empty());
    session.handles.legs[0] = 0;
}

TEST_F(MultiParty, EscapeAndEnterDoNotCloseTheWindowTheCloseBoxDoes)
{
    bool stillOpen = false;
    QTimer::singleShot(0, w.get(), [&] {
        QApplication::setActiveWindow(w.get());
        auto* edit = w->control(kNumber2);
        edit->setFocus();
        type(2, "012345678");
        for (QWidget* target : {static_cast<QWidget*>(w.get()), edit}) {
            QTest::keyClick(target, Qt::Key_Escape);
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
        }
        stillOpen = w->isVisible() && w->inModalRun();
        w->close();
    });
    w->runModal();
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(w->busy(2), 0) << "Enter pressed no call button";
    EXPECT_TRUE(fake.callTexts().empty());
}

// ---------------------------------------------------------------------------
// Opening from the main window's multi-party button.

struct MainWindowButton : ::testing::Test {
    QTemporaryDir dir;
    QString savedDir = QDir::currentPath();
    test::SeamRecorder seams;
    tel::FakeSipx fake;
    tel::ScopedSipxApi use{fake};
    ui::VirtualClock clock{1273000000};
    std::unique_ptr<phone::CDial> main;

    void SetUp() override
    {
        QDir::setCurrent(dir.path());
        login::HandOver h;
        h.account.accountId = "80012345";
        h.account.balance = "0.50";
        h.account.sipServer = "10.0.0.1:5060";
        main = std::make_unique<phone::CDial>(h, nullptr);
        main->show();
        drain();
        seams.clear();
    }
    void TearDown() override
    {
        main.reset();
        QDir::setCurrent(savedDir);
    }
    void registerLine()
    {
        fake.fireLineEvent(fake.lastLine(), SIPX_LINESTATE_REGISTERED);
        drain();
        main->killTimer(phone::kMeterTimer);
        seams.clear();
        fake.clearCalls();
    }
    void clickButton() { QTest::mouseClick(main->control(phone::kMultiParty), Qt::LeftButton); }
    static cduoren1* openWindow()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<cduoren1*>(w); d && d->isVisible())
                return d;
        return nullptr;
    }
};

TEST_F(MainWindowButton, RefusesBeforeRegistrationAndDuringACall)
{
    clickButton();
    ASSERT_EQ(seams.boxes().size(), 1u);
    EXPECT_EQ(seams.boxes()[0].text, lit("登陆服务器失败.禁止进行任何操作"));
    EXPECT_TRUE(seams.sounds().empty());

    registerLine();
    main->setItemText(phone::kNumberBox, "0123");
    QTest::mouseClick(main->control(phone::kCall), Qt::LeftButton);
    ASSERT_EQ(main->inCall(), 1);
    seams.clear();
    fake.clearCalls();
    clickButton();
    EXPECT_TRUE(seams.boxes().empty());
    EXPECT_TRUE(seams.sounds().empty());
    EXPECT_TRUE(fake.callTexts().empty());
}

TEST_F(MainWindowButton, OpensModallyWithTheMainWindowsBalanceAndDetachesOnClosing)
{
    registerLine();
    std::vector<int> soundsOnOpening;
    std::string ringing, dialled;
    SIPX_CALL legCall = 0;
    QTimer::singleShot(0, main.get(), [&] {
        cduoren1* w = openWindow();
        if (!w) {
            ADD_FAILURE() << "no multi-party window";
            return;
        }
        EXPECT_EQ(w->parentWidget(), main.get());
        soundsOnOpening = seams.sounds();
        EXPECT_EQ(QApplication::activeModalWidget(), w);
        // The main window takes no input meanwhile (clicks as the window system
        // delivers them): no second window, no call.
        auto systemClick = [&](int id) {
            QWidget* button = main->control(id);
            QTest::mouseClick(main->windowHandle(), Qt::LeftButton, {},
                              button->mapTo(main.get(), button->rect().center()));
            drain();
        };
        QTimer::singleShot(0, main.get(), [w] { // were a second window to open, it would close here
            for (QWidget* t : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<cduoren1*>(t); d && d != w && d->isVisible()) {
                    ADD_FAILURE() << "a second multi-party window";
                    d->close();
                }
        });
        systemClick(phone::kMultiParty);
        main->setItemText(phone::kNumberBox, "0123456789");
        systemClick(phone::kCall);
        EXPECT_EQ(main->inCall(), 0);
        w->setItemText(kNumber2, "012345678");
        QTest::mouseClick(w->control(kCall2), Qt::LeftButton);
        dialled = w->itemText(kStatus2);
        legCall = main->session().handles.legs[1];
        fake.fireCallEvent(legCall, SIPX_CALLSTATE_ALERTING);
        drain();
        ringing = w->itemText(kStatus2);
        w->close();
    });
    clickButton();
    EXPECT_EQ(soundsOnOpening, std::vector<int>{148});
    EXPECT_EQ(dialled, lit("正在呼叫")) << "the balance 0.50 is enough";
    EXPECT_EQ(ringing, lit("正在震铃"));
    EXPECT_EQ(openWindow(), nullptr);
    EXPECT_EQ(fake.callTexts("sipxConferenceCreate").size(), 1u);
    EXPECT_EQ(fake.callTexts("sipxConferenceDestroy").size(), 1u);
    EXPECT_TRUE(fake.callTexts("sipxCallCreate").empty());
    EXPECT_EQ(fake.callTexts("sipxCallDestroy").at(1), "sipxCallDestroy(&" + std::to_string(legCall) + ")");
    EXPECT_EQ(main->session().handles.legs, (std::array<SIPX_CALL, 3>{0, 0, 0}));

    // A late event of the leg reaches nothing; the main window goes on.
    seams.clear();
    fake.fireCallEvent(legCall, SIPX_CALLSTATE_DISCONNECTED);
    drain();
    EXPECT_TRUE(seams.sounds().empty());
    EXPECT_EQ(main->inCall(), 0);
}

} // namespace
