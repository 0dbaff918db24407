// The login window: account entry, verification with a progress animation,
// remembered accounts, and the hand-over to the main phone window.
#pragma once

#include "platform/ui/dialog.h"
#include "service/account.h"
#include "service/exchange.h"

#include <functional>
#include <string>

namespace velkor::login {

enum ControlId : int {
    kAccountBox = 1000,
    kPasswordBox = 1001,
    kSaveAccount = 1002,
    kSavePassword = 1003,
    kLoginButton = 1004,
    kRegisterButton = 1005,
    kPasswordPageButton = 1006,
    kDeleteButton = 1007,
    kExitButton = 1011,
    kStatusLine = 1033,
    kProgressPicture = 1042,
};
inline constexpr int kDialogId = 102;
inline constexpr int kAnimationTimer = 1;
inline constexpr int kAnimationMs = 80;
inline constexpr int kAboutCommand = 0x10;

// What the main phone window receives from the login window.
struct HandOver {
    service::ServiceAccount account;
    std::string playbackDevice;
    std::string recordingDevice;
};

class CTellanDlg : public ui::Dialog {
    Q_OBJECT
public:
    // Runs the verification exchange (on a worker thread).
    using Verifier = std::function<service::VerifyResult(const service::ServiceAccount& request)>;
    // Creates the main phone window owned by the login window and runs it modally.
    using MainWindowRunner = std::function<void(CTellanDlg& login, const HandOver& handOver)>;
    // Runs the about box.
    using AboutRunner = std::function<void(QWidget* owner)>;

    CTellanDlg(Verifier verifier, MainWindowRunner runMain, AboutRunner runAbout = {});
    ~CTellanDlg() override;

    static const ui::DialogTemplate& dialogTemplate();

    const service::ServiceAccount& account() const { return account_; }
    const std::string& statusWord() const { return statusWord_; }
    int animationFrame() const { return frame_; }
    const std::string& playbackDevice() const { return playDevice_; }
    const std::string& recordingDevice() const { return recordDevice_; }

    // Verification threads not yet ended (one stays blocked while the main window runs).
    static int workersRunning();

    // The context menu's items (the about item after a separator).
    class QMenu* windowMenu() const { return menu_; }

protected:
    bool preTranslateKey(QKeyEvent* event) override;
    void onTimer(int id) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void setUp();
    void onLogin();
    long onAccountVerified();
    void backToIdle(const std::string& statusText);
    void openPage(std::string_view path);
    void showFrame(int bitmap);

    Verifier verifier_;
    MainWindowRunner runMain_;
    AboutRunner runAbout_;
    service::ServiceAccount account_;
    std::string statusWord_;
    std::string playDevice_;
    std::string recordDevice_;
    std::string networkName_;
    int frame_ = 1;
    class QMenu* menu_ = nullptr;
};

} // namespace velkor::login
