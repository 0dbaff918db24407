#include "login/login_window.h"

#include "platform/gbk.h"
#include "platform/ui/virtual_clock.h"
#include "service/address.h"
#include "tests/support/seam_recorder.h"
#include "tests/support/wait.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace velkor;
using velkor::test::waitFor;
using namespace velkor::login;
using gbk::lit;
using service::VerifyOutcome;

namespace {

// A verifier the test controls: records requests, answers with a scripted result,
// optionally held until released.
struct ScriptedVerifier {
    std::mutex m;
    std::condition_variable cv;
    bool hold = false;
    std::vector<service::ServiceAccount> requests;
    service::VerifyResult answer;
    std::atomic<int> calls{0};

    CTellanDlg::Verifier fn()
    {
        return [this](const service::ServiceAccount& req) {
            std::unique_lock lock(m);
            requests.push_back(req);
            cv.wait(lock, [this] { return !hold; });
            ++calls;
            service::VerifyResult r = answer;
            r.account.accountId = req.accountId;
            r.account.password = req.password;
            return r;
        };
    }
    void release()
    {
        {
            std::lock_guard lock(m);
            hold = false;
        }
        cv.notify_all();
    }
};

struct LoginFixture : ::testing::Test {
    test::SeamRecorder seams;
    ScriptedVerifier verifier;
    std::vector<HandOver> handOvers;
    std::unique_ptr<CTellanDlg> dlg;

    void make(CTellanDlg::MainWindowRunner runner = {})
    {
        if (!runner)
            runner = [this](CTellanDlg&, const HandOver& h) { handOvers.push_back(h); };
        dlg = std::make_unique<CTellanDlg>(verifier.fn(), runner);
        dlg->show();
    }
    void type(const char* accountUtf8, const char* passwordUtf8)
    {
        dlg->setItemText(kAccountBox, lit(accountUtf8));
        dlg->setItemText(kPasswordBox, lit(passwordUtf8));
    }
    void pressLogin() { QTest::mouseClick(dlg->control(kLoginButton), Qt::LeftButton); }
    std::string status() const { return dlg->itemText(kStatusLine); }
    bool verifying() const
    {
        return !dlg->control(kLoginButton)->isEnabled() && dlg->control(kProgressPicture)->isVisible() &&
               dlg->timerActive(kAnimationTimer);
    }
    bool idle() const
    {
        return dlg->control(kLoginButton)->isEnabled() && !dlg->control(kProgressPicture)->isVisible() &&
               !dlg->timerActive(kAnimationTimer);
    }
    int bitmap() const { return dlg->control(kProgressPicture)->property("bitmap").toInt(); }
};

} // namespace

TEST_F(LoginFixture, InputChecksStopAtTheFirstFailureCountingGbkBytes)
{
    make();
    struct Case {
        const char* account;
        const char* password;
        const char* text;
    } cases[] = {
        {"", "", "请输入帐号!"},
        {"abc", "", "请输入正确帐号!"},        // the password is not looked at
        {"中a", "123456", "请输入正确帐号!"},  // 3 bytes
        {"中文", "", "请输入密码!"},           // 4 bytes pass
        {"abcd", "123", "请输入正确密码!"},
        {"abcd", "码1", "请输入正确密码!"},
    };
    for (const auto& c : cases) {
        seams.clear();
        type(c.account, c.password);
        pressLogin();
        EXPECT_EQ(status(), lit(c.text)) << c.account << "/" << c.password;
        EXPECT_EQ(seams.sounds(), std::vector<int>{151});
        EXPECT_TRUE(idle());
    }
    EXPECT_EQ(verifier.calls, 0);
}

TEST_F(LoginFixture, PasswordBoxTakesAtMost25Characters)
{
    make();
    auto* box = dlg->controlAs<QLineEdit>(kPasswordBox);
    box->setFocus();
    QTest::keyClicks(box, QString(26, QLatin1Char('7')));
    EXPECT_EQ(box->text().size(), 25);
    EXPECT_EQ(box->echoMode(), QLineEdit::Password);
}

TEST_F(LoginFixture, EnterAndEscapeAreSwallowedEverywhere)
{
    make();
    type("abcd", "1234");
    for (int id : {kAccountBox, kPasswordBox, kLoginButton, kSaveAccount}) {
        QTest::keyClick(dlg->control(id), Qt::Key_Return);
        QTest::keyClick(dlg->control(id), Qt::Key_Enter);
        QTest::keyClick(dlg->control(id), Qt::Key_Escape);
    }
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(idle());
    EXPECT_TRUE(status().empty());
    EXPECT_EQ(verifier.calls, 0);
}

TEST_F(LoginFixture, FailureOutcomesReportTheirTextWithTheWarningSoundAndReturnToIdle)
{
    make();
    struct Case {
        VerifyOutcome outcome;
        const char* word;
        const char* text;
    } cases[] = {
        {VerifyOutcome::WrongPassword, "error", "帐号密码验证错误"},
        {VerifyOutcome::Locked, "suoding", "帐号非法.被系统锁定"},
        {VerifyOutcome::Upgrade, "shengji", "版本已升级.请到网站更新"},
        {VerifyOutcome::NetworkFailure, "", "验证失败.网络问题"},
    };
    for (const auto& c : cases) {
        seams.clear();
        verifier.answer.outcome = c.outcome;
        verifier.answer.statusWord = c.word;
        type("abcd", "1234");
        pressLogin();
        EXPECT_EQ(status(), lit("正在验证帐号!"));
        EXPECT_TRUE(verifying());
        ASSERT_TRUE(waitFor([&] { return idle(); })) << c.word;
        EXPECT_EQ(status(), lit(c.text));
        EXPECT_EQ(seams.sounds(), std::vector<int>{151});
        EXPECT_EQ(dlg->statusWord(), c.word);
    }
    EXPECT_TRUE(handOvers.empty());
}

TEST_F(LoginFixture, AnUnknownStatusWordLeavesTheWindowVerifying)
{
    make();
    verifier.answer.outcome = VerifyOutcome::Unknown;
    verifier.answer.statusWord = "ERROR";
    type("abcd", "1234");
    pressLogin();
    ASSERT_TRUE(waitFor([&] { return dlg->statusWord() == "ERROR"; }));
    EXPECT_TRUE(verifying());
    EXPECT_EQ(status(), lit("正在验证帐号!"));
    EXPECT_TRUE(seams.sounds().empty());
}

TEST_F(LoginFixture, ProgressPictureCyclesAndContinuesWhereItStopped)
{
    ui::VirtualClock clock;
    make();
    verifier.hold = true;
    verifier.answer.outcome = VerifyOutcome::NetworkFailure;
    type("abcd", "1234");
    pressLogin();
    std::vector<int> frames;
    for (int i = 0; i < 4; ++i) {
        clock.advance(80);
        frames.push_back(bitmap());
    }
    EXPECT_EQ(frames, (std::vector<int>{157, 155, 158, 157}));
    clock.advance(80); // frame 2 -> 3 shows 155
    verifier.release();
    ASSERT_TRUE(waitFor([&] { return idle(); }));
    EXPECT_EQ(dlg->animationFrame(), 3);

    // A second press continues from frame 3: the next tick shows 158.
    pressLogin();
    clock.advance(80);
    EXPECT_EQ(bitmap(), 158);
    ASSERT_TRUE(waitFor([&] { return idle(); }));
}

TEST_F(LoginFixture, HandOverHidesTheWindowAndKeepsTheWorkerBlockedUntilTheMainWindowCloses)
{
    int workersDuringMain = -1;
    bool visibleDuringMain = true;
    make([&](CTellanDlg& login, const HandOver& h) {
        handOvers.push_back(h);
        visibleDuringMain = login.isVisible();
        // The main window runs for a while; the worker that sent the hand-over waits.
        ui::Dialog main(ui::DialogTemplate{131, "Velkor1.10", 50, 50, {}}, &login);
        QTimer::singleShot(20, &main, [&] {
            workersDuringMain = CTellanDlg::workersRunning();
            main.close();
        });
        main.runModal();
    });
    verifier.answer.outcome = VerifyOutcome::Ok;
    verifier.answer.statusWord = "ok";
    verifier.answer.account.sipUser = "7001";
    verifier.answer.account.balance = "12.50";
    verifier.answer.account.sipServer = "127.0.0.1:5060";
    type("abcd", "1234");
    pressLogin();
    ASSERT_TRUE(waitFor([&] { return !handOvers.empty(); }));
    EXPECT_EQ(workersDuringMain, 1);
    EXPECT_FALSE(visibleDuringMain);
    EXPECT_EQ(handOvers[0].account.accountId, "abcd");
    EXPECT_EQ(handOvers[0].account.password, "1234");
    EXPECT_EQ(handOvers[0].account.sipUser, "7001");
    EXPECT_EQ(handOvers[0].account.balance, "12.50");
    ASSERT_TRUE(waitFor([] { return CTellanDlg::workersRunning() == 0; }));
    EXPECT_EQ(dlg->statusWord(), "ok");
    EXPECT_TRUE(idle());
    EXPECT_TRUE(seams.sounds().empty());
}

TEST_F(LoginFixture, PageButtonsOpenTheirPagesBeforeAndDuringAVerification)
{
    service::setServiceBase("http://svc.example:81");
    make();
    QTest::mouseClick(dlg->control(kRegisterButton), Qt::LeftButton);
    verifier.hold = true;
    verifier.answer.outcome = VerifyOutcome::NetworkFailure;
    type("abcd", "1234");
    pressLogin();
    QTest::mouseClick(dlg->control(kPasswordPageButton), Qt::LeftButton);
    EXPECT_EQ(seams.urls(),
              (std::vector<std::string>{"http://svc.example:81/reguser.php", "http://svc.example:81/passwd.php"}));
    EXPECT_EQ(seams.sounds(), (std::vector<int>{148, 148}));
    verifier.release();
    ASSERT_TRUE(waitFor([&] { return idle(); }));
    service::setServiceBase(VELKOR_SERVICE_BASE_DEFAULT);
}

TEST_F(LoginFixture, ExitButtonEndsTheModalRun)
{
    make();
    QTimer::singleShot(0, dlg.get(), [&] { QTest::mouseClick(dlg->control(kExitButton), Qt::LeftButton); });
    EXPECT_EQ(dlg->runModal(), 0);
}

TEST_F(LoginFixture, WindowMenuCarriesTheAboutItemAfterASeparator)
{
    int abouts = 0;
    dlg = std::make_unique<CTellanDlg>(verifier.fn(), CTellanDlg::MainWindowRunner{},
                                       [&](QWidget*) { ++abouts; });
    const auto actions = dlg->windowMenu()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), QString::fromUtf8("关于Velkor"));
    actions[1]->trigger();
    EXPECT_EQ(abouts, 1);
}
