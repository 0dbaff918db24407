#include "login/login_window.h"

#include "platform/gbk.h"
#include "tests/support/seam_recorder.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

using namespace velkor;
using namespace velkor::login;

namespace {

// Each test runs in a working folder of its own holding the files it writes.
struct Remembered : ::testing::Test {
    QTemporaryDir dir;
    QString saved = QDir::currentPath();
    test::SeamRecorder seams;
    std::unique_ptr<CTellanDlg> dlg;

    void SetUp() override { QDir::setCurrent(dir.path()); }
    void TearDown() override
    {
        dlg.reset();
        QDir::setCurrent(saved);
    }
    static void write(const char* name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }
    static std::string read(const char* name)
    {
        std::ifstream f(name, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    void open(CTellanDlg::MainWindowRunner runner = {})
    {
        dlg = std::make_unique<CTellanDlg>(
            [](const service::ServiceAccount& req) {
                service::VerifyResult r;
                r.outcome = service::VerifyOutcome::Ok;
                r.account = req;
                return r;
            },
            std::move(runner), CTellanDlg::AboutRunner{},
            [](bool output) { return std::string(output ? "Speakers 0" : "Mic 0"); });
        dlg->show();
    }
    QComboBox* box() const { return dlg->controlAs<QComboBox>(kAccountBox); }
    void pressLoginAndWait(bool& handedOver)
    {
        QTest::mouseClick(dlg->control(kLoginButton), Qt::LeftButton);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!handedOver && std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ASSERT_TRUE(handedOver);
        while (CTellanDlg::workersRunning() > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
};

const char* kTwoAccounts = "<UserInfo>\r\n"
                           "<User UserID=\"alice01\" UserPwd=\"pw&lt;A\" Type=\"2\" Wangluo=\"\"/>\r\n"
                           "<User UserID=\"bob0002\" UserPwd=\"pwB\" Type=\"1\" Wangluo=\"\"/>\r\n"
                           "</UserInfo>";

} // namespace

TEST_F(Remembered, FillSelectsTheNewestAccountAndSelectionAppliesItsSaveType)
{
    write("Login.xml", kTwoAccounts);
    open();
    ASSERT_EQ(box()->count(), 2);
    EXPECT_EQ(box()->itemText(0), "alice01");
    EXPECT_EQ(dlg->itemText(kAccountBox), "bob0002");
    EXPECT_TRUE(dlg->isChecked(kSaveAccount));
    EXPECT_FALSE(dlg->isChecked(kSavePassword));
    EXPECT_EQ(dlg->itemText(kPasswordBox), "");

    box()->setCurrentIndex(0);
    emit box()->activated(0);
    EXPECT_EQ(dlg->itemText(kPasswordBox), "pw<A");
    EXPECT_TRUE(dlg->isChecked(kSaveAccount));
    EXPECT_TRUE(dlg->isChecked(kSavePassword));
}

TEST_F(Remembered, CheckBoxesKeepPasswordOnlyWithAccount)
{
    open();
    QTest::mouseClick(dlg->control(kSavePassword), Qt::LeftButton);
    EXPECT_TRUE(dlg->isChecked(kSaveAccount));
    EXPECT_TRUE(dlg->isChecked(kSavePassword));
    QTest::mouseClick(dlg->control(kSaveAccount), Qt::LeftButton);
    EXPECT_FALSE(dlg->isChecked(kSaveAccount));
    EXPECT_FALSE(dlg->isChecked(kSavePassword));
}

TEST_F(Remembered, DeleteForgetsTheAccountAndRefills)
{
    write("Login.xml", kTwoAccounts);
    open();
    dlg->setItemText(kAccountBox, "alice01");
    QTest::mouseClick(dlg->control(kDeleteButton), Qt::LeftButton);
    EXPECT_EQ(read("Login.xml"), "<UserInfo>\r\n"
                                 "<User UserID=\"bob0002\" UserPwd=\"pwB\" Type=\"1\" Wangluo=\"\"/>\r\n"
                                 "</UserInfo>");
    ASSERT_EQ(box()->count(), 1);

    // Not remembered: the file stays, the list is refilled (resetting the boxes).
    dlg->setItemText(kAccountBox, "nobody1");
    dlg->setChecked(kSavePassword, true);
    QTest::mouseClick(dlg->control(kDeleteButton), Qt::LeftButton);
    EXPECT_EQ(dlg->itemText(kAccountBox), "bob0002");
    EXPECT_FALSE(dlg->isChecked(kSavePassword));
    EXPECT_TRUE(seams.sounds().empty());
}

TEST_F(Remembered, LoginMovesTheAccountToTheEndOrForgetsIt)
{
    write("Login.xml", kTwoAccounts);
    bool handedOver = false;
    dlg = std::make_unique<CTellanDlg>(
        [](const service::ServiceAccount& req) {
            service::VerifyResult r;
            r.outcome = service::VerifyOutcome::Ok;
            r.account = req;
            return r;
        },
        [&](CTellanDlg&, const HandOver&) { handedOver = true; });
    box()->setCurrentIndex(0);
    emit box()->activated(0); // alice01 with her password, both boxes
    pressLoginAndWait(handedOver);
    EXPECT_EQ(read("Login.xml"), "<UserInfo>\r\n"
                                 "<User UserID=\"bob0002\" UserPwd=\"pwB\" Type=\"1\" Wangluo=\"\"/>\r\n"
                                 "<User UserID=\"alice01\" UserPwd=\"pw&lt;A\" Type=\"2\" Wangluo=\"\"/>\r\n"
                                 "</UserInfo>");

    handedOver = false;
    dlg->setItemText(kAccountBox, "bob0002");
    dlg->setItemText(kPasswordBox, "pwB2");
    dlg->setChecked(kSaveAccount, false);
    dlg->setChecked(kSavePassword, false);
    pressLoginAndWait(handedOver);
    EXPECT_EQ(read("Login.xml"), "<UserInfo>\r\n"
                                 "<User UserID=\"alice01\" UserPwd=\"pw&lt;A\" Type=\"2\" Wangluo=\"\"/>\r\n"
                                 "</UserInfo>");
}

TEST_F(Remembered, DeviceNamesComeFromTheLastDirverWithStarAsTheFirstDevice)
{
    write("Audio.xml", "<Audio><Dirver playdev=\"old\" recodev=\"old\"/>"
                       "<Dirver playdev=\"*\" recodev=\"USB Mic\"/></Audio>");
    open();
    EXPECT_EQ(dlg->playbackDevice(), "Speakers 0");
    EXPECT_EQ(dlg->recordingDevice(), "USB Mic");
}
