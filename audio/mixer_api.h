// The system mixer in the terms of the Windows multimedia mixer, which the
// mixer code of the windows is written against: mixer devices with destination
// lines (speakers, recording), numbered source lines under each destination,
// and controls on the lines (volume, mute, input selectors) whose values are
// read and written per channel.
//
// Two backends implement it: ALSA (mixer_alsa.h) and an in-memory one that
// tests fill with lines and controls (mixer_memory.h). The backend in force is
// swappable at run time (mixerApi / setMixerApi below).
//
// Texts (device, line, control and item names) are GBK byte strings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velkor::audio {

// Results of the mixer calls.
using MMRESULT = std::uint32_t;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MIXERR_INVALLINE = 1024;
inline constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
inline constexpr MMRESULT MIXERR_INVALVALUE = 1026;

// An open mixer device; 0 is none.
using HMIXER = std::uint32_t;
inline constexpr HMIXER kNoMixer = 0;

// Line component types.
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_UNDEFINED = 0;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x1000;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_DIGITAL = 0x1001;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x1004;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE = 0x1006;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER = 0x1007;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY = 0x1009;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;

// Line flags.
inline constexpr std::uint32_t MIXERLINE_LINEF_ACTIVE = 0x1;
inline constexpr std::uint32_t MIXERLINE_LINEF_SOURCE = 0x80000000;

// Control types. The units bits tell how values read: boolean units are 0/1.
inline constexpr std::uint32_t MIXERCONTROL_CT_UNITS_BOOLEAN = 0x10000;
inline constexpr std::uint32_t MIXERCONTROL_CT_UNITS_UNSIGNED = 0x30000;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
// A list of which exactly one item is on (an input selector).
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;
// A list of which any items may be on.
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001;

// Control flags.
inline constexpr std::uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 0x1;   // one value for all channels
inline constexpr std::uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 0x2;  // a list of items
inline constexpr std::uint32_t MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

// How mixerGetLineInfo finds the line.
inline constexpr std::uint32_t MIXER_GETLINEINFOF_DESTINATION = 0;    // by MixerLine::destination
inline constexpr std::uint32_t MIXER_GETLINEINFOF_SOURCE = 1;         // by destination and source
inline constexpr std::uint32_t MIXER_GETLINEINFOF_LINEID = 2;         // by lineId
inline constexpr std::uint32_t MIXER_GETLINEINFOF_COMPONENTTYPE = 3;  // first line of componentType

// How mixerGetLineControls finds the controls.
inline constexpr std::uint32_t MIXER_GETLINECONTROLSF_ALL = 0;
inline constexpr std::uint32_t MIXER_GETLINECONTROLSF_ONEBYID = 1;
inline constexpr std::uint32_t MIXER_GETLINECONTROLSF_ONEBYTYPE = 2;

// What mixerGetControlDetails reads.
inline constexpr std::uint32_t MIXER_GETCONTROLDETAILSF_VALUE = 0;
inline constexpr std::uint32_t MIXER_GETCONTROLDETAILSF_LISTTEXT = 1;
inline constexpr std::uint32_t MIXER_SETCONTROLDETAILSF_VALUE = 0;

struct MixerCaps {
    std::string name;
    std::uint32_t destinations = 0;
};

struct MixerLine {
    // Inputs of the query, by its flag; all are filled in on success.
    std::uint32_t destination = 0;  // index of the destination line
    std::uint32_t source = 0;       // index of the source line within its destination
    std::uint32_t lineId = 0;
    std::uint32_t componentType = 0;
    // Outputs.
    std::uint32_t lineFlags = 0;
    std::uint32_t channels = 0;
    std::uint32_t connections = 0;  // a destination's number of source lines; 0 for a source
    std::uint32_t controls = 0;
    std::string shortName;
    std::string name;
};

struct MixerControl {
    std::uint32_t controlId = 0;
    std::uint32_t controlType = 0;
    std::uint32_t controlFlags = 0;
    std::uint32_t multipleItems = 0;  // items of a multiple-item control, else 0
    std::string shortName;
    std::string name;
    std::uint32_t minimum = 0;  // bounds of the values (0 and 1 for boolean units)
    std::uint32_t maximum = 0;
    std::uint32_t steps = 0;
};

struct MixerLineControls {
    std::uint32_t lineId = 0;       // input of ALL and ONEBYTYPE; output of ONEBYID
    std::uint32_t controlId = 0;    // input of ONEBYID
    std::uint32_t controlType = 0;  // input of ONEBYTYPE
    std::uint32_t count = 1;        // input: ALL needs the line's number of controls, the others 1
    std::vector<MixerControl> controls;  // output
};

struct MixerListText {
    std::uint32_t param1 = 0;  // for a selector item: the ID of the line it selects, if any
    std::uint32_t param2 = 0;
    std::string name;
};

// Values of a control. `channels` is the number of channels read or written:
// the line's channel count, or 1 meaning all channels as one (a write sets every
// channel, a read gives the largest). `multipleItems` is the control's number of
// items for a multiple-item control and 0 otherwise. Values are channel-major:
// values[channel * items + item], one value per channel for a single-item control.
struct MixerControlDetails {
    std::uint32_t controlId = 0;
    std::uint32_t channels = 1;
    std::uint32_t multipleItems = 0;
    std::vector<std::uint32_t> values;    // VALUE: read and written
    std::vector<MixerListText> listText;  // LISTTEXT: read, laid out as the values
};

// The mixer calls. Handles are valid only with the backend that opened them.
class MixerApi {
public:
    virtual ~MixerApi() = default;

    virtual unsigned mixerGetNumDevs() = 0;
    virtual MMRESULT mixerGetDevCaps(unsigned mixerId, MixerCaps& caps) = 0;
    virtual MMRESULT mixerOpen(HMIXER& mixer, unsigned mixerId) = 0;
    virtual MMRESULT mixerClose(HMIXER mixer) = 0;

    // Waveform input devices and the mixer device each belongs to.
    virtual unsigned waveInGetNumDevs() = 0;
    virtual MMRESULT mixerGetIdOfWaveIn(unsigned waveInId, unsigned& mixerId) = 0;

    virtual MMRESULT mixerGetLineInfo(HMIXER mixer, MixerLine& line, std::uint32_t flags) = 0;
    virtual MMRESULT mixerGetLineControls(HMIXER mixer, MixerLineControls& controls, std::uint32_t flags) = 0;
    virtual MMRESULT mixerGetControlDetails(HMIXER mixer, MixerControlDetails& details, std::uint32_t flags) = 0;
    virtual MMRESULT mixerSetControlDetails(HMIXER mixer, const MixerControlDetails& details,
                                            std::uint32_t flags) = 0;
};

// The backend in force: the ALSA backend on the machine's sound cards unless
// one was installed. Callable from any thread.
std::shared_ptr<MixerApi> mixerApi();
// Installs `api` as the backend in force; nullptr restores the ALSA backend.
// Objects that hold an open handle keep using the backend they opened it with.
void setMixerApi(std::shared_ptr<MixerApi> api);

} // namespace velkor::audio
