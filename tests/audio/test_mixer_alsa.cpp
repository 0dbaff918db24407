// The ALSA backend: its value scaling and line types, a machine without a sound
// card, and whole operations against control devices in user space (the test's
// own ALSA control plugin, see fake_ctl_plugin.cpp), read back through ALSA.
#include "audio/mixer_alsa.h"
#include "audio/mixer_main_window.h"
#include "audio/recording_source.h"
#include "audio/volume.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace velkor::audio;

namespace {

using Raw = std::vector<long>;

TEST(AlsaValues, ScaleBetweenTheElementRangeAndTheMixerRange)
{
    struct Case {
        long raw, min, max;
        std::uint32_t value;
    };
    const Case toMixer[] = {
        {0, 0, 31, 0},          {31, 0, 31, 65535},      {22, 0, 31, 46509},   {-16384, -16384, 0, 0},
        {0, -16384, 0, 65535},  {40, 0, 31, 65535},      {-5, 0, 31, 0},       {7, 7, 7, 0},
        {1, 0, 1, 65535},       {65535, 0, 65535, 65535}, {0, LONG_MIN, LONG_MAX, 32768},
    };
    for (const auto& c : toMixer)
        EXPECT_EQ(alsaToMixerValue(c.raw, c.min, c.max), c.value) << c.raw << " in " << c.min << ".." << c.max;

    const Case toAlsa[] = {
        {0, 0, 31, 0},       {31, 0, 31, 65535}, {22, 0, 31, 45535},       {216, 0, 255, 55535},
        {-2500, -16384, 0, 55535}, {31, 0, 31, 70000}, {7, 7, 7, 100}, {LONG_MAX, LONG_MIN, LONG_MAX, 65535},
    };
    for (const auto& c : toAlsa)
        EXPECT_EQ(mixerToAlsaValue(c.value, c.min, c.max), c.raw) << c.value << " in " << c.min << ".." << c.max;

    // Every element value survives the way through the mixer's scale.
    for (auto [min, max] : {std::pair{0L, 31L}, {0L, 255L}, {-16384L, 0L}, {-6000L, 6000L}, {0L, 65535L}})
        for (long raw = min; raw <= max; ++raw)
            ASSERT_EQ(mixerToAlsaValue(alsaToMixerValue(raw, min, max), min, max), raw) << min << ".." << max;
}

TEST(AlsaValues, LineTypesFromNames)
{
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"PCM", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},
        {"Mic", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
        {"Front Mic", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
        {"Internal Mic", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
        {"Mic2", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
        {"Microphone", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
        {"Headset Mic", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
        {"Mixer", MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED},
        {"Mix", MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED},
        {"Line", MIXERLINE_COMPONENTTYPE_SRC_LINE},
        {"Line-In", MIXERLINE_COMPONENTTYPE_SRC_LINE},
        {"CD", MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC},
        {"Aux", MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY},
        {"Phone", MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE},
        {"Beep", MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER},
        {"PC Speaker", MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER},
        {"IEC958", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"PCM Front", MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED},
        {"", MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED},
    };
    for (const auto& [name, type] : cases)
        EXPECT_EQ(alsaComponentType(name), type) << '"' << name << '"';
}

// What a window does with the mixer at start-up and when the speaker slider moves.
void runWindowOperations(bool expectOpen)
{
    MainWindowMixer mixer;
    EXPECT_EQ(mixer.OpenMainMixer(), expectOpen);
    EXPECT_FALSE(mixer.FindMasterVolume());
    EXPECT_FALSE(mixer.SetMasterVolume(45535));
    std::uint32_t v = 0;
    EXPECT_FALSE(mixer.GetMasterVolume(v));
    EXPECT_FALSE(mixer.SetSourceLineVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT,
                                           55535));
    mixer.SpeakerSliderMoved(0);
    std::uint32_t minimum = 5, maximum = 5;
    EXPECT_EQ(CAudioCtrl().SelectRecordingSource(1, &minimum, &maximum), 100);
    EXPECT_EQ(minimum, 5u);
    EXPECT_EQ(maximum, 5u);
    CVolumeCtrl volume(1, 0);
    EXPECT_FALSE(volume.opened());
    EXPECT_EQ(volume.GetVolume(), kVolumeNone);
    mutecontrol().SetValue(0);
}

// No sound card: every operation answers its failure value at once and ALSA
// says nothing on stderr.
TEST(AlsaWithoutCard, EveryOperationIsQuiet)
{
    struct Case {
        const char* what;
        std::shared_ptr<MixerApi> api;
        bool opens;  // OpenMainMixer succeeds when there is no device at all
    };
    const Case cases[] = {
        {"a device name that does not exist", makeAlsaMixer({"velkor_no_such_card"}), false},
        {"no device names", makeAlsaMixer(std::vector<std::string>{}), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::internal::CaptureStderr();
        HMIXER h = kNoMixer;
        EXPECT_NE(c.api->mixerOpen(h, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(h, kNoMixer);
        MixerCaps caps;
        EXPECT_NE(c.api->mixerGetDevCaps(0, caps), MMSYSERR_NOERROR);
        EXPECT_EQ(c.api->waveInGetNumDevs(), 0u);
        unsigned id = 0;
        EXPECT_NE(c.api->mixerGetIdOfWaveIn(0, id), MMSYSERR_NOERROR);
        MixerLine line;
        EXPECT_EQ(c.api->mixerGetLineInfo(1, line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALHANDLE);
        setMixerApi(c.api);
        runWindowOperations(c.opens);
        setMixerApi(nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

// The backend the program uses by default, on this machine's cards; only run
// where there is none, so that a developer's real mixer is never touched.
TEST(AlsaWithoutCard, DefaultBackendOnAMachineWithoutCards)
{
    int card = -1;
    if (snd_card_next(&card) == 0 && card >= 0)
        GTEST_SKIP() << "this machine has a sound card";
    setMixerApi(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(mixerApi()->mixerGetNumDevs(), 0u);
    runWindowOperations(true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Control devices of the test plugin, named by layout (see fake_ctl_plugin.cpp).
class FakeCards : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/velkor-alsa-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::ofstream conf(dir_ / "asound.conf");
        conf << "ctl_type.velkor_fake { lib \"" << VELKOR_FAKE_CTL_PLUGIN << "\" }\n";
        for (const char* layout : {"full", "nomic", "usb", "stereo_enum"})
            conf << "ctl.velkor_" << layout << " { type velkor_fake layout \"" << layout << "\" }\n";
        conf.close();
        setenv("ALSA_CONFIG_PATH", (dir_ / "asound.conf").c_str(), 1);
        plugin_ = dlopen(VELKOR_FAKE_CTL_PLUGIN, RTLD_NOW);
        ASSERT_NE(plugin_, nullptr) << dlerror();
        reset_ = reinterpret_cast<void (*)()>(dlsym(plugin_, "velkor_fake_ctl_reset"));
        ASSERT_NE(reset_, nullptr);
    }
    static void TearDownTestSuite()
    {
        unsetenv("ALSA_CONFIG_PATH");
        std::filesystem::remove_all(dir_);
    }
    void SetUp() override { reset_(); }
    void TearDown() override { setMixerApi(nullptr); }

    // An element's values read straight from the device.
    static Raw raw(const std::string& device, const char* element)
    {
        Raw out;
        snd_hctl_t* h = nullptr;
        if (snd_hctl_open(&h, device.c_str(), 0) < 0)
            return out;
        snd_hctl_load(h);
        snd_ctl_elem_id_t* id;
        snd_ctl_elem_id_alloca(&id);
        snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
        snd_ctl_elem_id_set_name(id, element);
        if (snd_hctl_elem_t* e = snd_hctl_find_elem(h, id)) {
            snd_ctl_elem_info_t* info;
            snd_ctl_elem_info_alloca(&info);
            snd_ctl_elem_value_t* v;
            snd_ctl_elem_value_alloca(&v);
            snd_hctl_elem_info(e, info);
            snd_hctl_elem_read(e, v);
            for (unsigned i = 0; i < snd_ctl_elem_info_get_count(info); ++i) {
                switch (snd_ctl_elem_info_get_type(info)) {
                case SND_CTL_ELEM_TYPE_BOOLEAN: out.push_back(snd_ctl_elem_value_get_boolean(v, i)); break;
                case SND_CTL_ELEM_TYPE_ENUMERATED: out.push_back(snd_ctl_elem_value_get_enumerated(v, i)); break;
                default: out.push_back(snd_ctl_elem_value_get_integer(v, i)); break;
                }
            }
        }
        snd_hctl_close(h);
        return out;
    }

    static inline std::filesystem::path dir_;
    static inline void* plugin_ = nullptr;
    static inline void (*reset_)() = nullptr;
};

TEST_F(FakeCards, DescribesACardInMixerTerms)
{
    const auto api = makeAlsaMixer({"velkor_full"});
    ASSERT_EQ(api->mixerGetNumDevs(), 1u);
    MixerCaps caps;
    ASSERT_EQ(api->mixerGetDevCaps(0, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.name, "Fake full");
    EXPECT_EQ(caps.destinations, 2u);
    HMIXER h = kNoMixer;
    ASSERT_EQ(api->mixerOpen(h, 0), MMSYSERR_NOERROR);

    struct Line {
        std::uint32_t destination, source;  // source ~0u: the destination itself
        std::uint32_t type;
        const char* name;
        std::vector<std::uint32_t> controls;
    };
    constexpr auto vol = MIXERCONTROL_CONTROLTYPE_VOLUME, mute = MIXERCONTROL_CONTROLTYPE_MUTE,
                   mux = MIXERCONTROL_CONTROLTYPE_MUX;
    const Line lines[] = {
        {0, ~0u, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Master", {vol, mute}},
        {0, 0, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, "PCM", {vol, mute}},
        {0, 1, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line", {vol}},
        {0, 2, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic", {vol, mute}},
        {1, ~0u, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Capture", {mux, vol, mute}},
        // The selector's items "Mic", "CD", "Line", "Mix" in reverse order.
        {1, 0, MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED, "Mix", {vol}},
        {1, 1, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line", {vol}},
        {1, 2, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, "CD", {vol}},
        {1, 3, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic", {vol}},
    };
    for (const auto& l : lines) {
        SCOPED_TRACE(l.name);
        MixerLine info;
        info.destination = l.destination;
        info.source = l.source;
        ASSERT_EQ(api->mixerGetLineInfo(h, info, l.source == ~0u ? MIXER_GETLINEINFOF_DESTINATION
                                                                 : MIXER_GETLINEINFOF_SOURCE),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(info.componentType, l.type);
        EXPECT_EQ(info.name, l.name);
        EXPECT_EQ(info.channels, 2u);
        MixerLineControls all;
        all.lineId = info.lineId;
        all.count = info.controls;
        ASSERT_EQ(api->mixerGetLineControls(h, all, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_NOERROR);
        std::vector<std::uint32_t> types;
        for (const auto& c : all.controls)
            types.push_back(c.controlType);
        EXPECT_EQ(types, l.controls);
    }

    // The selector: uniform, four items in the device's order, "Line" selected.
    MixerLine rec;
    rec.componentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    ASSERT_EQ(api->mixerGetLineInfo(h, rec, MIXER_GETLINEINFOF_COMPONENTTYPE), MMSYSERR_NOERROR);
    MixerLineControls sel;
    sel.lineId = rec.lineId;
    sel.controlType = MIXERCONTROL_CONTROLTYPE_MUX;
    ASSERT_EQ(api->mixerGetLineControls(h, sel, MIXER_GETLINECONTROLSF_ONEBYTYPE), MMSYSERR_NOERROR);
    const MixerControl& mc = sel.controls.at(0);
    EXPECT_EQ(mc.controlFlags, MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE);
    MixerControlDetails d;
    d.controlId = mc.controlId;
    d.multipleItems = mc.multipleItems;
    ASSERT_EQ(api->mixerGetControlDetails(h, d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(d.values, (std::vector<std::uint32_t>{0, 0, 1, 0}));
    ASSERT_EQ(api->mixerGetControlDetails(h, d, MIXER_GETCONTROLDETAILSF_LISTTEXT), MMSYSERR_NOERROR);
    ASSERT_EQ(d.listText.size(), 4u);
    EXPECT_EQ(d.listText[0].name, "Mic");
    EXPECT_EQ(d.listText[3].name, "Mix");
    MixerLine micLine;
    micLine.lineId = d.listText[0].param1;
    ASSERT_EQ(api->mixerGetLineInfo(h, micLine, MIXER_GETLINEINFOF_LINEID), MMSYSERR_NOERROR);
    EXPECT_EQ(micLine.source, 3u);

    // Values the device cannot take are refused and change nothing.
    d.values = {0, 0, 0, 0};
    EXPECT_EQ(api->mixerSetControlDetails(h, d, MIXER_SETCONTROLDETAILSF_VALUE), MIXERR_INVALVALUE);
    d.values = {1, 0, 1, 0};
    EXPECT_EQ(api->mixerSetControlDetails(h, d, MIXER_SETCONTROLDETAILSF_VALUE), MIXERR_INVALVALUE);
    EXPECT_EQ(raw("velkor_full", "Capture Source"), Raw{2});
    MixerLineControls master;
    master.lineId = 0;
    master.controlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    ASSERT_EQ(api->mixerGetLineControls(h, master, MIXER_GETLINECONTROLSF_ONEBYTYPE), MMSYSERR_NOERROR);
    MixerControlDetails big;
    big.controlId = master.controls.at(0).controlId;
    big.values = {65536};
    EXPECT_EQ(api->mixerSetControlDetails(h, big, MIXER_SETCONTROLDETAILSF_VALUE), MIXERR_INVALVALUE);
    EXPECT_EQ(raw("velkor_full", "Master Playback Volume"), (Raw{10, 10}));
    EXPECT_EQ(api->mixerClose(h), MMSYSERR_NOERROR);
}

TEST_F(FakeCards, WindowStartUpAndSpeakerSliderReachTheCard)
{
    setMixerApi(makeAlsaMixer({"velkor_full"}));
    MainWindowMixer mixer;
    mixer.StartUp();
    EXPECT_EQ(mixer.masterLineName(), "Master");
    EXPECT_EQ(raw("velkor_full", "Master Playback Volume"), (Raw{22, 22}));  // 45535 of 0-31
    EXPECT_EQ(raw("velkor_full", "PCM Playback Volume"), (Raw{216, 216}));   // 55535 of 0-255
    std::uint32_t v = 0;
    EXPECT_TRUE(mixer.GetMasterVolume(v));
    EXPECT_EQ(v, 46509u);  // 22 of 0-31
    mixer.SpeakerSliderMoved(0);
    EXPECT_EQ(raw("velkor_full", "Master Playback Volume"), (Raw{31, 31}));
    EXPECT_EQ(raw("velkor_full", "PCM Playback Volume"), (Raw{255, 255}));
    mixer.SpeakerSliderMoved(65535);
    EXPECT_EQ(raw("velkor_full", "Master Playback Volume"), (Raw{0, 0}));
    EXPECT_EQ(raw("velkor_full", "PCM Playback Volume"), (Raw{0, 0}));
    // Other lines keep their values.
    EXPECT_EQ(raw("velkor_full", "Line Playback Volume"), (Raw{5, 5}));

    // A mute control bound to the master switch: 1 turns the switch off.
    HMIXER h = kNoMixer;
    ASSERT_EQ(mixerApi()->mixerOpen(h, 0), MMSYSERR_NOERROR);
    MixerLineControls lc;
    lc.lineId = 0;
    lc.controlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    ASSERT_EQ(mixerApi()->mixerGetLineControls(h, lc, MIXER_GETLINECONTROLSF_ONEBYTYPE), MMSYSERR_NOERROR);
    mutecontrol mute(mixerApi(), h, lc.controls.at(0).controlId);
    mute.SetValue(1);
    EXPECT_EQ(raw("velkor_full", "Master Playback Switch"), Raw{0});
    mute.SetValue(0);
    EXPECT_EQ(raw("velkor_full", "Master Playback Switch"), Raw{1});
    mixerApi()->mixerClose(h);
}

// A headset with only a PCM playback volume: no master volume, but the wave
// output still follows the speaker slider.
TEST_F(FakeCards, CardWithoutMasterVolume)
{
    setMixerApi(makeAlsaMixer({"velkor_usb"}));
    MainWindowMixer mixer;
    mixer.StartUp();
    EXPECT_FALSE(mixer.FindMasterVolume());
    EXPECT_EQ(raw("velkor_usb", "PCM Playback Volume"), Raw{-2500});  // 55535 of -16384-0
    mixer.SpeakerSliderMoved(0);
    EXPECT_EQ(raw("velkor_usb", "PCM Playback Volume"), Raw{0});
    mixer.SpeakerSliderMoved(65535);
    EXPECT_EQ(raw("velkor_usb", "PCM Playback Volume"), Raw{-16384});
}

TEST_F(FakeCards, RecordingSourceSelectionOnEveryCard)
{
    setMixerApi(makeAlsaMixer({"velkor_full", "velkor_nomic", "velkor_usb", "velkor_stereo_enum"}));
    EXPECT_EQ(mixerApi()->waveInGetNumDevs(), 4u);
    std::uint32_t minimum = 5, maximum = 5;
    EXPECT_EQ(CAudioCtrl().SelectRecordingSource(1, &minimum, &maximum), 100);
    // "Mic" is item 0 of "Mic", "CD", "Line", "Mix".
    EXPECT_EQ(raw("velkor_full", "Capture Source"), Raw{0});
    // No microphone: the all-off list is refused by the selector, which keeps its item.
    EXPECT_EQ(raw("velkor_nomic", "Input Source"), Raw{1});
    // A selector per channel: "Mic" (item 2 of "Line", "Front Mic", "Mic", "Mix") on both.
    EXPECT_EQ(raw("velkor_stereo_enum", "Capture Source"), (Raw{2, 2}));
    // The last card's source line 1 records at "Capture Volume".
    EXPECT_EQ(minimum, 0u);
    EXPECT_EQ(maximum, 65535u);
    // Nothing else was touched.
    EXPECT_EQ(raw("velkor_full", "Capture Volume"), (Raw{20, 20}));
    EXPECT_EQ(raw("velkor_usb", "Mic Capture Volume"), Raw{8});
    EXPECT_EQ(raw("velkor_stereo_enum", "Line Capture Volume"), (Raw{3, 3}));
}

// A recording line's volume through CVolumeCtrl: its own element when the
// card has one, else the card's capture volume.
TEST_F(FakeCards, SourceLineVolume)
{
    setMixerApi(makeAlsaMixer({"velkor_stereo_enum"}));
    {
        CVolumeCtrl line(3, 0);  // "Line", with "Line Capture Volume" 0-15
        ASSERT_TRUE(line.HasVolumeControl());
        EXPECT_EQ(line.GetVolume(), alsaToMixerValue(3, 0, 15));
        line.SetVolume(65535);
        line.SetVolume(65536);
    }
    EXPECT_EQ(raw("velkor_stereo_enum", "Line Capture Volume"), (Raw{15, 15}));
    {
        CVolumeCtrl mic(1, 0);  // "Mic", no element of its own
        ASSERT_TRUE(mic.HasVolumeControl());
        mic.SetVolume(0);
    }
    EXPECT_EQ(raw("velkor_stereo_enum", "Capture Volume"), (Raw{0, 0}));
}

} // namespace
