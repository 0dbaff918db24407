// End to end: the main window with the real engine registers with a SIPp
// server on loopback, opens the multi-party window and dials three legs into
// one conference; each leg connects and shows its own talk time, and closing
// the window ends the three calls and releases the conference.
#include "multiparty/multiparty_window.h"

#include "phone/main_window.h"
#include "platform/gbk.h"
#include "platform/ui/virtual_clock.h"
#include "telephony/engine.h"
#include "tests/support/seam_recorder.h"
#include "tests/telephony/sip_peer.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <set>

using namespace std::chrono_literals;
using namespace velkor;
using namespace velkor::multiparty;
using gbk::lit;

namespace {

// Runs the UI thread's queue and events until done() or the time-out (real time:
// the engine and SIPp work in real time).
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ui::VirtualClock::deliverPending();
    }
    return true;
}

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(MultiPartyEndToEnd, ThreeLegsConnectInOneConferenceEachWithItsOwnTalkTime)
{
    QTemporaryDir dir;
    const QString savedDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    tel::EngineSettings settings;
    settings.nullSoundCardOnly = true;
    tel::setEngineSettings(settings);
    test::SeamRecorder seams;
    ui::VirtualClock clock{1273000000};

    const int port = tel::test::freeUdpPort();
    const int media = tel::test::freeUdpPort();
    // The scenario lives beside this test, not among the engine's scenarios.
    tel::test::SippPeer peer("../../multiparty/sipp/uas_server.xml", port,
                             {"-rtp_echo", "-mp", std::to_string(media), "-key", "rtp_port", std::to_string(media)});

    login::HandOver h;
    h.account.accountId = "80012345";
    h.account.password = "pw8001";
    h.account.sipUser = "8001";
    h.account.balance = "12.5";
    h.account.sipServer = "127.0.0.1:" + std::to_string(port);
    h.account.sipServerHost = "127.0.0.1";
    h.account.sipServerPort = port;
    auto main = std::make_unique<phone::CDial>(h, nullptr);
    main->show();
    ASSERT_TRUE(waitUntil([&] { return main->registered() == 1; })) << peer.messages();
    main->killTimer(phone::kMeterTimer);

    const char* numbers[3] = {"0111111111", "0222222222", "0333333333"};
    std::string talk[3];
    bool connected[3] = {};
    SIPX_CONF conference = 0;
    std::set<SIPX_CALL> legCalls;
    QTimer::singleShot(0, main.get(), [&] {
        cduoren1* w = nullptr;
        for (QWidget* t : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<cduoren1*>(t); d && d->isVisible())
                w = d;
        if (!w) {
            ADD_FAILURE() << "no multi-party window";
            return;
        }
        conference = main->session().handles.conference;
        // Leg n is dialled and connects at virtual second 2(n-1).
        for (int leg = 1; leg <= 3; ++leg) {
            const LegControls& c = kLegControls[leg - 1];
            w->setItemText(c.number, numbers[leg - 1]);
            QTest::mouseClick(w->control(c.call), Qt::LeftButton);
            connected[leg - 1] = waitUntil([&] { return w->itemText(c.status) == lit("开始通话"); });
            legCalls.insert(main->session().handles.legs[static_cast<std::size_t>(leg - 1)]);
            clock.advance(leg < 3 ? 2000 : 1000);
        }
        for (int leg = 1; leg <= 3; ++leg)
            talk[leg - 1] = w->itemText(kLegControls[leg - 1].status);
        EXPECT_EQ(main->session().handles.conference, conference);
        w->close();
    });
    QTest::mouseClick(main->control(phone::kMultiParty), Qt::LeftButton);

    for (int leg = 0; leg < 3; ++leg)
        EXPECT_TRUE(connected[leg]) << "leg " << leg + 1 << "\n" << peer.messages();
    // Last ticks at 4920, 4952 and 4984 ms of virtual time: calendar second 4.
    EXPECT_EQ(talk[0], "00:00:04");
    EXPECT_EQ(talk[1], "00:00:02");
    EXPECT_EQ(talk[2], "00:00:00");
    EXPECT_NE(conference, 0u);
    EXPECT_EQ(legCalls.size(), 3u);
    const std::vector<int> sounds = seams.sounds();
    EXPECT_EQ(std::count(sounds.begin(), sounds.end(), 149), 3);

    // Closing ended the three calls and released the conference.
    EXPECT_TRUE(waitUntil([&] { return count(peer.messages(), "BYE sip:") >= 3; })) << peer.messages();
    EXPECT_EQ(sipxConferenceHold(conference, 1), SIPX_RESULT_INVALID_HANDLE);
    EXPECT_EQ(main->session().handles.legs, (std::array<SIPX_CALL, 3>{0, 0, 0}));
    const std::string wire = peer.messages();
    for (const char* n : numbers)
        EXPECT_EQ(count(wire, std::string("INVITE sip:") + n + "@127.0.0.1"), 1u) << n;
    EXPECT_TRUE(seams.boxes().empty());

    main.reset();
    QDir::setCurrent(savedDir);
}

} // namespace
