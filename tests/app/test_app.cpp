#include "app/application.h"
#include "login/login_window.h"
#include "phone/main_window.h"
#include "platform/single_instance.h"
#include "skin/skin.h"
#include "telephony/fake_sipx.h"
#include "tests/support/seam_recorder.h"
#include "tests/support/wait.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>

using namespace velkor;
using velkor::test::waitFor;

namespace {

QString uniqueLock()
{
    return QStringLiteral("velkor-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(std::rand());
}

login::CTellanDlg::Verifier okVerifier()
{
    return [](const service::ServiceAccount& req) {
        service::VerifyResult r;
        r.outcome = service::VerifyOutcome::Ok;
        r.statusWord = "ok";
        r.account = req;
        r.account.balance = "8.88";
        return r;
    };
}

} // namespace

TEST(SingleInstance, ASecondCopyAsksTheFirstForTheFrontAndGivesUp)
{
    const QString name = uniqueLock();
    SingleInstance first(name);
    ASSERT_TRUE(first.acquire());
    int fronts = 0;
    first.setFrontRequestHandler([&] { ++fronts; });

    // The second copy runs in another process normally; the socket path is the same.
    bool secondGot = true;
    std::thread second([&] {
        SingleInstance other(name);
        secondGot = other.acquire();
    });
    ASSERT_TRUE(waitFor([&] { return fronts == 1; }));
    second.join();
    EXPECT_FALSE(secondGot);
}

TEST(Application, FrontRequestRestoresAMinimisedLoginWindow)
{
    test::SeamRecorder seams;
    login::CTellanDlg login(okVerifier(), {});
    login.showMinimized();
    ASSERT_TRUE(waitFor([&] { return login.isMinimized(); }));
    app::bringToFront();
    EXPECT_TRUE(waitFor([&] { return !login.isMinimized(); }));
}

TEST(Application, ClosingTheMainWindowEndsTheProgramWithoutShowingTheLoginWindowAgain)
{
    test::SeamRecorder seams;
    tel::FakeSipx fake;
    tel::ScopedSipxApi use(fake);
    login::CTellanDlg login(okVerifier(), phone::runMainWindow);
    bool mainSeen = false;
    bool loginHiddenUnderMain = false;
    QTimer::singleShot(0, &login, [&] {
        login.setItemText(login::kAccountBox, "abcd");
        login.setItemText(login::kPasswordBox, "1234");
        QTest::mouseClick(login.control(login::kLoginButton), Qt::LeftButton);
        // Close the main window once it shows.
        auto* poll = new QTimer(&login);
        QObject::connect(poll, &QTimer::timeout, [&, poll] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == "d131" && w->isVisible()) {
                    mainSeen = true;
                    loginHiddenUnderMain = !login.isVisible();
                    poll->stop();
                    w->close();
                }
        });
        poll->start(5);
    });
    login.runModal();
    EXPECT_TRUE(mainSeen);
    EXPECT_TRUE(loginHiddenUnderMain);
    EXPECT_FALSE(login.isVisible());
    EXPECT_TRUE(waitFor([] { return login::CTellanDlg::workersRunning() == 0; }));
    EXPECT_EQ(fake.callTexts("sipxUnInitialize").size(), 1u) << "the session ended with the window";
}

TEST(Skin, GivesFacesToCaptionlessButtonsAndStopsHarmlessly)
{
    skin::stop(); // never started: nothing happens
    EXPECT_FALSE(skin::started());
    {
        login::CTellanDlg plain(okVerifier(), {});
        plain.control(login::kLoginButton)->ensurePolished();
        EXPECT_TRUE(plain.controlAs<QPushButton>(login::kLoginButton)->text().isEmpty());
    }

    ui::Dialog::setCreationHook(skin::skinWindow);
    skin::start();
    skin::load("superxp.rss", 0);
    {
        login::CTellanDlg skinned(okVerifier(), {});
        skinned.show();
        EXPECT_EQ(skinned.controlAs<QPushButton>(login::kLoginButton)->text(), QString::fromUtf8("登 录"));
        EXPECT_EQ(skinned.controlAs<QPushButton>(login::kExitButton)->text(), QString::fromUtf8("退 出"));
    }
    skin::stop();
    skin::stop();
    ui::Dialog::setCreationHook({});
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
}
