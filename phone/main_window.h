// The main phone window: dial pad and number box, call placement and progress,
// the call timer, the balance refresh and the service pages. It owns the SIP
// session; closing it ends the program.
#pragma once

#include "audio/mixer_main_window.h"
#include "audio/recording_source.h"
#include "audio/volume.h"
#include "login/login_window.h"
#include "platform/ui/dialog.h"
#include "service/account.h"
#include "telephony/session.h"

#include <ctime>
#include <memory>
#include <string>

namespace velkor::phone {

class CExplorer1;

inline constexpr int kDialogId = 131;

enum ControlId : int {
    kNumberBox = 1000,
    kHangUp = 1020,
    kSpeakerSlider = 1021,
    kMicSlider = 1022,
    kPageAccount = 1023,
    kPageCallback = 1024,
    kPageUserLogin = 1025,
    kAudioSettings = 1026,
    kRecordFolder = 1027,
    kMultiParty = 1028,
    kBackspace = 1029,
    kAccountText = 1030,
    kCall = 1031,
    kBrowser = 1032,
    kStatusLine = 1040,
    kDurationText = 1041,
    kRecordBox = 1044,
    kOutputMeter = 1045,
    kInputMeter = 1046,
    kSpeakerMute = 1048,
    kMicMute = 1049,
    kClearHistory = 1077,
    kQualityHelp = 1078,
    kPageUserLoginMa = 1079,
    kBalanceText = 1136,
};

enum TimerId : int {
    kCallTimer = 1,    // 984 ms: talk time
    kMeterTimer = 2,   // 50 ms: level meters
    kToneTimer = 3,    // 100 ms: end of a DTMF tone
    kBalanceTimer = 4, // 4000 ms one-shot: balance query
};

// The dial-pad keys: control, character, DTMF tone, key sound.
struct DialKey {
    int control;
    char character;
    int tone;
    int sound;
};
extern const DialKey kDialKeys[12];

class CDial : public ui::Dialog, private tel::SessionHost {
    Q_OBJECT
public:
    // Runs the balance query (on a worker thread).
    using BalanceQuery = std::function<service::BalanceResult(const std::string& accountId, const std::string& password)>;

    CDial(const login::HandOver& handOver, login::CTellanDlg* loginWindow, BalanceQuery balanceQuery = {});
    ~CDial() override;

    static const ui::DialogTemplate& dialogTemplate();

    // State the other windows and the tests read.
    int inCall() const { return inCall_; }
    int registered() const { return session_.registered(); }
    int recordFlag() const { return recordFlag_; }
    const std::string& balance() const { return account_.balance; }
    const std::string& numberText() const { return number_; }
    tel::SipSession& session() { return session_; }
    CExplorer1* browser() const { return browser_; }

protected:
    bool preTranslateKey(QKeyEvent* event) override;
    void onTimer(int id) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // SessionHost: effects of the engine's events, on the UI thread.
    void postMessage(int message) override { ui::Dialog::postMessage(message); }
    void setStatusText(const std::string& gbk) override { setItemText(kStatusLine, gbk); }
    void startTimer(int id, int intervalMs) override { setTimer(id, intervalMs); }
    void showMessage(const std::string& gbk) override;
    void playSound(int cue) override;

    void setUp();
    bool guard();
    void onDialKey(const DialKey& key);
    void onBackspace();
    void loadHistory();
    void onClearHistory();
    void placeCall();
    void onHangUp();
    long onRinging();
    long onConnected();
    long onDisconnected();
    void showTalkTime();
    void startBalanceQuery();
    void startRecording();
    void openPage(std::string_view path);
    void typeIntoNumberBox(const QString& text);

    service::ServiceAccount account_;
    QPointer<login::CTellanDlg> login_;
    BalanceQuery balanceQuery_;
    tel::SipSession session_;
    int inCall_ = 0;
    int recordFlag_ = 0;
    std::int64_t callStart_ = 0;
    std::string number_;
    CExplorer1* browser_ = nullptr;
    audio::MainWindowMixer mixer_;
    audio::mutecontrol mute_;
    audio::CAudioCtrl audioCtrl_;
};

// Runs the main window modally, owned by the hidden login window.
void runMainWindow(login::CTellanDlg& login, const login::HandOver& handOver);

} // namespace velkor::phone
