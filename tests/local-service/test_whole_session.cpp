// Whole sessions of the client's windows against the local service: the login
// window verifies the account with the web server and hands over to the main
// window, whose engine registers with Kamailio and calls the far end; the
// dial pad's keys reach the far end as DTMF, and the balance shown after a
// call is what the web server charged.
#include "tests/local-service/login_fixture.h"

#include "login/login_window.h"
#include "phone/main_window.h"
#include "platform/gbk.h"
#include "platform/ui/virtual_clock.h"
#include "service/address.h"
#include "service/exchange.h"
#include "telephony/session.h"
#include "tests/support/seam_recorder.h"
#include "tests/support/wait.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace velkor;
using namespace velkor::local;
using namespace velkor::local::test;
using namespace std::chrono_literals;
using gbk::lit;
using velkor::test::waitFor;

namespace {

constexpr int kCallEndedSound = 153;

// The service with a short registration: a client refreshes within 5 s, so a
// SIP server that has gone is noticed within a test's time.
LocalServiceOptions shortRegistration()
{
    LocalServiceOptions o = testOptions();
    o.registrationExpiry = 5;
    return o;
}

struct WholeSession : LoginSessionTest {
    explicit WholeSession(LocalServiceOptions options = testOptions()) : LoginSessionTest(std::move(options)) {}

    ui::VirtualClock clock{std::time(nullptr)};
    std::unique_ptr<phone::CDial> main;

    // As the program does, but shown rather than run modally so the test goes
    // on driving it.
    void handOver(login::CTellanDlg& login, const login::HandOver& h) override
    {
        main = std::make_unique<phone::CDial>(h, &login);
        main->show();
    }
    void TearDown() override
    {
        main.reset();
        LoginSessionTest::TearDown();
    }

    // Logs in through the login window and waits for the registered line.
    void logIn(const std::string& account, const std::string& password)
    {
        typeLogin(account, password);
        ASSERT_TRUE(waitFor([&] { return main != nullptr; })) << dlg->itemText(login::kStatusLine);
        ASSERT_TRUE(waitFor([&] { return main->registered() == 1; }, 20s))
            << "is UDP 14500 taken by another program?";
        EXPECT_EQ(main->itemText(phone::kStatusLine), lit("成功登陆.请输入呼叫号码"));
    }

    // Presses the dial pad's keys; each key's tone stops 100 ms later.
    void press(const std::string& keys)
    {
        for (char k : keys) {
            const auto* key = std::find_if(std::begin(phone::kDialKeys), std::end(phone::kDialKeys),
                                           [k](const phone::DialKey& d) { return d.character == k; });
            ASSERT_NE(key, std::end(phone::kDialKeys)) << k;
            QTest::mouseClick(main->control(key->control), Qt::LeftButton);
            clock.advance(100);
        }
    }

    void dial(const std::string& number)
    {
        press(number);
        EXPECT_EQ(main->itemText(phone::kNumberBox), number);
        QTest::mouseClick(main->control(phone::kCall), Qt::LeftButton);
    }

    bool statusBecomes(const char* text, std::chrono::seconds bound = 20s)
    {
        return waitFor([&] { return main->itemText(phone::kStatusLine) == lit(text); }, bound);
    }

    // The balance query 4 s after a call, answered by the web server.
    bool balanceBecomes(const std::string& balance)
    {
        clock.advance(4000);
        return waitFor([&] { return main->itemText(phone::kBalanceText) == balance; });
    }

    int soundsOf(int cue) const
    {
        const std::vector<int> s = seams.sounds();
        return static_cast<int>(std::count(s.begin(), s.end(), cue));
    }
};

struct WholeSessionShortRegistration : WholeSession {
    WholeSessionShortRegistration() : WholeSession(shortRegistration()) {}
};

} // namespace

TEST_F(WholeSession, CallRingsIsAnsweredHearsTheKeysAndTheHangUpLowersTheBalance)
{
    logIn("demo1001", "1234");
    EXPECT_EQ(main->itemText(phone::kBalanceText), "25.60");
    EXPECT_EQ(soundsOf(tel::kSoundRegistered), 1);

    QTest::mouseClick(main->control(phone::kRecordBox), Qt::LeftButton);
    dial("0123");
    ASSERT_TRUE(statusBecomes("对方正在震铃"));
    ASSERT_TRUE(statusBecomes("呼叫成功,开始通话"));
    const std::time_t answered = ui::calendarNow();
    ASSERT_TRUE(service.waitFarEndLine("call 1 answered", 10s));
    EXPECT_EQ(main->inCall(), 1);

    press("5#");
    EXPECT_TRUE(waitFor([&] { return service.digitsHeard(1) == "5#"; })) << service.digitsHeard(1);
    clock.advance(2 * 984);
    EXPECT_EQ(main->itemText(phone::kDurationText), "00:00:02");

    QTest::mouseClick(main->control(phone::kHangUp), Qt::LeftButton);
    EXPECT_EQ(main->inCall(), 0);
    EXPECT_EQ(main->itemText(phone::kStatusLine), "");
    // The far end tells the web server the talk time; the window asks for the
    // balance 4 s after the hang-up.
    ASSERT_TRUE(service.waitFarEndLine("call 1 charged 25.50", 10s));
    EXPECT_TRUE(balanceBecomes("25.50")) << main->itemText(phone::kBalanceText);
    EXPECT_TRUE(seams.boxes().empty());

    // The recording: Record/<answer time><number>.wav, a WAV file with sound.
    std::tm tm{};
    localtime_r(&answered, &tm);
    char name[96];
    std::snprintf(name, sizeof name, "Record/%04d年%02d月%02d日%02d点%02d分0123.wav", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
    const std::filesystem::path wav = folder.path() / name;
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(wav) && std::filesystem::file_size(wav) > 44; }))
        << name;
    std::ifstream in(wav, std::ios::binary);
    std::string head(12, '\0');
    in.read(head.data(), 12);
    EXPECT_EQ(head.substr(0, 4), "RIFF");
    EXPECT_EQ(head.substr(8, 4), "WAVE");
}

TEST_F(WholeSession, BusyNumberAndFarEndHangingUpEndTheCall)
{
    logIn("demo1002", "Abc123");

    // Busy: ended without an answer, nothing charged.
    dial("0486");
    ASSERT_TRUE(statusBecomes("通话已经结束"));
    EXPECT_EQ(main->inCall(), 0);
    EXPECT_EQ(soundsOf(kCallEndedSound), 1);
    EXPECT_TRUE(balanceBecomes("3.00"));

    // Answered, then hung up by the far end after 5 s.
    main->setItemText(phone::kNumberBox, "");  // an ended call's number stays in the box
    dial("0005");
    ASSERT_TRUE(statusBecomes("呼叫成功,开始通话"));
    ASSERT_TRUE(statusBecomes("通话已经结束", 20s));
    EXPECT_EQ(main->inCall(), 0);
    EXPECT_EQ(soundsOf(kCallEndedSound), 2);
    ASSERT_TRUE(service.waitFarEnd([](const std::string& l) { return l.ends_with(" charged 2.90"); }, 10s));
    EXPECT_TRUE(balanceBecomes("2.90")) << main->itemText(phone::kBalanceText);
}

TEST_F(WholeSessionShortRegistration, SipServerGoneMidCallShowsTheFailureAndTheCallStillHangsUp)
{
    logIn("demo1001", "1234");
    dial("0123");
    ASSERT_TRUE(statusBecomes("呼叫成功,开始通话"));

    service.stopSipServer();
    // The line's refresh is due within 5 s and fails when its request times out.
    ASSERT_TRUE(waitFor([&] { return main->registered() == 0; }, 60s));
    EXPECT_EQ(main->itemText(phone::kStatusLine), tel::kRegisterFailedText);
    EXPECT_EQ(soundsOf(tel::kSoundRegisterFailed), 1);
    EXPECT_EQ(main->inCall(), 1);

    // The call in progress can still be ended.
    QTest::mouseClick(main->control(phone::kHangUp), Qt::LeftButton);
    EXPECT_EQ(main->inCall(), 0);
    EXPECT_EQ(main->session().handles.mainCall, 0u);
    // A new call is refused while the line is not registered.
    const std::size_t boxes = seams.boxes().size();
    dial("0123");
    EXPECT_EQ(main->inCall(), 0);
    EXPECT_GT(seams.boxes().size(), boxes);
}
