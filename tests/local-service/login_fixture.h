// Fixture of the whole-session tests that start at the real login window: the
// local service, a working folder, recorded seams, the client pointed at the
// service, and the login window shown. What the login hands over to is the
// test's own (handOver()).
#pragma once

#include "tests/local-service/service_fixture.h"

#include "login/login_window.h"
#include "service/address.h"
#include "service/exchange.h"
#include "tests/support/seam_recorder.h"
#include "tests/support/wait.h"

#include <QTest>

#include <memory>
#include <string>

namespace velkor::local::test {

class LoginSessionTest : public LocalServiceTest {
protected:
    using LocalServiceTest::LocalServiceTest;

    // The main window's part after a successful login.
    virtual void handOver(login::CTellanDlg& login, const login::HandOver& h) = 0;

    void SetUp() override
    {
        LocalServiceTest::SetUp();
        service::setServiceBase(service.webBase());
        dlg = std::make_unique<login::CTellanDlg>(
            [](const service::ServiceAccount& request) { return service::verify(request); },
            [this](login::CTellanDlg& login, const login::HandOver& h) { handOver(login, h); });
        dlg->show();
    }
    void TearDown() override
    {
        dlg.reset();
        velkor::test::waitFor([] { return login::CTellanDlg::workersRunning() == 0; });
        service::setServiceBase(VELKOR_SERVICE_BASE_DEFAULT);
        LocalServiceTest::TearDown();
    }

    // Types the account and password and clicks the login button.
    void typeLogin(const std::string& account, const std::string& password)
    {
        dlg->setItemText(login::kAccountBox, account);
        dlg->setItemText(login::kPasswordBox, password);
        QTest::mouseClick(dlg->control(login::kLoginButton), Qt::LeftButton);
    }

    WorkingFolder folder;
    velkor::test::SeamRecorder seams;
    std::unique_ptr<login::CTellanDlg> dlg;
};

} // namespace velkor::local::test
