// The mixer calls' rules, shared by both backends: finding lines and controls,
// channel handling of values, and the checks that turn bad requests into errors.
#include "audio/mixer_memory.h"

#include <gtest/gtest.h>

using namespace velkor::audio;

namespace {

// One device: speakers (2 channels) with a master volume, a wave output source
// (2 channels, volume per channel) and a microphone source (mono); a recording
// line with a three-item selector.
class ModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dev = m.addDevice("Card");
        speakers = m.addDestination(dev, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2, "Master");
        waveOut = m.addSource(speakers, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 2, "PCM");
        mic = m.addSource(speakers, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 1, "Mic");
        recording = m.addDestination(dev, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, 2, "Capture");
        m.addControl(speakers, {.type = MIXERCONTROL_CONTROLTYPE_VOLUME, .flags = MIXERCONTROL_CONTROLF_UNIFORM,
                                .name = "Master Volume"});
        m.addControl(waveOut, {.values = {100, 300}});
        m.addControl(mic, {.type = MIXERCONTROL_CONTROLTYPE_MUTE, .maximum = 1});
        m.addControl(recording, {.type = MIXERCONTROL_CONTROLTYPE_MUX,
                                 .flags = MIXERCONTROL_CONTROLF_MULTIPLE,
                                 .maximum = 1,
                                 .items = {"Mic", "CD", "Line"},
                                 .values = {1, 0, 0, 0, 0, 1}});
        ASSERT_EQ(m.mixerOpen(h, dev), MMSYSERR_NOERROR);
    }
    std::uint32_t id(MemoryMixer::LineRef line, std::uint32_t type) { return m.controlId(line, type); }

    MemoryMixer m;
    unsigned dev = 0;
    MemoryMixer::LineRef speakers, waveOut, mic, recording;
    HMIXER h = kNoMixer;
};

TEST_F(ModelTest, FindsLinesByEachKindOfQuery)
{
    struct Case {
        std::uint32_t flags;
        MixerLine query;
        MMRESULT result;
        std::string name;  // of the line found
    };
    MixerLine byType, byTypeSrc, byIndex, bySource, byId, noSource, noType;
    byType.componentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    byTypeSrc.componentType = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    byIndex.destination = 1;
    bySource.destination = 0;
    bySource.source = 1;
    byId.lineId = waveOut.lineId;
    noSource.destination = 0;
    noSource.source = 2;
    noType.componentType = MIXERLINE_COMPONENTTYPE_SRC_LINE;
    const Case cases[] = {
        {MIXER_GETLINEINFOF_COMPONENTTYPE, byType, MMSYSERR_NOERROR, "Capture"},
        {MIXER_GETLINEINFOF_COMPONENTTYPE, byTypeSrc, MMSYSERR_NOERROR, "Mic"},
        {MIXER_GETLINEINFOF_DESTINATION, byIndex, MMSYSERR_NOERROR, "Capture"},
        {MIXER_GETLINEINFOF_SOURCE, bySource, MMSYSERR_NOERROR, "Mic"},
        {MIXER_GETLINEINFOF_LINEID, byId, MMSYSERR_NOERROR, "PCM"},
        {MIXER_GETLINEINFOF_SOURCE, noSource, MIXERR_INVALLINE, ""},
        {MIXER_GETLINEINFOF_COMPONENTTYPE, noType, MIXERR_INVALLINE, ""},
        {99, byType, MMSYSERR_INVALFLAG, ""},
    };
    for (const auto& c : cases) {
        MixerLine l = c.query;
        EXPECT_EQ(m.mixerGetLineInfo(h, l, c.flags), c.result) << c.name << " flags " << c.flags;
        if (c.result == MMSYSERR_NOERROR) {
            EXPECT_EQ(l.name, c.name);
        }
    }

    MixerLine d;
    ASSERT_EQ(m.mixerGetLineInfo(h, d, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(d.connections, 2u);
    EXPECT_EQ(d.controls, 1u);
    EXPECT_EQ(d.channels, 2u);
    EXPECT_FALSE(d.lineFlags & MIXERLINE_LINEF_SOURCE);
    MixerLine s = bySource;
    ASSERT_EQ(m.mixerGetLineInfo(h, s, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR);
    EXPECT_EQ(s.lineId, mic.lineId);
    EXPECT_TRUE(s.lineFlags & MIXERLINE_LINEF_SOURCE);
    EXPECT_EQ(s.componentType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
}

TEST_F(ModelTest, FindsControlsAndChecksTheirCount)
{
    MixerLineControls byType;
    byType.lineId = speakers.lineId;
    byType.controlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    ASSERT_EQ(m.mixerGetLineControls(h, byType, MIXER_GETLINECONTROLSF_ONEBYTYPE), MMSYSERR_NOERROR);
    ASSERT_EQ(byType.controls.size(), 1u);
    EXPECT_EQ(byType.controls[0].name, "Master Volume");
    EXPECT_EQ(byType.controls[0].maximum, 65535u);

    byType.controlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    EXPECT_EQ(m.mixerGetLineControls(h, byType, MIXER_GETLINECONTROLSF_ONEBYTYPE), MIXERR_INVALCONTROL);
    byType.lineId = 0xdead;
    EXPECT_EQ(m.mixerGetLineControls(h, byType, MIXER_GETLINECONTROLSF_ONEBYTYPE), MIXERR_INVALLINE);

    MixerLineControls byId;
    byId.controlId = id(mic, MIXERCONTROL_CONTROLTYPE_MUTE);
    ASSERT_EQ(m.mixerGetLineControls(h, byId, MIXER_GETLINECONTROLSF_ONEBYID), MMSYSERR_NOERROR);
    EXPECT_EQ(byId.lineId, mic.lineId);

    MixerLineControls all;
    all.lineId = recording.lineId;
    all.count = 2;  // the line has one
    EXPECT_EQ(m.mixerGetLineControls(h, all, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_INVALPARAM);
    all.count = 1;
    ASSERT_EQ(m.mixerGetLineControls(h, all, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_NOERROR);
    ASSERT_EQ(all.controls.size(), 1u);
    EXPECT_EQ(all.controls[0].multipleItems, 3u);
    EXPECT_EQ(all.controls[0].controlType, MIXERCONTROL_CONTROLTYPE_MUX);
}

// One channel stands for all: a read gives the largest, a write sets every
// channel. A uniform control keeps one value whatever number of channels is used.
TEST_F(ModelTest, ChannelRulesOfValues)
{
    const std::uint32_t wave = id(waveOut, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t master = id(speakers, MIXERCONTROL_CONTROLTYPE_VOLUME);

    MixerControlDetails d;
    d.controlId = wave;
    d.channels = 1;
    ASSERT_EQ(m.mixerGetControlDetails(h, d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(d.values, (std::vector<std::uint32_t>{300}));
    d.channels = 2;
    ASSERT_EQ(m.mixerGetControlDetails(h, d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(d.values, (std::vector<std::uint32_t>{100, 300}));

    d.channels = 1;
    d.values = {7};
    ASSERT_EQ(m.mixerSetControlDetails(h, d, MIXER_SETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(m.values(dev, wave), (std::vector<std::uint32_t>{7, 7}));

    d.controlId = master;
    d.channels = 2;
    d.values = {40, 50};
    ASSERT_EQ(m.mixerSetControlDetails(h, d, MIXER_SETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(m.values(dev, master), (std::vector<std::uint32_t>{40}));
    ASSERT_EQ(m.mixerGetControlDetails(h, d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(d.values, (std::vector<std::uint32_t>{40, 40}));
}

TEST_F(ModelTest, ListItemsAndTheirNames)
{
    const std::uint32_t mux = id(recording, MIXERCONTROL_CONTROLTYPE_MUX);
    MixerControlDetails d;
    d.controlId = mux;
    d.channels = 2;
    d.multipleItems = 3;
    ASSERT_EQ(m.mixerGetControlDetails(h, d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(d.values, (std::vector<std::uint32_t>{1, 0, 0, 0, 0, 1}));  // channel-major
    d.channels = 1;
    ASSERT_EQ(m.mixerGetControlDetails(h, d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(d.values, (std::vector<std::uint32_t>{1, 0, 1}));
    ASSERT_EQ(m.mixerGetControlDetails(h, d, MIXER_GETCONTROLDETAILSF_LISTTEXT), MMSYSERR_NOERROR);
    ASSERT_EQ(d.listText.size(), 3u);
    EXPECT_EQ(d.listText[0].name, "Mic");
    EXPECT_EQ(d.listText[2].name, "Line");

    d.values = {0, 1, 0};
    ASSERT_EQ(m.mixerSetControlDetails(h, d, MIXER_SETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(m.values(dev, mux), (std::vector<std::uint32_t>{0, 1, 0, 0, 1, 0}));
}

TEST_F(ModelTest, BadRequestsAreRefusedAndChangeNothing)
{
    const std::uint32_t wave = id(waveOut, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const std::uint32_t mux = id(recording, MIXERCONTROL_CONTROLTYPE_MUX);
    struct Case {
        const char* what;
        HMIXER handle;
        std::uint32_t control, channels, items;
        std::vector<std::uint32_t> values;
        MMRESULT result;
        bool readToo = true;  // the values' count matters to a write only
    };
    const Case cases[] = {
        {"closed handle", h + 100, wave, 1, 0, {1}, MMSYSERR_INVALHANDLE},
        {"no such control", h, 9999, 1, 0, {1}, MIXERR_INVALCONTROL},
        {"three channels on a stereo line", h, wave, 3, 0, {1, 1, 1}, MMSYSERR_INVALPARAM},
        {"zero channels", h, wave, 0, 0, {}, MMSYSERR_INVALPARAM},
        {"items on a single-item control", h, wave, 1, 3, {1, 1, 1}, MMSYSERR_INVALPARAM},
        {"wrong item count", h, mux, 1, 2, {1, 0}, MMSYSERR_INVALPARAM},
        {"values do not fill the channels", h, wave, 2, 0, {1}, MMSYSERR_INVALPARAM, false},
    };
    for (const auto& c : cases) {
        MixerControlDetails d;
        d.controlId = c.control;
        d.channels = c.channels;
        d.multipleItems = c.items;
        d.values = c.values;
        EXPECT_EQ(m.mixerSetControlDetails(c.handle, d, MIXER_SETCONTROLDETAILSF_VALUE), c.result) << c.what;
        if (c.readToo) {
            EXPECT_EQ(m.mixerGetControlDetails(c.handle, d, MIXER_GETCONTROLDETAILSF_VALUE), c.result) << c.what;
        }
    }
    EXPECT_EQ(m.values(dev, wave), (std::vector<std::uint32_t>{100, 300}));

    MixerControlDetails text;
    text.controlId = wave;
    EXPECT_EQ(m.mixerGetControlDetails(h, text, MIXER_GETCONTROLDETAILSF_LISTTEXT), MMSYSERR_INVALPARAM);
}

TEST_F(ModelTest, HandlesOpenAndClose)
{
    HMIXER other = kNoMixer;
    EXPECT_EQ(m.mixerOpen(other, 5), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(other, kNoMixer);
    m.setOpenFails(dev, true);
    EXPECT_EQ(m.mixerOpen(other, dev), MMSYSERR_NODRIVER);
    m.setOpenFails(dev, false);
    ASSERT_EQ(m.mixerOpen(other, dev), MMSYSERR_NOERROR);
    EXPECT_NE(other, h);
    EXPECT_EQ(m.openHandles(), 2u);
    EXPECT_EQ(m.mixerClose(other), MMSYSERR_NOERROR);
    EXPECT_EQ(m.mixerClose(other), MMSYSERR_INVALHANDLE);
    MixerLine l;
    EXPECT_EQ(m.mixerGetLineInfo(other, l, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(m.openHandles(), 1u);

    MixerCaps caps;
    ASSERT_EQ(m.mixerGetDevCaps(dev, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.name, "Card");
    EXPECT_EQ(caps.destinations, 2u);
}

} // namespace
