// CVolumeCtrl, CAudioCtrl, mutecontrol and the main window's mixer operations
// on the in-memory mixer installed as the backend in force.
#include "audio/mixer_main_window.h"
#include "audio/mixer_memory.h"
#include "audio/recording_source.h"
#include "audio/volume.h"

#include <gtest/gtest.h>

#include <functional>

using namespace velkor::audio;

namespace {

using Values = std::vector<std::uint32_t>;
constexpr std::uint32_t kMic = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
constexpr std::uint32_t kLine = MIXERLINE_COMPONENTTYPE_SRC_LINE;
constexpr std::uint32_t kCd = MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
constexpr std::uint32_t kMix = MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
constexpr std::uint32_t kWaveOut = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
constexpr std::uint32_t kSpeakers = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;

class MixerTest : public ::testing::Test {
public:
    void SetUp() override { setMixerApi(mem); }
    void TearDown() override { setMixerApi(nullptr); }

    // A device with a recording line: one source line per type, each with a
    // volume control (0-65535) unless told otherwise; on the recording line a
    // volume, a mute and the selector (item 0 on at the start). Returns the
    // device; the selector's ID is looked up with selector().
    struct Recording {
        std::vector<std::uint32_t> sources;
        std::uint32_t channels = 2;
        std::uint32_t selectorType = MIXERCONTROL_CONTROLTYPE_MUX;
        std::uint32_t selectorFlags = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
        bool volumes = true;
        std::uint32_t minimum = 0, maximum = 65535;
    };
    unsigned addRecording(const Recording& r)
    {
        const unsigned dev = mem->addDevice();
        const auto speakers = mem->addDestination(dev, kSpeakers, 2, "Speakers");
        mem->addSource(speakers, kWaveOut, 2, "Wave");
        const auto rec = mem->addDestination(dev, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, r.channels, "Recording");
        mem->addControl(rec, {.type = MIXERCONTROL_CONTROLTYPE_VOLUME, .flags = MIXERCONTROL_CONTROLF_UNIFORM});
        mem->addControl(rec, {.type = MIXERCONTROL_CONTROLTYPE_MUTE, .flags = MIXERCONTROL_CONTROLF_UNIFORM,
                              .maximum = 1});
        if (!r.sources.empty()) {
            const std::uint32_t stored = (r.selectorFlags & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : r.channels;
            const std::size_t n = r.sources.size();
            Values start(stored * n, 0);
            for (std::uint32_t ch = 0; ch < stored; ++ch)
                start[ch * n] = 1;
            mem->addControl(rec, {.type = r.selectorType, .flags = r.selectorFlags, .maximum = 1,
                                  .items = std::vector<std::string>(n, "item"), .values = start});
        }
        for (std::uint32_t type : r.sources) {
            const auto src = mem->addSource(rec, type, r.channels);
            if (r.volumes)
                mem->addControl(src, {.minimum = r.minimum, .maximum = r.maximum, .steps = 32});
        }
        mem->addWaveIn(dev);
        return dev;
    }
    std::uint32_t selector(unsigned dev) const
    {
        const MemoryMixer::LineRef rec{dev, 1};
        if (auto id = mem->controlId(rec, MIXERCONTROL_CONTROLTYPE_MUX))
            return id;
        return mem->controlId(rec, MIXERCONTROL_CONTROLTYPE_MIXER);
    }
    std::uint32_t sourceVolume(unsigned dev, std::uint32_t source) const
    {
        return mem->controlId({dev, (source + 1) << 16 | 1}, MIXERCONTROL_CONTROLTYPE_VOLUME);
    }

    std::shared_ptr<MemoryMixer> mem = std::make_shared<MemoryMixer>();
};

// The selector item math: item n - 1 - (microphone source index) on, every other
// item off, the same on each channel that is written.
TEST_F(MixerTest, SelectMicrophoneSwitchesOnTheMicrophoneItemOnly)
{
    constexpr std::uint32_t uniform = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
    constexpr std::uint32_t perChannel = MIXERCONTROL_CONTROLF_MULTIPLE;
    struct Case {
        const char* what;
        Recording rec;
        std::uint32_t channelsWritten;
        Values written;
    };
    const Case cases[] = {
        {"microphone second of three", {{kLine, kMic, kCd}}, 1, {0, 1, 0}},
        {"microphone first of four", {{kMic, kLine, kCd, kMix}}, 1, {0, 0, 0, 1}},
        {"microphone last of three", {{kLine, kCd, kMic}}, 1, {1, 0, 0}},
        {"the first of two microphones", {{kLine, kMic, kMic}}, 1, {0, 1, 0}},
        {"a value per channel", {.sources = {kCd, kMic}, .selectorFlags = perChannel}, 2, {1, 0, 1, 0}},
        {"a mono recording line", {.sources = {kCd, kMic}, .channels = 1, .selectorFlags = perChannel}, 1,
         {1, 0}},
        {"a multiple-select list", {.sources = {kMic, kLine}, .selectorType = MIXERCONTROL_CONTROLTYPE_MIXER,
                                    .selectorFlags = uniform}, 1, {0, 1}},
        {"no microphone: every item off", {{kLine, kCd, kMix}}, 1, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mem = std::make_shared<MemoryMixer>();
        setMixerApi(mem);
        const unsigned dev = addRecording(c.rec);
        {
            CVolumeCtrl v(1, 0);
            ASSERT_TRUE(v.linesFound());
            ASSERT_TRUE(v.HasVolumeControl());
            v.SelectMicrophone();
        }
        // One write, to the selector only (the line's volume and mute are left alone).
        const auto w = mem->writes();
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(w[0].controlId, selector(dev));
        EXPECT_EQ(w[0].channels, c.channelsWritten);
        EXPECT_EQ(w[0].multipleItems, c.rec.sources.size());
        EXPECT_EQ(w[0].values, c.written);
        EXPECT_EQ(w[0].result, MMSYSERR_NOERROR);
        EXPECT_EQ(mem->openHandles(), 0u);
    }
}

// Every failing step of the set-up leaves a usable object that does nothing.
TEST_F(MixerTest, FailedSetUpLeavesAQuietControl)
{
    struct Case {
        const char* what;
        std::function<void(MixerTest&)> build;
        bool opened, linesFound, volume;
    };
    const Case cases[] = {
        {"no mixer device", [](MixerTest&) {}, false, false, false},
        {"wave input without a mixer",
         [](MixerTest& t) {
             t.mem->addDevice();
             t.mem->addWaveIn(std::nullopt);
         },
         false, false, false},
        {"mixer that does not open",
         [](MixerTest& t) { t.mem->setOpenFails(t.addRecording({{kLine, kMic}}), true); }, false, false, false},
        {"no recording line",
         [](MixerTest& t) {
             const unsigned d = t.mem->addDevice();
             t.mem->addDestination(d, kSpeakers, 2);
             t.mem->addWaveIn(d);
         },
         true, false, false},
        {"a recording line with one source line", [](MixerTest& t) { t.addRecording({{kMic}}); }, true, false,
         false},
        {"source line 1 without a volume control",
         [](MixerTest& t) { t.addRecording({.sources = {kLine, kMic}, .volumes = false}); }, true, true, false},
        {"source line 1's volume control disabled",
         [](MixerTest& t) {
             const unsigned d = t.addRecording({.sources = {kLine, kCd}, .volumes = false});
             t.mem->addControl({d, 2 << 16 | 1}, {.flags = MIXERCONTROL_CONTROLF_DISABLED});
         },
         true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mem = std::make_shared<MemoryMixer>();
        setMixerApi(mem);
        c.build(*this);
        {
            CVolumeCtrl v(1, 0);
            // A failed line search closes the mixer again.
            EXPECT_EQ(v.opened(), c.opened && c.linesFound);
            EXPECT_EQ(v.linesFound(), c.linesFound);
            EXPECT_EQ(v.HasVolumeControl(), c.volume);
            v.SelectMicrophone();
            v.SetVolume(1000);
            EXPECT_EQ(v.GetVolume(), kVolumeNone);
            EXPECT_EQ(v.GetMinimum(), kVolumeNone);
            EXPECT_EQ(v.GetMaximum(), kVolumeNone);
            EXPECT_EQ(v.GetStepCount(), kVolumeNone);
        }
        EXPECT_TRUE(mem->writes().empty());
        EXPECT_EQ(mem->openHandles(), 0u);
    }
}

TEST_F(MixerTest, SetVolumeWritesEveryChannelWithinTheBoundsOnly)
{
    struct Case {
        std::uint32_t minimum, maximum, value;
        bool written;
    };
    const Case cases[] = {
        {0, 65535, 65535, true},  {0, 65535, 65536, false}, {0, 65535, 0, true},
        {100, 1000, 1000, true},  {100, 1000, 1001, false}, {100, 1000, 100, true},
        {100, 1000, 99, false},   {100, 1000, 555, true},   {0, 65535, kVolumeNone, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.minimum << "-" << c.maximum << " value " << c.value);
        mem = std::make_shared<MemoryMixer>();
        setMixerApi(mem);
        const unsigned dev = addRecording({.sources = {kLine, kCd, kMic}, .minimum = c.minimum,
                                           .maximum = c.maximum});
        const std::uint32_t vol = sourceVolume(dev, 1);
        mem->setValues(dev, vol, {c.minimum, c.minimum});
        CVolumeCtrl v(1, 0);
        EXPECT_EQ(v.GetMinimum(), c.minimum);
        EXPECT_EQ(v.GetMaximum(), c.maximum);
        EXPECT_EQ(v.GetStepCount(), 32u);
        v.SetVolume(c.value);
        const Values expected = c.written ? Values{c.value, c.value} : Values{c.minimum, c.minimum};
        EXPECT_EQ(mem->values(dev, vol), expected);
        EXPECT_EQ(mem->writes().size(), c.written ? 1u : 0u);
    }
}

TEST_F(MixerTest, GetVolumeAnswersTheFirstChannel)
{
    const unsigned dev = addRecording({{kLine, kMic}});
    mem->setValues(dev, sourceVolume(dev, 1), {7000, 9000});
    CVolumeCtrl v(1, 0);
    EXPECT_EQ(v.GetVolume(), 7000u);
    EXPECT_EQ(v.microphoneSourceIndex(), 1);
}

TEST_F(MixerTest, RecordingSourceSelectionCoversEveryInputDevice)
{
    const unsigned first = addRecording({{kLine, kMic, kCd}});
    const unsigned second = addRecording({.sources = {kMic, kCd}, .minimum = 10, .maximum = 20});
    std::uint32_t minimum = 0, maximum = 0;
    CAudioCtrl audio;
    EXPECT_EQ(audio.SelectRecordingSource(1, &minimum, &maximum), 100);
    EXPECT_EQ(audio.sourceLine(), 1);
    EXPECT_EQ(mem->values(first, selector(first)), (Values{0, 1, 0}));
    EXPECT_EQ(mem->values(second, selector(second)), (Values{0, 1}));
    // The places hold the last device's bounds.
    EXPECT_EQ(minimum, 10u);
    EXPECT_EQ(maximum, 20u);
    EXPECT_EQ(mem->openHandles(), 0u);

    // A last device without a volume control leaves -1 in the places.
    addRecording({.sources = {kMic, kCd}, .volumes = false});
    EXPECT_EQ(audio.SelectRecordingSource(1, &minimum, &maximum), 100);
    EXPECT_EQ(minimum, kVolumeNone);
    EXPECT_EQ(maximum, kVolumeNone);
}

TEST_F(MixerTest, RecordingSourceSelectionWithoutInputDevices)
{
    const unsigned dev = mem->addDevice();
    mem->addDestination(dev, kSpeakers, 2);
    std::uint32_t minimum = 123;
    CAudioCtrl audio;
    EXPECT_EQ(audio.SelectRecordingSource(1, &minimum, nullptr), 100);
    EXPECT_EQ(audio.SelectRecordingSource(1, nullptr, nullptr), 100);
    EXPECT_EQ(minimum, 123u);
    EXPECT_TRUE(mem->writes().empty());
}

TEST_F(MixerTest, MuteControlWritesOnlyWhenBound)
{
    const unsigned dev = addRecording({{kLine, kMic}});
    mutecontrol unbound;
    unbound.SetValue(0);
    EXPECT_TRUE(mem->writes().empty());

    HMIXER h = kNoMixer;
    ASSERT_EQ(mem->mixerOpen(h, dev), MMSYSERR_NOERROR);
    const std::uint32_t mute = mem->controlId({dev, 1}, MIXERCONTROL_CONTROLTYPE_MUTE);
    mutecontrol bound(mem, h, mute);
    bound.SetValue(1);
    EXPECT_EQ(mem->values(dev, mute), (Values{1}));
    ASSERT_EQ(mem->writes().size(), 1u);
    EXPECT_EQ(mem->writes()[0].channels, 1u);
    mem->mixerClose(h);
}

// The speaker side of the main window: a device whose speakers have a stereo
// master volume, a wave output source and a microphone source.
class MainMixerTest : public MixerTest {
protected:
    void SetUp() override
    {
        MixerTest::SetUp();
        dev = mem->addDevice("Card");
        speakers = mem->addDestination(dev, kSpeakers, 2, "Master");
        const auto wave = mem->addSource(speakers, kWaveOut, 2, "PCM");
        const auto mic = mem->addSource(speakers, kMic, 1, "Mic");
        mem->addControl(speakers, {.name = "Master Volume"});
        mem->addControl(wave, {});
        mem->addControl(mic, {});
        master = mem->controlId(speakers, MIXERCONTROL_CONTROLTYPE_VOLUME);
        waveOut = mem->controlId(wave, MIXERCONTROL_CONTROLTYPE_VOLUME);
        micVolume = mem->controlId(mic, MIXERCONTROL_CONTROLTYPE_VOLUME);
    }
    unsigned dev = 0;
    MemoryMixer::LineRef speakers;
    std::uint32_t master = 0, waveOut = 0, micVolume = 0;
};

TEST_F(MainMixerTest, StartUpSetsMasterAndWaveOutput)
{
    MainWindowMixer mixer;
    mixer.StartUp();
    EXPECT_EQ(mixer.deviceCount(), 1u);
    EXPECT_EQ(mixer.caps().name, "Card");
    EXPECT_EQ(mixer.masterLineName(), "Master");
    EXPECT_EQ(mixer.masterControlName(), "Master Volume");
    EXPECT_EQ(mixer.masterControlId(), master);
    EXPECT_EQ(mem->values(dev, master), (Values{45535, 45535}));
    EXPECT_EQ(mem->values(dev, waveOut), (Values{55535, 55535}));
    EXPECT_EQ(mem->values(dev, micVolume), (Values{0}));
    std::uint32_t v = 0;
    EXPECT_TRUE(mixer.GetMasterVolume(v));
    EXPECT_EQ(v, 45535u);
    // The window's mute control is never bound.
    mem->clearWrites();
    mutecontrol mute;
    mute.SetValue(0);
    EXPECT_TRUE(mem->writes().empty());
    // Only the main handle stays open.
    EXPECT_EQ(mem->openHandles(), 1u);
}

TEST_F(MainMixerTest, SpeakerSliderDrivesBothVolumes)
{
    MainWindowMixer mixer;
    mixer.StartUp();
    struct Case {
        int position;
        std::uint32_t volume;
    };
    for (const Case c : {Case{0, 65535}, Case{65535, 0}, Case{20000, 45535}, Case{1, 65534}, Case{-5, 65535},
                         Case{70000, 0}}) {
        SCOPED_TRACE(c.position);
        mixer.SpeakerSliderMoved(c.position);
        EXPECT_EQ(mem->values(dev, master), (Values{c.volume, c.volume}));
        EXPECT_EQ(mem->values(dev, waveOut), (Values{c.volume, c.volume}));
    }
    EXPECT_EQ(mem->openHandles(), 1u);
}

TEST_F(MainMixerTest, OperationsAnswerTheirResult)
{
    MainWindowMixer mixer;
    std::uint32_t v = 0;
    // Before the master volume is found.
    EXPECT_FALSE(mixer.SetMasterVolume(1));
    EXPECT_FALSE(mixer.GetMasterVolume(v));
    ASSERT_TRUE(mixer.OpenMainMixer());
    EXPECT_FALSE(mixer.SetMasterVolume(1));
    ASSERT_TRUE(mixer.FindMasterVolume());
    EXPECT_TRUE(mixer.SetMasterVolume(1));
    EXPECT_TRUE(mixer.SetSourceLineVolume(kSpeakers, kWaveOut, 2));
    EXPECT_TRUE(mixer.SetSourceLineVolume(kSpeakers, kMic, 3));
    EXPECT_EQ(mem->values(dev, micVolume), (Values{3}));
    // No such destination, no such source line: nothing written, failure.
    mem->clearWrites();
    EXPECT_FALSE(mixer.SetSourceLineVolume(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, kWaveOut, 4));
    EXPECT_FALSE(mixer.SetSourceLineVolume(kSpeakers, kCd, 4));
    EXPECT_TRUE(mem->writes().empty());
    // Failed writes are failures.
    mem->setWritesFail(true);
    EXPECT_FALSE(mixer.SetMasterVolume(5));
    EXPECT_FALSE(mixer.SetSourceLineVolume(kSpeakers, kWaveOut, 5));
    mem->setWritesFail(false);
    // Opening again does not leak the first handle; destruction closes it.
    ASSERT_TRUE(mixer.OpenMainMixer());
    EXPECT_EQ(mem->openHandles(), 1u);
    {
        MainWindowMixer other;
        other.OpenMainMixer();
        EXPECT_EQ(mem->openHandles(), 2u);
    }
    EXPECT_EQ(mem->openHandles(), 1u);
}

// A speakers line without a master volume still has its wave output set.
TEST_F(MixerTest, WaveOutputVolumeWithoutAMasterControl)
{
    const unsigned dev = mem->addDevice();
    const auto speakers = mem->addDestination(dev, kSpeakers, 1, "Speakers");
    const auto wave = mem->addSource(speakers, kWaveOut, 1, "PCM");
    const std::uint32_t vol = mem->addControl(wave, {});
    MainWindowMixer mixer;
    mixer.StartUp();
    EXPECT_EQ(mem->values(dev, vol), (Values{55535}));
    EXPECT_FALSE(mixer.FindMasterVolume());
    mixer.SpeakerSliderMoved(65535);
    EXPECT_EQ(mem->values(dev, vol), (Values{0}));
}

// Without a mixer device every operation is quiet: the open succeeds, the rest fail.
TEST_F(MixerTest, MainWindowWithoutAMixer)
{
    MainWindowMixer mixer;
    EXPECT_TRUE(mixer.OpenMainMixer());
    EXPECT_EQ(mixer.handle(), kNoMixer);
    EXPECT_FALSE(mixer.FindMasterVolume());
    EXPECT_FALSE(mixer.SetMasterVolume(45535));
    std::uint32_t v = 7;
    EXPECT_FALSE(mixer.GetMasterVolume(v));
    EXPECT_EQ(v, 7u);
    EXPECT_FALSE(mixer.SetSourceLineVolume(kSpeakers, kWaveOut, 55535));
    mixer.StartUp();
    mixer.SpeakerSliderMoved(0);
    EXPECT_EQ(CAudioCtrl().SelectRecordingSource(1, nullptr, nullptr), 100);

    // A mixer that does not open: the open fails, so do the others.
    const unsigned dev = mem->addDevice();
    mem->addSource(mem->addDestination(dev, kSpeakers, 2), kWaveOut, 2);
    mem->setOpenFails(dev, true);
    EXPECT_FALSE(mixer.OpenMainMixer());
    EXPECT_FALSE(mixer.FindMasterVolume());
    EXPECT_FALSE(mixer.SetSourceLineVolume(kSpeakers, kWaveOut, 55535));
    EXPECT_TRUE(mem->writes().empty());
    EXPECT_EQ(mem->openHandles(), 0u);
}

// A handle keeps working with the backend it was opened with after another is installed.
TEST_F(MainMixerTest, BackendSwapKeepsOpenHandlesOnTheirBackend)
{
    MainWindowMixer mixer;
    mixer.StartUp();
    setMixerApi(std::make_shared<MemoryMixer>());
    EXPECT_TRUE(mixer.SetMasterVolume(100));
    EXPECT_EQ(mem->values(dev, master), (Values{100, 100}));
    // Source line volumes go through the backend in force, which has no device.
    EXPECT_FALSE(mixer.SetSourceLineVolume(kSpeakers, kWaveOut, 100));
}

} // namespace
