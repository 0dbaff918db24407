#include "phone/main_window.h"

#include "audio/audio_window.h"
#include "audio/help_window.h"
#include "multiparty/multiparty_window.h"
#include "phone/browser.h"
#include "phone/number_rules.h"
#include "platform/gbk.h"
#include "platform/ui/seams.h"
#include "platform/ui/text.h"
#include "platform/ui/ui_thread.h"
#include "service/address.h"
#include "settings/settings_files.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

namespace velkor::phone {

using gbk::lit;

namespace {

constexpr int kSoundClick = 148;
constexpr int kSoundWarning = 151;
constexpr int kSoundHangUp = 145;
constexpr int kSoundCallEnded = 153;
constexpr int kSoundCalling = 164;
constexpr const char* kAppName = "Velkor";

// The list images of the history: 1 for entries of kind "0", 2 for dialled numbers.
QIcon historyImage(int image)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(image == 1 ? QColor(0x2F, 0x6E, 0xBA) : QColor(0x2E, 0x8B, 0x3A));
    // An arrow: pointing in for image 1, out (a dialled call) for image 2.
    const QPolygonF out{{3, 12}, {10, 5}, {7, 5}, {7, 3}, {13, 3}, {13, 9}, {11, 9}, {11, 7}, {4, 13}};
    QTransform t;
    if (image == 1)
        t.translate(16, 16).rotate(180);
    p.drawPolygon(t.map(out));
    return QIcon(pm);
}

// The digit (0-9) of a key-down, or -1. The physical key counts: Shift with a
// digit of the main row is still that digit's key.
int digitOf(const QKeyEvent* e)
{
    const quint32 code = e->nativeScanCode();
    if (code >= 10 && code <= 19) // X11 key codes of the main row's 1..9, 0
        return code == 19 ? 0 : int(code) - 9;
    if (e->key() >= Qt::Key_0 && e->key() <= Qt::Key_9)
        return e->key() - Qt::Key_0;
    if (code != 0 || (e->modifiers() & Qt::KeypadModifier))
        return -1;
    // No key code known: the shifted characters of the main row (US layout).
    switch (e->key()) {
    case Qt::Key_ParenRight: return 0;
    case Qt::Key_Exclam: return 1;
    case Qt::Key_At: return 2;
    case Qt::Key_NumberSign: return 3;
    case Qt::Key_Dollar: return 4;
    case Qt::Key_Percent: return 5;
    case Qt::Key_AsciiCircum: return 6;
    case Qt::Key_Ampersand: return 7;
    case Qt::Key_Asterisk: return 8;
    case Qt::Key_ParenLeft: return 9;
    default: return -1;
    }
}

// "%H:%M:%S" of a duration, the hours within a day.
std::string talkTime(std::int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", int(seconds / 3600 % 24), int(seconds / 60 % 60),
                  int(seconds % 60));
    return buf;
}

} // namespace

const DialKey kDialKeys[12] = {
    {1008, '1', 1, 134}, {1009, '2', 2, 135}, {1010, '3', 3, 136},  {1911, '4', 4, 137},
    {1012, '5', 5, 138}, {1013, '6', 6, 139}, {1014, '7', 7, 140},  {1015, '8', 8, 141},
    {1016, '9', 9, 142}, {1017, '*', 10, 144}, {1018, '0', 0, 143}, {1019, '#', 11, 144},
};

const ui::DialogTemplate& CDial::dialogTemplate()
{
    using ui::Kind;
    static const ui::DialogTemplate t = [] {
        ui::DialogTemplate d{
            kDialogId,
            "Velkor1.10",
            200,
            393,
            {
                {kNumberBox, Kind::ComboBoxEx, "", 42, 86, 121, 114},
                {kBackspace, Kind::PushButton, "", 163, 87, 23, 16},
                {kAccountText, Kind::Static, "", 53, 65, 39, 8},
                {kBalanceText, Kind::Static, "", 147, 65, 39, 8},
                {kStatusLine, Kind::Static, "", 25, 115, 156, 8, ui::kCentered},
                {kDurationText, Kind::Static, "", 69, 132, 70, 8, ui::kCentered},
                {kQualityHelp, Kind::PushButton, "", 27, 143, 151, 12, ui::kHidden},
                {kMultiParty, Kind::PushButton, "", 124, 156, 61, 14},
                {kPageUserLoginMa, Kind::PushButton, "", 34, 160, 35, 9},
                {kClearHistory, Kind::PushButton, "", 83, 160, 35, 9},
                {kPageAccount, Kind::PushButton, "", 21, 176, 38, 9},
                {kPageCallback, Kind::PushButton, "", 63, 176, 38, 9},
                {kPageUserLogin, Kind::PushButton, "", 105, 176, 38, 9},
                {kAudioSettings, Kind::PushButton, "", 146, 176, 38, 9},
                {kSpeakerSlider, Kind::VTrackbar, "", 17, 197, 20, 76},
                {kOutputMeter, Kind::VProgress, "", 37, 204, 6, 64},
                {kInputMeter, Kind::VProgress, "", 161, 204, 6, 65},
                {kMicSlider, Kind::VTrackbar, "", 171, 197, 20, 76},
                {kSpeakerMute, Kind::CheckBox, "", 18, 271, 14, 12},
                {kMicMute, Kind::CheckBox, "", 172, 271, 16, 12},
                {kRecordBox, Kind::CheckBox, lit("录音"), 54, 276, 29, 10},
                {kRecordFolder, Kind::PushButton, "", 81, 277, 71, 9},
                {kCall, Kind::PushButton, "", 44, 290, 57, 21},
                {kHangUp, Kind::PushButton, "", 103, 290, 57, 21},
                {kBrowser, Kind::Custom, "", 11, 322, 182, 70},
            },
        };
        const int xs[3] = {50, 86, 122};
        for (int i = 0; i < 12; ++i)
            d.controls.push_back({kDialKeys[i].control, Kind::PushButton, "", xs[i % 3], 201 + 18 * (i / 3), 31, 16});
        return d;
    }();
    return t;
}

CDial::CDial(const login::HandOver& handOver, login::CTellanDlg* loginWindow, BalanceQuery balanceQuery)
    : ui::Dialog(dialogTemplate(), loginWindow), account_(handOver.account), login_(loginWindow),
      balanceQuery_(std::move(balanceQuery)),
      session_(*this, [ref = ref()](std::function<void()> task) {
          // Engine effects reach the window on the UI thread, never after it has gone.
          ui::postToUi([ref, task = std::move(task)] {
              if (ref.get())
                  task();
          });
      })
{
    if (!balanceQuery_)
        balanceQuery_ = [](const std::string& id, const std::string& pw) { return service::queryBalance(id, pw); };
    session_.audio.inputDevice = handOver.recordingDevice;
    session_.audio.outputDevice = handOver.playbackDevice;

    for (const DialKey& key : kDialKeys)
        onCommand(key.control, [this, &key] { onDialKey(key); });
    onCommand(kBackspace, [this] { onBackspace(); });
    onCommand(kClearHistory, [this] { onClearHistory(); });
    onCommand(kCall, [this] { placeCall(); });
    onCommand(kHangUp, [this] { onHangUp(); });
    onCommand(kPageAccount, [this] { openPage(service::page::account); });
    onCommand(kPageCallback, [this] { openPage(service::page::callback); });
    onCommand(kPageUserLogin, [this] { openPage(service::page::userLogin); });
    onCommand(kPageUserLoginMa, [this] { openPage(service::page::userLoginMa); });
    onCommand(kRecordBox, [this] { recordFlag_ = isChecked(kRecordBox) ? 1 : 0; });
    onCommand(kRecordFolder, [this] {
        if (!guard())
            return;
        ui::playSound(kSoundClick);
        ui::seams().openFolder(ui::fromQ(QDir::currentPath()) + "/Record");
    });
    onCommand(kSpeakerMute, [this] { sipxAudioMuteOutput(session_.handles.instance, isChecked(kSpeakerMute)); });
    onCommand(kMicMute, [this] { sipxAudioMuteInput(session_.handles.instance, isChecked(kMicMute)); });
    connect(controlAs<QSlider>(kSpeakerSlider), &QSlider::valueChanged, this,
            [this](int position) { mixer_.SpeakerSliderMoved(position); });
    connect(controlAs<QSlider>(kMicSlider), &QSlider::valueChanged, this, [this](int position) {
        if (session_.handles.instance)
            sipxAudioSetInputVolume(session_.handles.instance, 99 - position);
    });
    // The secondary windows: guarded, and refused during a call where they would disturb it.
    onCommand(kAudioSettings, [this] {
        if (!guard() || inCall_)
            return;
        ui::playSound(kSoundClick);
        audio::Caudio window(session_, this);
        window.runModal();
    });
    onCommand(kMultiParty, [this] {
        if (!guard() || inCall_)
            return;
        ui::playSound(kSoundClick);
        // The window attaches itself to the session as its leg handler and detaches on closing.
        multiparty::cduoren1 window(session_, [this] { return account_.balance; }, this);
        window.runModal();
    });
    onCommand(kQualityHelp, [this] {
        if (!guard())
            return;
        audio::yuyin window(this);
        window.runModal();
        ui::playSound(kSoundClick);
    });
    onMessage(ui::kWmCallRinging, [this] { return onRinging(); });
    onMessage(ui::kWmCallConnected, [this] { return onConnected(); });
    onMessage(ui::kWmCallDisconnected, [this] { return onDisconnected(); });
    setUp();
}

CDial::~CDial()
{
    // Ends the session, then the program: the hidden login window closes.
    session_.end(inCall_ == 1);
    if (login_)
        login_->close();
}

void CDial::setUp()
{
    setWindowIcon(QIcon(QStringLiteral(":/icon/128.png")));
    auto* speaker = controlAs<QSlider>(kSpeakerSlider);
    auto* mic = controlAs<QSlider>(kMicSlider);
    // A vertical slider has its minimum at the top: the top is loudest.
    for (QSlider* s : {speaker, mic})
        s->setInvertedAppearance(true), s->setInvertedControls(true);
    speaker->setRange(0, 65535);
    mic->setRange(0, 100);

    const settings::VoiceFlags flags = settings::ReadVoiceFlags();
    session_.audio.echoCancellation = flags.echoCancellation;
    session_.audio.noiseReduction = flags.noiseReduction;
    session_.audio.automaticGain = flags.automaticGain;

    mixer_.OpenMainMixer();
    mixer_.FindMasterVolume();
    {
        const QSignalBlocker b1(speaker), b2(mic);
        speaker->setValue(audio::kSpeakerSliderStart);
        mic->setValue(0);
    }

    // The number box: Arial 20 bold (a metric-compatible face where Arial is missing).
    QFont numberFont;
    numberFont.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    numberFont.setPixelSize(20);
    numberFont.setBold(true);
    auto* box = controlAs<QComboBox>(kNumberBox);
    box->setFont(numberFont);
    box->lineEdit()->setFont(numberFont); // a style sheet does not pass fonts on to children
    box->setIconSize(QSize(16, 16));
    box->resize(box->width(), std::max(box->height(), box->sizeHint().height()));
    mixer_.SetMasterVolume(audio::kStartMasterVolume);
    mixer_.SetSourceLineVolume(audio::MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, audio::MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT,
                               audio::kStartWaveOutVolume);

    inCall_ = 0;
    loadHistory();
    setItemText(kBalanceText, account_.balance);
    setItemText(kAccountText, account_.accountId);
    controlAs<QProgressBar>(kOutputMeter)->setRange(0, 100);
    controlAs<QProgressBar>(kInputMeter)->setRange(0, 100);
    controlAs<QProgressBar>(kOutputMeter)->setValue(0);
    controlAs<QProgressBar>(kInputMeter)->setValue(0);
    recordFlag_ = 0;

    session_.account = {account_.sipUser, account_.password, account_.sipServer, account_.sipServerHost,
                        account_.sipServerPort};
    session_.start();
    if (session_.handles.instance)
        session_.configure();
    // The microphone becomes the recording input of every recording device.
    audioCtrl_.SelectRecordingSource(1, nullptr, nullptr);
    mute_.SetValue(0);

    browser_ = createBrowser(this);
    replaceControl(kBrowser, browser_);
    browser_->Navigate(service::pageUrl(service::page::advert));
}

void CDial::showMessage(const std::string& gbk) { ui::messageBox(this, gbk, kAppName, ui::kMbOk); }

void CDial::playSound(int cue) { ui::playSound(cue); }

bool CDial::guard()
{
    if (session_.registered())
        return true;
    ui::messageBox(this, lit("登陆服务器失败.禁止进行任何操作"), lit("警告!"), ui::kMbIconExclamation);
    return false;
}

bool CDial::preTranslateKey(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Escape:
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        placeCall();
        return true;
    case Qt::Key_Backspace:
        ui::playSound(kSoundClick);
        return false;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Delete:
        return false;
    default:
        break;
    }
    const int digit = digitOf(e);
    if (digit < 0)
        return true; // every other key is swallowed, Tab too
    ui::playSound(digit == 0 ? 143 : 133 + digit);
    return false;
}

void CDial::typeIntoNumberBox(const QString& text)
{
    // As if typed: at the caret, replacing a selection.
    controlAs<QComboBox>(kNumberBox)->lineEdit()->insert(text);
}

void CDial::onDialKey(const DialKey& key)
{
    if (!session_.registered())
        guard(); // warns, then the key acts all the same
    else if (!inCall_) {
        setItemText(kStatusLine, "");
        setItemText(kDurationText, "");
    }
    if (inCall_) {
        sipxCallStartTone(session_.handles.mainCall, key.tone, 1, 1);
        setTimer(kToneTimer, 100);
    }
    typeIntoNumberBox(QString(QLatin1Char(key.character)));
    if (!inCall_)
        ui::playSound(key.sound);
}

void CDial::onBackspace()
{
    if (!guard())
        return;
    const std::string before = itemText(kNumberBox);
    controlAs<QComboBox>(kNumberBox)->lineEdit()->backspace();
    ui::playSound(kSoundClick);
    if (before.size() < 2)
        setItemText(kStatusLine, "");
}

void CDial::loadHistory()
{
    auto* box = controlAs<QComboBox>(kNumberBox);
    const QString text = box->currentText(); // the edit text stays
    const QSignalBlocker block(box);
    box->clear();
    for (const settings::HistoryItem& item : settings::ReadHistory(account_.accountId))
        box->addItem(historyImage(item.image), ui::toQ(item.number));
    box->setCurrentIndex(-1);
    box->setEditText(text);
}

void CDial::onClearHistory()
{
    if (!guard())
        return;
    settings::ClearHistory();
    loadHistory();
    ui::playSound(kSoundClick);
}

void CDial::placeCall()
{
    if (!guard() || inCall_)
        return;
    setItemText(kStatusLine, "");
    setItemText(kDurationText, "");
    number_ = itemText(kNumberBox);
    const Verdict verdict = numberVerdict(number_, account_.balance);
    if (verdict != Verdict::Accepted) {
        setItemText(kStatusLine, verdictText(verdict, number_));
        ui::playSound(kSoundWarning);
        return;
    }
    settings::AddHistoryEntry(number_, account_.accountId);
    loadHistory();
    auto& h = session_.handles;
    sipxAudioSetInputDevice(h.instance, session_.audio.inputDevice.c_str(), 0);
    sipxAudioSetOutputDevice(h.instance, session_.audio.outputDevice.c_str(), 0);
    setItemText(kStatusLine, verdictText(verdict, number_));
    inCall_ = 1;
    sipxCallCreate(h.instance, h.line, &h.mainCall);
    const std::string address = "sip:" + number_ + "@" + account_.sipServer;
    static const SIPX_CALL_OPTIONS options{24, 1, 1, 1, 1, 0};
    sipxCallConnect(h.mainCall, address.c_str(), 0, nullptr, 1, &options, nullptr);
    if (!isServiceNumber(number_))
        ui::playSound(kSoundCalling);
}

void CDial::onHangUp()
{
    // A call in progress can always be ended, even when the line has lost its
    // registration: it would go on costing money otherwise.
    if (!inCall_ && !guard())
        return;
    auto& h = session_.handles;
    sipxCallHold(h.mainCall, 1);
    sipxCallDestroy(&h.mainCall);
    setItemText(kStatusLine, "");
    setItemText(kDurationText, "");
    setItemText(kNumberBox, "");
    killTimer(kCallTimer);
    inCall_ = 0;
    showItem(kQualityHelp, false);
    sipxCallAudioRecordFileStop(h.mainCall);
    setTimer(kBalanceTimer, 4000);
    ui::playSound(kSoundHangUp);
}

long CDial::onRinging()
{
    showItem(kQualityHelp, true);
    inCall_ = 1;
    setItemText(kStatusLine, lit("对方正在震铃"));
    return 1;
}

long CDial::onConnected()
{
    setTimer(kCallTimer, 984);
    callStart_ = ui::calendarNow();
    setItemText(kStatusLine, lit("呼叫成功,开始通话"));
    inCall_ = 1;
    if (recordFlag_)
        startRecording();
    return 1;
}

long CDial::onDisconnected()
{
    ui::playSound(kSoundCallEnded);
    setItemText(kStatusLine, lit("通话已经结束"));
    killTimer(kCallTimer);
    inCall_ = 0;
    setTimer(kBalanceTimer, 4000);
    showItem(kQualityHelp, false);
    return 1;
}

void CDial::onTimer(int id)
{
    switch (id) {
    case kCallTimer:
        setItemText(kDurationText, talkTime(ui::calendarNow() - callStart_));
        break;
    case kMeterTimer: {
        double in = 0, out = 0;
        if (sipxAudioGetInputEnergy(session_.handles.instance, 1, &in) != SIPX_RESULT_SUCCESS)
            in = 0;
        if (sipxAudioGetOutputEnergy(session_.handles.instance, 1, &out) != SIPX_RESULT_SUCCESS)
            out = 0;
        auto level = [](double v) { return std::isnan(v) ? 0 : int(std::clamp(std::trunc(v), 0.0, 100.0)); };
        controlAs<QProgressBar>(kOutputMeter)->setValue(level(out));
        controlAs<QProgressBar>(kInputMeter)->setValue(level(in));
        break;
    }
    case kToneTimer:
        sipxCallStopTone(session_.handles.mainCall);
        killTimer(kToneTimer);
        break;
    case kBalanceTimer:
        killTimer(kBalanceTimer);
        startBalanceQuery();
        break;
    default:
        break;
    }
}

void CDial::startBalanceQuery()
{
    // The answer reaches the window on the UI thread, and never a window that has closed.
    std::thread([self = ref<CDial>(), query = balanceQuery_, id = account_.accountId, pw = account_.password] {
        const service::BalanceResult r = query(id, pw);
        if (r.outcome == service::BalanceOutcome::NetworkFailure)
            return;
        ui::runOn(self, [r](CDial* d) {
            if (r.outcome == service::BalanceOutcome::Updated) {
                d->account_.balance = r.balance;
                d->setItemText(kBalanceText, r.balance);
            } else {
                d->setItemText(kBalanceText, ""); // the balance itself is kept
            }
        });
    }).detach();
}

void CDial::startRecording()
{
    // Record/<local answer time><number>.wav under the working folder. The
    // folder is made when missing, and an earlier recording is never replaced.
    const std::time_t t = callStart_;
    std::tm local{};
    localtime_r(&t, &local);
    char digits[5][16];
    std::snprintf(digits[0], 16, "%04d", local.tm_year + 1900);
    std::snprintf(digits[1], 16, "%02d", local.tm_mon + 1);
    std::snprintf(digits[2], 16, "%02d", local.tm_mday);
    std::snprintf(digits[3], 16, "%02d", local.tm_hour);
    std::snprintf(digits[4], 16, "%02d", local.tm_min);
    const std::string stamp = std::string(digits[0]) + lit("年") + digits[1] + lit("月") + digits[2] + lit("日") +
                              digits[3] + lit("点") + digits[4] + lit("分");
    const std::string folder = ui::fromQ(QDir::currentPath()) + "/Record";
    QDir().mkpath(ui::toQ(folder));
    const std::string base = folder + "/" + stamp + number_;
    std::string path = base + ".wav";
    for (int n = 2; QFileInfo::exists(ui::toQ(path)); ++n)
        path = base + "(" + std::to_string(n) + ").wav";
    sipxCallAudioRecordFileStart(session_.handles.mainCall, path.c_str());
}

void CDial::openPage(std::string_view path)
{
    if (!guard())
        return;
    ui::playSound(kSoundClick);
    ui::seams().openUrl(service::pageUrl(path));
}

void CDial::closeEvent(QCloseEvent* event)
{
    hide();
    ui::Dialog::closeEvent(event);
}

void runMainWindow(login::CTellanDlg& login, const login::HandOver& handOver)
{
    CDial dial(handOver, &login);
    dial.runModal();
}

} // namespace velkor::phone
