#include "platform/ui/dialog.h"
#include "platform/ui/text.h"
#include "platform/ui/virtual_clock.h"
#include "tests/support/seam_recorder.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace velkor;
using namespace velkor::ui;

namespace {

const DialogTemplate kTpl{
    7,
    "\xB2\xE2\xCA\xD4", // 测试
    100,
    60,
    {
        {10, Kind::PushButton, "", 4, 4, 40, 12},
        {11, Kind::CheckBox, "x", 4, 20, 40, 10},
        {12, Kind::Edit, "", 50, 4, 40, 12},
        {13, Kind::Static, "", 4, 40, 90, 8, kCentered | kHidden},
    },
};

class Probe : public Dialog {
public:
    Probe() : Dialog(kTpl) {}
    std::vector<std::pair<std::int64_t, int>> fired;
    std::function<void(int)> onFire;
    bool swallowEnter = true;

protected:
    void onTimer(int id) override
    {
        fired.push_back({VirtualClock::current() ? VirtualClock::current()->nowMs() : -1, id});
        if (onFire)
            onFire(id);
    }
    bool preTranslateKey(QKeyEvent* e) override
    {
        return swallowEnter && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Escape);
    }
};

} // namespace

TEST(Dialog, ControlsArePlacedInDialogUnitsFromTheFont)
{
    Probe d;
    const BaseUnits u = baseUnits(d.font());
    ASSERT_GT(u.cx, 0);
    ASSERT_GT(u.cy, 0);
    const QRect r = d.control(12)->geometry();
    EXPECT_EQ(r.x(), (50 * u.cx + 2) / 4);
    EXPECT_EQ(r.width(), (90 * u.cx + 2) / 4 - (50 * u.cx + 2) / 4);
    EXPECT_EQ(d.size(), d.mapDialogRect(0, 0, 100, 60).size());
    EXPECT_EQ(d.control(10)->objectName(), "c10");
    EXPECT_EQ(d.objectName(), "d7");
    EXPECT_FALSE(d.control(13)->isVisibleTo(&d));
    EXPECT_EQ(d.control(99), nullptr);
    EXPECT_EQ(d.windowTitle(), QString::fromUtf8("测试"));
}

TEST(Dialog, TextsAreGbkAtTheModelSide)
{
    Probe d;
    d.setItemText(12, "\xD6\xD0" "a");
    EXPECT_EQ(d.controlAs<QLineEdit>(12)->text(), QString::fromUtf8("中a"));
    EXPECT_EQ(d.itemText(12), "\xD6\xD0" "a");
}

TEST(Dialog, CommandsReachTheirHandlersByControlId)
{
    Probe d;
    std::vector<int> got;
    d.onCommand(10, [&] { got.push_back(10); });
    d.onCommand(11, [&] { got.push_back(d.isChecked(11) ? 111 : 110); });
    QTest::mouseClick(d.control(10), Qt::LeftButton);
    QTest::mouseClick(d.control(11), Qt::LeftButton); // toggles itself before the handler
    EXPECT_EQ(got, (std::vector<int>{10, 111}));
}

TEST(Dialog, TimersRunOnTheVirtualClockInOrder)
{
    VirtualClock clock;
    Probe d;
    d.setTimer(1, 984);
    d.setTimer(2, 50);
    clock.advance(100);
    EXPECT_EQ(d.fired, (std::vector<std::pair<std::int64_t, int>>{{50, 2}, {100, 2}}));

    d.fired.clear();
    d.setTimer(2, 50); // restart, not a second timer
    d.setTimer(2, 50);
    clock.advance(50);
    EXPECT_EQ(d.fired, (std::vector<std::pair<std::int64_t, int>>{{150, 2}}));

    // Stopping inside the handler ends the timer at once.
    d.fired.clear();
    d.onFire = [&](int id) { d.killTimer(id); };
    clock.advance(2000);
    EXPECT_EQ(d.fired, (std::vector<std::pair<std::int64_t, int>>{{200, 2}, {984, 1}}));
    EXPECT_FALSE(d.timerActive(1));
    EXPECT_FALSE(d.timerActive(2));
}

TEST(Dialog, CalendarFollowsTheVirtualClock)
{
    VirtualClock clock(1000);
    EXPECT_EQ(calendarNow(), 1000);
    clock.advance(2500);
    EXPECT_EQ(calendarNow(), 1002);
}

TEST(Dialog, TimerOfADestroyedWindowNeverFires)
{
    VirtualClock clock;
    auto* d = new Probe;
    d->setTimer(1, 10);
    delete d;
    clock.advance(100); // must not touch the freed window
    SUCCEED();
}

TEST(Dialog, PostedMessagesArriveInOrderOnTheWindowsThread)
{
    Probe d;
    std::vector<int> got;
    for (int m : {kWmCallRinging, kWmCallConnected, kWmCallDisconnected})
        d.onMessage(m, [&got, m] { got.push_back(m); return 0L; });
    std::thread t([&] {
        d.postMessage(kWmCallRinging);
        d.postMessage(kWmCallConnected);
        d.postMessage(kWmCallDisconnected);
    });
    t.join();
    EXPECT_TRUE(got.empty());
    VirtualClock::deliverPending();
    EXPECT_EQ(got, (std::vector<int>{5503, 5502, 5501}));
}

TEST(Dialog, SentMessageBlocksTheSenderUntilHandled)
{
    Probe d;
    std::atomic<bool> returned{false};
    long result = 0;
    d.onMessage(kWmAccountVerified, [&] {
        // The sender still waits while the handler runs (as long as a nested window would).
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        EXPECT_FALSE(returned.load());
        return 1L;
    });
    const WindowRef<Dialog> ref = d.ref();
    std::thread t([&] {
        result = Dialog::sendMessage(ref, kWmAccountVerified);
        returned = true;
    });
    while (!returned.load())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    t.join();
    EXPECT_EQ(result, 1);
}

TEST(Dialog, MessagesToAWindowThatHasGoneReachNothing)
{
    auto* d = new Probe;
    int handled = 0;
    d->onMessage(kWmCallRinging, [&] { return long(++handled); });
    const WindowRef<Dialog> ref = d->ref();
    d->postMessage(kWmCallRinging);
    delete d;
    VirtualClock::deliverPending();
    std::atomic<long> sent{-1};
    std::thread t([&] { sent = Dialog::sendMessage(ref, kWmCallRinging); });
    while (sent == -1)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    t.join();
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(sent, 0);
}

TEST(Dialog, ModalRunOutlivesHidingAndEndsOnClose)
{
    Probe d;
    int step = 0;
    QTimer::singleShot(0, &d, [&] {
        d.hide(); // hiding does not end the run
        step = 1;
        QTimer::singleShot(0, &d, [&] {
            EXPECT_TRUE(d.inModalRun());
            step = 2;
            d.close();
        });
    });
    const int r = d.runModal();
    EXPECT_EQ(step, 2);
    EXPECT_EQ(r, kIdCancel);
    EXPECT_FALSE(d.inModalRun());
}

TEST(Dialog, KeyPreTranslationSwallowsKeysOfEveryControl)
{
    Probe d;
    d.show();
    int clicks = 0;
    d.onCommand(10, [&] { ++clicks; });
    d.control(10)->setFocus();
    QTest::keyClick(d.control(10), Qt::Key_Return);
    QTest::keyClick(d.control(12), Qt::Key_Escape);
    EXPECT_TRUE(d.isVisible());
    QTest::keyClick(d.control(12), Qt::Key_A);
    EXPECT_EQ(d.controlAs<QLineEdit>(12)->text(), "a");

    d.swallowEnter = false; // the base dialog closes on Esc
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(clicks, 0);
}

TEST(Dialog, CreationHookSeesTheWindowBeforeItsControls)
{
    int seen = -1;
    bool hadControls = true;
    Dialog::setCreationHook([&](QWidget* w, int id) {
        seen = id;
        hadControls = !w->findChildren<QPushButton*>().isEmpty();
    });
    Probe d;
    Dialog::setCreationHook({});
    EXPECT_EQ(seen, 7);
    EXPECT_FALSE(hadControls);
}
