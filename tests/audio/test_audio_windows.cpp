// The audio device settings window and the sound-quality help window with the
// fake engine and settings files in a temporary working folder; and their
// opening from the main window's buttons.
#include "audio/audio_window.h"
#include "audio/help_window.h"

#include "phone/main_window.h"
#include "platform/gbk.h"
#include "platform/ui/text.h"
#include "platform/ui/ui_thread.h"
#include "platform/ui/virtual_clock.h"
#include "telephony/fake_sipx.h"
#include "tests/support/seam_recorder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

using namespace velkor;
using audio::Caudio;
using audio::yuyin;
using gbk::lit;

namespace {

void drain()
{
    for (int i = 0; i < 4; ++i)
        ui::VirtualClock::deliverPending();
}

void write(const char* name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }

std::string read(const char* name)
{
    std::stringstream ss;
    ss << std::ifstream(name, std::ios::binary).rdbuf();
    return ss.str();
}

class Host : public tel::SessionHost {
public:
    void postMessage(int) override {}
    void setStatusText(const std::string&) override {}
    void startTimer(int, int) override {}
    void showMessage(const std::string&) override {}
    void playSound(int) override {}
};

const std::string kAudioXml = "<Audio>\r\n<Dirver playdev=\"*\" recodev=\"*\"/>\r\n</Audio>";
const std::string kCallXml = "<CallLog>\r\n<Call dallnum=\"0123\" userr=\"80012345\" lx=\"a\"/>\r\n"
                             "<audio a11=\"0\" a22=\"0\" a33=\"0\"/>\r\n</CallLog>";

struct AudioWindow : ::testing::Test {
    QTemporaryDir dir;
    QString savedDir = QDir::currentPath();
    test::SeamRecorder seams;
    tel::FakeSipx fake;
    tel::ScopedSipxApi use{fake};
    ui::VirtualClock clock;
    Host host;
    tel::SipSession session{host, [](std::function<void()> task) { ui::postToUi(std::move(task)); }};
    std::unique_ptr<Caudio> w;

    void SetUp() override
    {
        QDir::setCurrent(dir.path());
        write("Audio.xml", kAudioXml);
        write("Call.xml", kCallXml);
        fake.setDevices({"Mic", lit("麦克风 (USB)"), "Line In"}, {"Speakers", "Headset", "speakers", "Speakers"});
        session.start();
        session.audio = {"Mic", "Speakers", 1, 0, 1};
    }
    void TearDown() override
    {
        w.reset();
        QDir::setCurrent(savedDir);
    }
    void open()
    {
        w = std::make_unique<Caudio>(session);
        w->show();
        fake.clearCalls();
    }
    void click(int id) { QTest::mouseClick(w->control(id), Qt::LeftButton); }
    static QStringList items(const QComboBox* list)
    {
        QStringList l;
        for (int i = 0; i < list->count(); ++i)
            l << list->itemText(i);
        return l;
    }
};

TEST_F(AudioWindow, ListsTheDevicesInOrderAndPreselectsTheStoredNamesAndSwitches)
{
    open();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("音频设备设置"));
    EXPECT_EQ(w->itemText(Caudio::kApply), lit("应 用 "));
    EXPECT_EQ(w->itemText(Caudio::kCancel), lit("取 消"));
    EXPECT_EQ(items(w->outputList()), (QStringList{"Speakers", "Headset", "speakers", "Speakers"}));
    EXPECT_EQ(items(w->inputList()), (QStringList{"Mic", QStringLiteral("麦克风 (USB)"), "Line In"}));
    EXPECT_EQ(w->outputList()->currentIndex(), 3) << "exact match, case included; the last one wins";
    EXPECT_EQ(w->inputList()->currentIndex(), 0);
    EXPECT_TRUE(w->isChecked(Caudio::kEchoBox));
    EXPECT_FALSE(w->isChecked(Caudio::kNoiseBox));
    EXPECT_TRUE(w->isChecked(Caudio::kGainBox));
    w.reset();

    // A Chinese name is matched by its GBK bytes; a name no longer present selects nothing.
    session.audio.inputDevice = lit("麦克风 (USB)");
    session.audio.outputDevice = "SPEAKERS";
    open();
    EXPECT_EQ(w->inputList()->currentIndex(), 1);
    EXPECT_EQ(w->outputList()->currentIndex(), -1);
    EXPECT_EQ(w->outputList()->currentText(), QString());
}

TEST_F(AudioWindow, CheckBoxesApplyTheirModesAtOnceAndStoreNothing)
{
    open();
    click(Caudio::kEchoBox); // off
    click(Caudio::kEchoBox); // on
    click(Caudio::kNoiseBox);
    click(Caudio::kNoiseBox);
    click(Caudio::kGainBox);
    EXPECT_EQ(fake.callTexts(), (std::vector<std::string>{
                                    "sipxAudioSetAECMode(1, 0)",
                                    "sipxAudioSetAECMode(1, 2)",
                                    "sipxAudioSetNoiseReductionMode(1, 1)",
                                    "sipxAudioSetNoiseReductionMode(1, 0)",
                                    "sipxAudioSetAGCMode(1, 0)",
                                }));
    EXPECT_EQ(session.audio.automaticGain, 1);
    EXPECT_EQ(read("Call.xml"), kCallXml);
}

TEST_F(AudioWindow, ApplyStoresBothFilesUpdatesTheMainWindowAndCloses)
{
    fake.setDevices({"Mic", lit("麦克风 (USB)")}, {"Speakers", lit("耳机 <1>")});
    open();
    w->outputList()->setCurrentIndex(1);
    w->inputList()->setCurrentIndex(1);
    click(Caudio::kNoiseBox);
    click(Caudio::kGainBox);
    fake.clearCalls();
    click(Caudio::kApply);
    // Stored as UTF-8 (no declaration in the file), escaped.
    EXPECT_EQ(read("Audio.xml"), "<Audio>\r\n<Dirver playdev=\"耳机 &lt;1&gt;\" recodev=\"麦克风 (USB)\"/>\r\n</Audio>");
    EXPECT_EQ(read("Call.xml"), "<CallLog>\r\n<Call dallnum=\"0123\" userr=\"80012345\" lx=\"a\"/>\r\n"
                                "<audio a11=\"1\" a22=\"1\" a33=\"0\"/>\r\n</CallLog>");
    EXPECT_EQ(session.audio.outputDevice, lit("耳机 <1>"));
    EXPECT_EQ(session.audio.inputDevice, lit("麦克风 (USB)"));
    EXPECT_EQ((std::vector<int>{session.audio.echoCancellation, session.audio.noiseReduction,
                                session.audio.automaticGain}),
              (std::vector<int>{1, 1, 0}));
    EXPECT_TRUE(fake.callTexts().empty()) << "the devices take effect with the next call";
    EXPECT_FALSE(w->isVisible());
}

TEST_F(AudioWindow, ApplyWithAnEmptyListStoresNothingAndStaysOpen)
{
    session.audio.outputDevice = "gone";
    session.audio.inputDevice = "gone too";
    open();
    click(Caudio::kEchoBox);
    click(Caudio::kApply);
    w->outputList()->setCurrentIndex(0);
    click(Caudio::kApply);
    EXPECT_EQ(read("Audio.xml"), kAudioXml);
    EXPECT_EQ(read("Call.xml"), kCallXml);
    EXPECT_EQ(session.audio.outputDevice, "gone");
    EXPECT_EQ(session.audio.echoCancellation, 1);
    EXPECT_TRUE(w->isVisible());

    w->inputList()->setCurrentIndex(2);
    click(Caudio::kApply);
    EXPECT_EQ(read("Audio.xml"), "<Audio>\r\n<Dirver playdev=\"Speakers\" recodev=\"Line In\"/>\r\n</Audio>");
    EXPECT_EQ(session.audio.echoCancellation, 0);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(AudioWindow, ApplyOnAFileWithTwoDirverKeepsTheSecondAndAddsTheNewOne)
{
    write("Audio.xml", "<Audio>\r\n<Dirver playdev=\"A\" recodev=\"a\"/>\r\n<Dirver playdev=\"B\" recodev=\"b\"/>\r\n</Audio>");
    open();
    click(Caudio::kApply);
    EXPECT_EQ(read("Audio.xml"), "<Audio>\r\n<Dirver playdev=\"B\" recodev=\"b\"/>\r\n"
                                 "<Dirver playdev=\"Speakers\" recodev=\"Mic\"/>\r\n</Audio>");
}

TEST_F(AudioWindow, ApplyWithoutTheFilesStillUpdatesTheMainWindow)
{
    QFile::remove("Audio.xml");
    QFile::remove("Call.xml");
    open();
    w->outputList()->setCurrentIndex(1);
    click(Caudio::kApply);
    EXPECT_FALSE(QFile::exists("Audio.xml"));
    EXPECT_FALSE(QFile::exists("Call.xml"));
    EXPECT_EQ(session.audio.outputDevice, "Headset");
    EXPECT_FALSE(w->isVisible());
}

TEST_F(AudioWindow, CancelAfterAClickKeepsTheModeInTheEngineButNotInTheFile)
{
    session.audio.echoCancellation = 0;
    open();
    click(Caudio::kEchoBox);
    click(Caudio::kCancel);
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(fake.callTexts(), std::vector<std::string>{"sipxAudioSetAECMode(1, 2)"})
        << "nothing turns the engine's mode back";
    EXPECT_EQ(session.audio.echoCancellation, 0);
    EXPECT_EQ(read("Call.xml"), kCallXml);
    EXPECT_EQ(read("Audio.xml"), kAudioXml);
    w.reset();
    open();
    EXPECT_FALSE(w->isChecked(Caudio::kEchoBox)) << "the box opens from the main window's flag";
}

// Escape and Enter, on the window or a control, neither close it nor press a button.
template <class Window>
bool survivesEscapeAndEnter(Window& w, QWidget* focus)
{
    bool open = false;
    QTimer::singleShot(0, &w, [&] {
        QApplication::setActiveWindow(&w);
        if (focus)
            focus->setFocus();
        for (QWidget* target : {static_cast<QWidget*>(&w), focus ? focus : static_cast<QWidget*>(&w)}) {
            QTest::keyClick(target, Qt::Key_Escape);
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
        }
        open = w.isVisible() && w.inModalRun();
        w.close();
    });
    w.runModal();
    return open && !w.isVisible();
}

TEST_F(AudioWindow, EscapeAndEnterDoNotCloseTheWindow)
{
    open();
    EXPECT_TRUE(survivesEscapeAndEnter(*w, w->control(Caudio::kApply)));
    EXPECT_EQ(read("Audio.xml"), kAudioXml) << "Enter did not press Apply";
}

// ---------------------------------------------------------------------------
// The sound-quality help window.

TEST(HelpWindow, ShowsSoundAdviceAndClosesOnlyWithTheCloseBox)
{
    yuyin w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("音质问题？"));
    EXPECT_EQ(w.size(), w.mapDialogRect(0, 0, 254, 261).size());
    EXPECT_TRUE(w.findChildren<QAbstractButton*>().isEmpty());
    const QString page = w.page()->text();
    for (const char* topic : {"麦克风", "扬声器", "回声", "网络", "耳机"})
        EXPECT_TRUE(page.contains(QString::fromUtf8(topic))) << topic;
    w.show();
    EXPECT_TRUE(survivesEscapeAndEnter(w, nullptr));
}

// ---------------------------------------------------------------------------
// Opening from the main window.

struct MainWindowButtons : ::testing::Test {
    QTemporaryDir dir;
    QString savedDir = QDir::currentPath();
    test::SeamRecorder seams;
    tel::FakeSipx fake;
    tel::ScopedSipxApi use{fake};
    ui::VirtualClock clock;
    std::unique_ptr<phone::CDial> main;

    void SetUp() override
    {
        QDir::setCurrent(dir.path());
        write("Audio.xml", kAudioXml);
        write("Call.xml", "<CallLog>\r\n<audio a11=\"1\" a22=\"1\" a33=\"0\"/>\r\n</CallLog>");
        fake.setDevices({"Mic", "Line In"}, {"Speakers", "Headset"});
        login::HandOver h;
        h.account.accountId = "80012345";
        h.account.balance = "5";
        h.account.sipServer = "10.0.0.1:5060";
        h.playbackDevice = "Speakers";
        h.recordingDevice = "Mic";
        main = std::make_unique<phone::CDial>(h, nullptr);
        main->show();
        drain();
        seams.clear();
    }
    void TearDown() override
    {
        main.reset();
        QDir::setCurrent(savedDir);
    }
    void registerLine()
    {
        fake.fireLineEvent(fake.lastLine(), SIPX_LINESTATE_REGISTERED);
        drain();
        main->killTimer(phone::kMeterTimer);
        seams.clear();
        fake.clearCalls();
    }
    void click(int id) { QTest::mouseClick(main->control(id), Qt::LeftButton); }
    template <class T>
    static T* openWindow()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<T*>(w); d && d->isVisible())
                return d;
        return nullptr;
    }
    // Runs `inside` on the window of type T once it runs modally, from a click on `button`.
    template <class T, class Fn>
    bool clickAndRun(int button, Fn inside)
    {
        bool found = false;
        QTimer::singleShot(0, main.get(), [&] {
            if (T* w = openWindow<T>()) {
                found = true;
                inside(*w);
                if (w->isVisible())
                    w->close();
            }
        });
        click(button);
        return found;
    }
    void placeCall()
    {
        main->setItemText(phone::kNumberBox, "0123");
        click(phone::kCall);
    }
};

TEST_F(MainWindowButtons, AudioSettingsAreGuardedAndRefusedDuringACall)
{
    click(phone::kAudioSettings);
    EXPECT_EQ(seams.boxes().size(), 1u);
    EXPECT_EQ(openWindow<Caudio>(), nullptr);

    registerLine();
    placeCall();
    seams.clear();
    fake.clearCalls();
    click(phone::kAudioSettings);
    EXPECT_TRUE(seams.boxes().empty());
    EXPECT_TRUE(seams.sounds().empty());
    EXPECT_TRUE(fake.callTexts().empty());
}

TEST_F(MainWindowButtons, AudioSettingsApplyReachTheNextCall)
{
    registerLine();
    std::vector<int> sounds;
    const bool opened = clickAndRun<Caudio>(phone::kAudioSettings, [&](Caudio& w) {
        sounds = seams.sounds();
        EXPECT_EQ(QApplication::activeModalWidget(), &w);
        EXPECT_EQ(w.outputList()->currentIndex(), 0);
        EXPECT_EQ(w.inputList()->currentIndex(), 0);
        EXPECT_TRUE(w.isChecked(Caudio::kEchoBox)) << "the flags read from Call.xml";
        EXPECT_TRUE(w.isChecked(Caudio::kNoiseBox));
        EXPECT_FALSE(w.isChecked(Caudio::kGainBox));
        w.outputList()->setCurrentIndex(1);
        w.inputList()->setCurrentIndex(1);
        w.apply();
    });
    EXPECT_TRUE(opened);
    EXPECT_EQ(sounds, std::vector<int>{148});
    EXPECT_EQ(read("Audio.xml"), "<Audio>\r\n<Dirver playdev=\"Headset\" recodev=\"Line In\"/>\r\n</Audio>");
    fake.clearCalls();
    placeCall();
    EXPECT_EQ(fake.callTexts("sipxAudioSetInputDevice"),
              std::vector<std::string>{"sipxAudioSetInputDevice(1, \"Line In\", 0)"});
    EXPECT_EQ(fake.callTexts("sipxAudioSetOutputDevice"),
              std::vector<std::string>{"sipxAudioSetOutputDevice(1, \"Headset\", 0)"});
}

TEST_F(MainWindowButtons, QualityHelpOpensDuringACallAndClicksAfterClosing)
{
    click(phone::kQualityHelp);
    EXPECT_EQ(seams.boxes().size(), 1u);
    EXPECT_TRUE(seams.sounds().empty());

    registerLine();
    placeCall();
    fake.fireCallEvent(main->session().handles.mainCall, SIPX_CALLSTATE_ALERTING);
    drain();
    ASSERT_TRUE(main->control(phone::kQualityHelp)->isVisible());
    seams.clear();
    std::vector<int> soundsWhileOpen{-1};
    const bool opened = clickAndRun<yuyin>(phone::kQualityHelp, [&](yuyin& w) {
        soundsWhileOpen = seams.sounds();
        EXPECT_EQ(w.parentWidget(), main.get());
        EXPECT_EQ(QApplication::activeModalWidget(), &w);
    });
    EXPECT_TRUE(opened);
    EXPECT_TRUE(soundsWhileOpen.empty());
    EXPECT_EQ(seams.sounds(), std::vector<int>{148});
    EXPECT_EQ(main->inCall(), 1) << "the call goes on";
}

} // namespace
