#include "phone/main_window.h"

#include "audio/mixer_memory.h"
#include "platform/gbk.h"
#include "platform/ui/text.h"
#include "platform/ui/virtual_clock.h"
#include "service/address.h"
#include "telephony/fake_sipx.h"
#include "tests/support/seam_recorder.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

using namespace velkor;
using namespace velkor::phone;
using gbk::lit;

namespace {

void drain()
{
    for (int i = 0; i < 4; ++i)
        ui::VirtualClock::deliverPending();
}

struct MainWindow : ::testing::Test {
    QTemporaryDir dir;
    QString savedDir = QDir::currentPath();
    test::SeamRecorder seams;
    tel::FakeSipx fake;
    tel::ScopedSipxApi use{fake};
    ui::VirtualClock clock{1273000000};
    std::atomic<int> balanceQueries{0};
    std::string nextBalance = "7.77";
    std::unique_ptr<CDial> w;

    void SetUp() override { QDir::setCurrent(dir.path()); }
    void TearDown() override
    {
        w.reset();
        QDir::setCurrent(savedDir);
    }
    static void write(const char* name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }
    static std::string read(const char* name)
    {
        std::stringstream ss;
        ss << std::ifstream(name, std::ios::binary).rdbuf();
        return ss.str();
    }
    void open(const char* balance = "5")
    {
        login::HandOver h;
        h.account.accountId = "80012345";
        h.account.password = "pw12";
        h.account.sipUser = "7001";
        h.account.balance = balance;
        h.account.sipServer = "10.0.0.1:5060";
        h.account.sipServerHost = "10.0.0.1";
        h.account.sipServerPort = 5060;
        h.playbackDevice = "Speakers";
        h.recordingDevice = "Mic";
        w = std::make_unique<CDial>(h, nullptr, [this](const std::string& id, const std::string& pw) {
            EXPECT_EQ(id, "80012345");
            EXPECT_EQ(pw, "pw12");
            ++balanceQueries;
            service::BalanceResult r;
            r.outcome = service::BalanceOutcome::Updated;
            r.balance = nextBalance;
            return r;
        });
        w->show();
        drain();
    }
    void registerLine()
    {
        fake.fireLineEvent(fake.lastLine(), SIPX_LINESTATE_REGISTERED);
        drain();
        seams.clear();
    }
    void fire(int32_t code)
    {
        fake.fireCallEvent(w->session().handles.mainCall, code);
        drain();
    }
    void click(int id) { QTest::mouseClick(w->control(id), Qt::LeftButton); }
    void type(const char* number) { w->setItemText(kNumberBox, number); }
    std::string text(int id) const { return w->itemText(id); }
    void placeCall(const char* number)
    {
        type(number);
        click(kCall);
        fake.clearCalls();
        seams.clear();
    }
    // Waits for the balance worker's answer to reach the window (a real thread).
    void waitForBalance(int queries)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while ((balanceQueries < queries || text(kBalanceText) != nextBalance) &&
               std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    std::vector<std::string> calls(const char* name) const { return fake.callTexts(name); }
};

const std::string kGuardText = lit("登陆服务器失败.禁止进行任何操作");

} // namespace

TEST_F(MainWindow, SetUpStartsAndConfiguresTheSessionAndShowsTheAccount)
{
    write("Call.xml", "<CallLog><audio a11=\"1\" a22=\"0\" a33=\"1\"/></CallLog>");
    open();
    EXPECT_EQ(text(kAccountText), "80012345");
    EXPECT_EQ(text(kBalanceText), "5");
    EXPECT_EQ(calls("sipxLineAdd").at(0), "sipxLineAdd(1, \"sip:7001@10.0.0.1:5060\", out, 0)");
    EXPECT_EQ(calls("sipxAudioSetAECMode").at(0), "sipxAudioSetAECMode(1, 2)");
    EXPECT_EQ(calls("sipxAudioSetAGCMode").at(0), "sipxAudioSetAGCMode(1, 1)");
    EXPECT_EQ(calls("sipxConfigKeepAliveAdd").at(0), "sipxConfigKeepAliveAdd(1, 0, 3, \"10.0.0.1\", 5060, 30)");
    EXPECT_EQ(calls("sipxAudioSetInputDevice").at(0), "sipxAudioSetInputDevice(1, \"Mic\", 0)");
    EXPECT_EQ(w->controlAs<QSlider>(kSpeakerSlider)->value(), 20000);
    EXPECT_FALSE(w->control(kQualityHelp)->isVisible());
    EXPECT_EQ(w->registered(), 0);
}

TEST_F(MainWindow, GuardRefusesLineCommandsBeforeRegistration)
{
    open();
    seams.clear();
    type("0123");
    for (int id : {kCall, kPageAccount, kBackspace, kClearHistory, kRecordFolder, kMultiParty, kAudioSettings})
        click(id);
    const auto boxes = seams.boxes();
    ASSERT_EQ(boxes.size(), 7u);
    EXPECT_EQ(boxes[0].text, kGuardText);
    EXPECT_EQ(boxes[0].caption, lit("警告!"));
    EXPECT_EQ(boxes[0].flags, ui::kMbIconExclamation);
    EXPECT_TRUE(calls("sipxCallCreate").empty());
    EXPECT_TRUE(seams.urls().empty());
    EXPECT_TRUE(seams.sounds().empty());
    EXPECT_EQ(text(kNumberBox), "0123");

    // Dial-pad keys warn, then act all the same.
    seams.clear();
    click(1012);
    EXPECT_EQ(seams.boxes().size(), 1u);
    EXPECT_EQ(seams.sounds(), std::vector<int>{138});
    EXPECT_EQ(text(kNumberBox), "01235");
}

TEST_F(MainWindow, RefusedNumbersShowTheirVerdictWithTheWarningSound)
{
    open("0.11");
    registerLine();
    struct Case {
        const char* number;
        const char* text;
    } cases[] = {{"", "请输入对方电话号码"}, {"13912345678", "手机请在号码前加0"}, {"0123", "话费余额不足.请充值"}};
    for (const auto& c : cases) {
        seams.clear();
        type(c.number);
        click(kCall);
        EXPECT_EQ(text(kStatusLine), lit(c.text)) << c.number;
        EXPECT_EQ(seams.sounds(), std::vector<int>{151});
        EXPECT_EQ(text(kNumberBox), c.number);
    }
    EXPECT_TRUE(calls("sipxCallCreate").empty());
    EXPECT_EQ(w->inCall(), 0);
}

TEST_F(MainWindow, ACallIsPlacedRungAnsweredTimedAndEndedByTheFarEnd)
{
    write("Call.xml", "<CallLog>\r\n<audio a11=\"0\" a22=\"0\" a33=\"0\"/>\r\n</CallLog>");
    open();
    registerLine();
    EXPECT_EQ(text(kStatusLine), lit("成功登陆.请输入呼叫号码"));
    fake.clearCalls();
    type("0123");
    click(kCall);
    EXPECT_EQ(read("Call.xml"), "<CallLog>\r\n<Call dallnum=\"0123\" userr=\"80012345\" lx=\"a\"/>\r\n"
                                "<audio a11=\"0\" a22=\"0\" a33=\"0\"/>\r\n</CallLog>");
    EXPECT_EQ(w->controlAs<QComboBox>(kNumberBox)->count(), 1);
    const std::string line = std::to_string(fake.lastLine()), call = std::to_string(fake.lastCall());
    EXPECT_EQ(fake.callTexts(), (std::vector<std::string>{
                                    "sipxAudioSetInputDevice(1, \"Mic\", 0)",
                                    "sipxAudioSetOutputDevice(1, \"Speakers\", 0)",
                                    "sipxCallCreate(1, " + line + ", out)",
                                    "sipxCallConnect(" + call + ", \"sip:0123@10.0.0.1:5060\", 0, null, 1, {24,1,1,1,1,0}, null)",
                                }));
    EXPECT_EQ(text(kStatusLine), lit("正在呼叫:") + "0123");
    EXPECT_EQ(seams.sounds(), std::vector<int>{164});
    EXPECT_EQ(w->inCall(), 1);

    click(kCall); // a second press during the call does nothing
    EXPECT_EQ(calls("sipxCallCreate").size(), 1u);

    fire(SIPX_CALLSTATE_ALERTING);
    EXPECT_EQ(text(kStatusLine), lit("对方正在震铃"));
    EXPECT_TRUE(w->control(kQualityHelp)->isVisible());

    fire(SIPX_CALLSTATE_CONNECTED);
    EXPECT_EQ(text(kStatusLine), lit("呼叫成功,开始通话"));
    clock.advance(984);
    EXPECT_TRUE(text(kDurationText) == "00:00:00" || text(kDurationText) == "00:00:01") << text(kDurationText);
    clock.advance(3601 * 1000 - 984); // the last tick is at 3600.456 s
    EXPECT_EQ(text(kDurationText), "01:00:00");

    seams.clear();
    fire(SIPX_CALLSTATE_DISCONNECTED);
    EXPECT_EQ(seams.sounds(), std::vector<int>{153});
    EXPECT_EQ(text(kStatusLine), lit("通话已经结束"));
    EXPECT_EQ(w->inCall(), 0);
    EXPECT_FALSE(w->control(kQualityHelp)->isVisible());
    clock.advance(3000);
    EXPECT_EQ(text(kDurationText), "01:00:00") << "the last talk time stays";
    EXPECT_EQ(text(kNumberBox), "0123");
    EXPECT_EQ(balanceQueries, 0);
    clock.advance(1000);
    waitForBalance(1);
    EXPECT_EQ(balanceQueries, 1);
    EXPECT_EQ(text(kBalanceText), "7.77");
    EXPECT_EQ(w->balance(), "7.77");
    EXPECT_TRUE(calls("sipxCallDestroy").empty()) << "a call the far end ended is not destroyed";
}

TEST_F(MainWindow, HangUpClearsTheTexts)
{
    open();
    registerLine();
    placeCall("0123");
    const SIPX_CALL call = w->session().handles.mainCall;
    fire(SIPX_CALLSTATE_CONNECTED);
    clock.advance(2000);
    fake.clearCalls();
    click(kHangUp);
    EXPECT_EQ(fake.callTexts(), (std::vector<std::string>{
                                    "sipxCallHold(" + std::to_string(call) + ", 1)",
                                    "sipxCallDestroy(&" + std::to_string(call) + ")",
                                    "sipxCallAudioRecordFileStop(0)",
                                }));
    EXPECT_EQ(text(kStatusLine), "");
    EXPECT_EQ(text(kDurationText), "");
    EXPECT_EQ(text(kNumberBox), "");
    EXPECT_EQ(seams.sounds(), std::vector<int>{145});
    EXPECT_EQ(w->inCall(), 0);
    EXPECT_FALSE(w->timerActive(kCallTimer));
    clock.advance(4000);
    waitForBalance(1);
    EXPECT_EQ(balanceQueries, 1);
}

TEST_F(MainWindow, TwoCallEndsWithinFourSecondsGiveOneQuery)
{
    open();
    registerLine();
    placeCall("0123");
    fire(SIPX_CALLSTATE_DISCONNECTED); // the far end ends the first call at T
    clock.advance(1000);
    placeCall("0124");
    clock.advance(1000);
    fire(SIPX_CALLSTATE_DISCONNECTED); // and the second at T+2 s
    clock.advance(3500);               // T+5.5 s: the wait began again at T+2 s
    EXPECT_TRUE(w->timerActive(kBalanceTimer));
    EXPECT_EQ(balanceQueries, 0);
    clock.advance(500);
    EXPECT_FALSE(w->timerActive(kBalanceTimer)) << "one-shot";
    waitForBalance(1);
    EXPECT_EQ(balanceQueries, 1);
    EXPECT_EQ(text(kBalanceText), "7.77");
}

TEST_F(MainWindow, DialPadSendsTonesDuringACallAndKeySoundsOtherwise)
{
    open();
    registerLine();
    click(1012);
    EXPECT_EQ(seams.sounds(), std::vector<int>{138});
    EXPECT_TRUE(calls("sipxCallStartTone").empty());

    placeCall("0123");
    const std::string call = std::to_string(w->session().handles.mainCall);
    click(1012);
    clock.advance(50);
    click(1012);
    clock.advance(99);
    EXPECT_TRUE(calls("sipxCallStopTone").empty());
    clock.advance(1);
    EXPECT_EQ(calls("sipxCallStartTone"),
              (std::vector<std::string>(2, "sipxCallStartTone(" + call + ", 5, 1, 1)")));
    EXPECT_EQ(calls("sipxCallStopTone"), std::vector<std::string>{"sipxCallStopTone(" + call + ")"});
    EXPECT_TRUE(seams.sounds().empty());
    EXPECT_EQ(text(kNumberBox), "012355");

    click(1017);
    click(1019);
    clock.advance(100);
    EXPECT_EQ(calls("sipxCallStartTone").at(2), "sipxCallStartTone(" + call + ", 10, 1, 1)");
    EXPECT_EQ(calls("sipxCallStartTone").at(3), "sipxCallStartTone(" + call + ", 11, 1, 1)");
    EXPECT_EQ(text(kNumberBox), "012355*#");
}

TEST_F(MainWindow, KeyboardFilterPassesDigitsWithTheirSoundsAndSwallowsTheRest)
{
    open();
    registerLine();
    QWidget* edit = w->controlAs<QComboBox>(kNumberBox)->lineEdit();
    QApplication::setActiveWindow(w.get());
    edit->setFocus();
    QWidget* focus = QApplication::focusWidget(); // the combo box, the edit's focus proxy
    ASSERT_NE(focus, nullptr);
    QTest::keyClicks(edit, "0a9");
    QTest::keyClick(edit, Qt::Key_Tab);
    QTest::keyClick(edit, Qt::Key_Asterisk, Qt::ShiftModifier); // Shift+8
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Left);
    QTest::keyClick(edit, Qt::Key_1, Qt::KeypadModifier);
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(text(kNumberBox), "019"); // the keypad 1 went in at the caret, moved left
    EXPECT_EQ(seams.sounds(), (std::vector<int>{143, 142, 141, 148, 134}));
    EXPECT_EQ(QApplication::focusWidget(), focus) << "Tab does not move the focus";
    EXPECT_TRUE(w->isVisible()) << "Escape does not close the window";
    EXPECT_TRUE(calls("sipxCallStartTone").empty());

    // Enter places the call: with an empty box, the empty verdict.
    seams.clear();
    w->setItemText(kNumberBox, "");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(text(kStatusLine), lit("请输入对方电话号码"));
    EXPECT_EQ(seams.sounds(), std::vector<int>{151});
}

TEST_F(MainWindow, HistoryShowsTheAccountsTwentyNewestAndClearsForEveryAccount)
{
    std::string xml = "<CallLog>\r\n";
    for (int i = 24; i >= 0; --i) {
        xml += "<Call dallnum=\"01" + std::to_string(100 + i) + "\" userr=\"80012345\" lx=\"a\"/>\r\n";
        if (i % 3 == 0 && i < 30)
            xml += "<Call dallnum=\"0999\" userr=\"other\" lx=\"0\"/>\r\n";
    }
    xml += "<audio a11=\"1\" a22=\"1\" a33=\"1\"/>\r\n</CallLog>";
    write("Call.xml", xml);
    open();
    auto* box = w->controlAs<QComboBox>(kNumberBox);
    ASSERT_EQ(box->count(), 20);
    EXPECT_EQ(box->itemText(0), "01124");
    EXPECT_EQ(box->itemText(19), "01105");

    registerLine();
    click(kClearHistory);
    EXPECT_EQ(box->count(), 0);
    EXPECT_EQ(read("Call.xml"), "<CallLog>\r\n<audio a11=\"1\" a22=\"1\" a33=\"1\"/>\r\n</CallLog>");
    EXPECT_EQ(seams.sounds(), std::vector<int>{148});
}

TEST_F(MainWindow, BackspaceDeletesAndClearsTheStatusOnTheLastCharacter)
{
    open();
    registerLine();
    type("0");
    w->setItemText(kStatusLine, "x");
    click(kBackspace);
    EXPECT_EQ(text(kNumberBox), "");
    EXPECT_EQ(text(kStatusLine), "");
    EXPECT_EQ(seams.sounds(), std::vector<int>{148});
}

TEST_F(MainWindow, HangUpEndsACallEvenAfterTheLineLostItsRegistration)
{
    open();
    registerLine();
    placeCall("0123");
    fake.fireLineEvent(fake.lastLine(), SIPX_LINESTATE_REGISTER_FAILED);
    drain();
    EXPECT_EQ(text(kStatusLine), lit("注册服务器失败"));
    seams.clear();
    click(kHangUp);
    EXPECT_TRUE(seams.boxes().empty());
    EXPECT_EQ(calls("sipxCallDestroy").size(), 1u);
    EXPECT_EQ(seams.sounds(), std::vector<int>{145});

    // With no call in progress the guard applies.
    seams.clear();
    click(kHangUp);
    EXPECT_EQ(seams.boxes().size(), 1u);
    EXPECT_EQ(calls("sipxCallDestroy").size(), 1u);
}

TEST_F(MainWindow, ServicePagesOpenAfterRegistration)
{
    service::setServiceBase("http://svc.example");
    open();
    registerLine();
    click(kPageAccount);
    click(kPageCallback);
    click(kPageUserLogin);
    click(kPageUserLoginMa);
    EXPECT_EQ(seams.urls(), (std::vector<std::string>{"http://svc.example/acct.php", "http://svc.example/callback.php",
                                                      "http://svc.example/userlogin.php",
                                                      "http://svc.example/userloginma.php"}));
    EXPECT_EQ(seams.sounds(), (std::vector<int>(4, 148)));
    service::setServiceBase(VELKOR_SERVICE_BASE_DEFAULT);
}

TEST_F(MainWindow, ArmedRecordingStartsAtTheAnswerNamedByLocalTimeAndNumber)
{
    open();
    registerLine();
    placeCall("0123");
    fire(SIPX_CALLSTATE_CONNECTED); // not armed: nothing recorded
    click(kRecordBox);              // arms the next call only
    EXPECT_TRUE(calls("sipxCallAudioRecordFileStart").empty());
    click(kHangUp);

    placeCall("0123");
    fire(SIPX_CALLSTATE_CONNECTED);
    const std::time_t t = ui::calendarNow();
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d年%02d月%02d日%02d点%02d分", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min);
    const std::string path = ui::fromQ(QDir::currentPath()) + "/Record/" + lit(stamp) + "0123";
    EXPECT_EQ(calls("sipxCallAudioRecordFileStart"),
              std::vector<std::string>{"sipxCallAudioRecordFileStart(" +
                                       std::to_string(w->session().handles.mainCall) + ", \"" + path + ".wav\")"});
    EXPECT_TRUE(QDir(QStringLiteral("Record")).exists()) << "the folder is made when missing";

    // A second call in the same minute keeps the first file.
    write((gbk::toUtf8(path).text + ".wav").c_str(), "RIFF");
    click(kHangUp);
    placeCall("0123");
    fire(SIPX_CALLSTATE_CONNECTED);
    EXPECT_EQ(calls("sipxCallAudioRecordFileStart").back(),
              "sipxCallAudioRecordFileStart(" + std::to_string(w->session().handles.mainCall) + ", \"" + path +
                  "(2).wav\")");
}

TEST_F(MainWindow, MetersShowTruncatedEnergiesOnceRegistered)
{
    open();
    fake.setEnergies(37.9, 120.0);
    clock.advance(200);
    EXPECT_EQ(w->controlAs<QProgressBar>(kInputMeter)->value(), 0) << "no meters before registration";
    registerLine();
    clock.advance(50);
    EXPECT_EQ(w->controlAs<QProgressBar>(kInputMeter)->value(), 37);
    EXPECT_EQ(w->controlAs<QProgressBar>(kOutputMeter)->value(), 100);
}

TEST_F(MainWindow, MicrophoneSliderAndMuteBoxesGoToTheEngine)
{
    open();
    fake.clearCalls();
    auto* mic = w->controlAs<QSlider>(kMicSlider);
    mic->setValue(0);
    mic->setValue(1);
    mic->setValue(100);
    click(kMicMute);
    click(kSpeakerMute);
    click(kMicMute);
    EXPECT_EQ(fake.callTexts(), (std::vector<std::string>{
                                    "sipxAudioSetInputVolume(1, 98)",
                                    "sipxAudioSetInputVolume(1, -1)", // the engine takes it as 0
                                    "sipxAudioMuteInput(1, 1)",
                                    "sipxAudioMuteOutput(1, 1)",
                                    "sipxAudioMuteInput(1, 0)",
                                }));
}

TEST_F(MainWindow, SpeakerSliderSetsMasterAndWaveOutputVolumes)
{
    using namespace velkor::audio;
    auto mem = std::make_shared<MemoryMixer>();
    const unsigned dev = mem->addDevice();
    const auto speakers = mem->addDestination(dev, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2, "Speakers");
    const auto wave = mem->addSource(speakers, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 2, "Wave");
    MemoryMixer::NewControl volume;
    volume.name = "Master Volume";
    mem->addControl(speakers, volume);
    volume.name = "PCM Volume";
    mem->addControl(wave, volume);
    const std::uint32_t master = mem->controlId(speakers, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t waveVolume = mem->controlId(wave, MIXERCONTROL_CONTROLTYPE_VOLUME);
    using V = std::vector<std::uint32_t>;
    setMixerApi(mem);
    open();
    EXPECT_EQ(mem->values(dev, master), (V{45535, 45535}));
    EXPECT_EQ(mem->values(dev, waveVolume), (V{55535, 55535}));
    auto* slider = w->controlAs<QSlider>(kSpeakerSlider);
    struct Case {
        int position;
        std::uint32_t volume;
    } cases[] = {{65535, 0}, {0, 65535}, {1000, 64535}};
    for (const auto& c : cases) {
        slider->setValue(c.position);
        EXPECT_EQ(mem->values(dev, master), (V{c.volume, c.volume})) << c.position;
        EXPECT_EQ(mem->values(dev, waveVolume), (V{c.volume, c.volume})) << c.position;
    }
    w.reset();
    setMixerApi(nullptr);
}

TEST_F(MainWindow, ClosingDuringACallHoldsAndDestroysItAndEndsTheSession)
{
    open();
    registerLine();
    placeCall("0123");
    const std::string call = std::to_string(w->session().handles.mainCall);
    w->killTimer(kMeterTimer);
    w->close();
    w.reset();
    const auto texts = fake.callTexts();
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[0], "sipxCallHold(" + call + ", 1)");
    EXPECT_EQ(texts[1], "sipxCallDestroy(&" + call + ")");
    EXPECT_EQ(texts[2].rfind("sipxEventListenerRemove(1", 0), 0u);
    EXPECT_EQ(texts[3], "sipxLineRegister(" + std::to_string(fake.lastLine()) + ", 0)");
    EXPECT_EQ(texts[4], "sipxUnInitialize(1, 1)");
}
