// A whole session against the local service, as far as the windows reach
// today: the real login window and web server, then the SIP session on the
// client's own port with the handed-over account, a call through the SIP
// server to the far end, its digits, the hang-up and the new balance. The
// phone window's tests replace the direct engine calls with its buttons.
#include "tests/local-service/login_fixture.h"

#include "login/login_window.h"
#include "platform/gbk.h"
#include "platform/ui/ui_thread.h"
#include "service/address.h"
#include "service/exchange.h"
#include "settings/settings_files.h"
#include "telephony/session.h"
#include "tests/support/seam_recorder.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace velkor;
using namespace velkor::local;
using namespace velkor::local::test;
using namespace std::chrono_literals;
using gbk::lit;

namespace {

// Processes events (and with them the hand-overs to the UI thread) until
// cond holds or the time is up.
template <class Cond>
bool waitFor(Cond cond, std::chrono::milliseconds timeout = 20s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct WholeSession : LoginSessionTest {
    std::vector<login::HandOver> handOvers;

    // The hand-over is recorded; the phone window's tests run it instead.
    void handOver(login::CTellanDlg&, const login::HandOver& h) override { handOvers.push_back(h); }
};

// The main window's side of the session.
struct Host : tel::SessionHost {
    std::vector<int> messages;
    std::vector<std::string> statusTexts;
    std::vector<int> sounds;
    void postMessage(int m) override { messages.push_back(m); }
    void setStatusText(const std::string& t) override { statusTexts.push_back(t); }
    void startTimer(int, int) override {}
    void showMessage(const std::string& t) override { statusTexts.push_back("box " + t); }
    void playSound(int cue) override { sounds.push_back(cue); }
    bool posted(int m) const { return std::find(messages.begin(), messages.end(), m) != messages.end(); }
};

} // namespace

TEST_F(WholeSession, RefusedLoginsShowTheServicesAnswer)
{
    struct Case {
        const char* account;
        const char* password;
        const char* text;
    } cases[] = {
        {"demo1001", "4321", "帐号密码验证错误"},
        {"demo1002", "abc123", "帐号密码验证错误"},
        {"suoding1", "1234", "帐号非法.被系统锁定"},
        {"old1001", "1234", "版本已升级.请到网站更新"},
    };
    for (const auto& c : cases) {
        typeLogin(c.account, c.password);
        EXPECT_TRUE(waitFor([&] { return dlg->itemText(login::kStatusLine) == lit(c.text); })) << c.account;
        EXPECT_TRUE(waitFor([&] { return dlg->control(login::kLoginButton)->isEnabled(); }));
    }
    EXPECT_TRUE(handOvers.empty());
}

TEST_F(WholeSession, LoginRegisterCallDigitsHangUpAndTheLowerBalance)
{
    QTest::mouseClick(dlg->control(login::kSaveAccount), Qt::LeftButton);
    typeLogin("demo1001", "1234");
    ASSERT_TRUE(waitFor([&] { return !handOvers.empty(); }));
    // Remembered in the working folder's Login.xml (save type 1: no password).
    EXPECT_EQ(settings::ReadLoginEntries().size(), 1u);
    EXPECT_EQ(settings::ReadLoginEntries()[0].userId, "demo1001");
    const auto account = handOvers[0].account;
    EXPECT_EQ(account.balance, "25.60");
    EXPECT_EQ(account.sipServer, service.sipServer());

    Host host;
    // The hand-over the main window uses.
    tel::SipSession session(host, [](std::function<void()> task) { ui::postToUi(std::move(task)); });
    session.account = {account.sipUser, account.password, account.sipServer, account.sipServerHost,
                       account.sipServerPort};
    session.start();
    ASSERT_NE(session.handles.instance, 0u) << "is UDP 14500 taken by another program?";
    session.configure();
    ASSERT_TRUE(waitFor([&] { return session.registered() == 1; }));
    EXPECT_EQ(host.statusTexts.back(), tel::kRegisteredText);
    EXPECT_EQ(host.sounds.back(), tel::kSoundRegistered);

    // Placing the call the way the phone window does.
    static const SIPX_CALL_OPTIONS options = {24, 1, 1, 1, 1, 0};
    sipxCallCreate(session.handles.instance, session.handles.line, &session.handles.mainCall);
    const std::string address = "sip:0123456@" + account.sipServer;
    sipxCallConnect(session.handles.mainCall, address.c_str(), 0, nullptr, 1, &options, nullptr);
    EXPECT_TRUE(waitFor([&] { return host.posted(tel::WM_CALL_RINGING); }));
    ASSERT_TRUE(waitFor([&] { return host.posted(tel::WM_CALL_CONNECTED); }));
    for (int tone : {0, 5})
        sipxCallStartTone(session.handles.mainCall, tone, 1, 1);
    EXPECT_TRUE(service.waitFarEndLine("call 1 dtmf 5", 5s));
    EXPECT_EQ(service.digitsHeard(1), "05");

    sipxCallHold(session.handles.mainCall, 1);
    sipxCallDestroy(&session.handles.mainCall);
    EXPECT_TRUE(service.waitFarEndLine("call 1 charged 25.50", 5s));
    http::Options o;
    o.totalTimeout = 5s;
    EXPECT_EQ(service::queryBalance(account.accountId, account.password, o).balance, "25.50");
    session.end(false);
}
