#include "audio/mixer_main_window.h"

#include <algorithm>

namespace velkor::audio {

MainWindowMixer::~MainWindowMixer() { close(); }

void MainWindowMixer::close()
{
    if (mixer_ != kNoMixer)
        api_->mixerClose(mixer_);
    mixer_ = kNoMixer;
}

bool MainWindowMixer::OpenMainMixer()
{
    close();
    api_ = mixerApi();
    devices_ = api_->mixerGetNumDevs();
    caps_ = {};
    if (devices_ == 0)
        return true;
    if (api_->mixerOpen(mixer_, 0) != MMSYSERR_NOERROR) {
        mixer_ = kNoMixer;
        return false;
    }
    return api_->mixerGetDevCaps(0, caps_) == MMSYSERR_NOERROR;
}

bool MainWindowMixer::FindMasterVolume()
{
    lineName_.clear();
    controlName_.clear();
    if (mixer_ == kNoMixer)
        return false;
    MixerLine line;
    line.componentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    if (api_->mixerGetLineInfo(mixer_, line, MIXER_GETLINEINFOF_COMPONENTTYPE) != MMSYSERR_NOERROR)
        return false;
    MixerLineControls lc;
    lc.lineId = line.lineId;
    lc.controlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    lc.count = 1;
    if (api_->mixerGetLineControls(mixer_, lc, MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR ||
        lc.controls.empty())
        return false;
    lineName_ = line.name;
    controlName_ = lc.controls.front().name;
    controlId_ = lc.controls.front().controlId;
    return true;
}

bool MainWindowMixer::SetMasterVolume(std::uint32_t value)
{
    if (mixer_ == kNoMixer || lineName_.empty() || controlName_.empty())
        return false;
    MixerControlDetails d;
    d.controlId = controlId_;
    d.channels = 1;
    d.values = {value};
    return api_->mixerSetControlDetails(mixer_, d, MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

bool MainWindowMixer::GetMasterVolume(std::uint32_t& value)
{
    if (mixer_ == kNoMixer || lineName_.empty() || controlName_.empty())
        return false;
    MixerControlDetails d;
    d.controlId = controlId_;
    d.channels = 1;
    if (api_->mixerGetControlDetails(mixer_, d, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR ||
        d.values.empty())
        return false;
    value = d.values.front();
    return true;
}

bool MainWindowMixer::SetSourceLineVolume(std::uint32_t destinationType, std::uint32_t sourceType,
                                          std::uint32_t value)
{
    const auto api = mixerApi();
    HMIXER mixer = kNoMixer;
    if (api->mixerOpen(mixer, 0) != MMSYSERR_NOERROR)
        return false;
    bool written = false;
    MixerLine dst;
    dst.componentType = destinationType;
    // Only the source lines matter here: a destination without controls of its
    // own (no master volume) still has its source lines' volumes set.
    if (api->mixerGetLineInfo(mixer, dst, MIXER_GETLINEINFOF_COMPONENTTYPE) == MMSYSERR_NOERROR) {
        for (std::uint32_t i = 0; i < dst.connections; ++i) {
            MixerLine src;
            src.destination = dst.destination;
            src.source = i;
            if (api->mixerGetLineInfo(mixer, src, MIXER_GETLINEINFOF_SOURCE) != MMSYSERR_NOERROR ||
                src.componentType != sourceType)
                continue;
            MixerLineControls lc;
            lc.lineId = src.lineId;
            lc.controlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
            lc.count = 1;
            if (api->mixerGetLineControls(mixer, lc, MIXER_GETLINECONTROLSF_ONEBYTYPE) == MMSYSERR_NOERROR &&
                !lc.controls.empty()) {
                MixerControlDetails d;
                d.controlId = lc.controls.front().controlId;
                d.channels = src.channels;
                d.values.assign(src.channels, value);
                written = api->mixerSetControlDetails(mixer, d, MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
            }
            break;
        }
    }
    api->mixerClose(mixer);
    return written;
}

void MainWindowMixer::StartUp()
{
    OpenMainMixer();
    FindMasterVolume();
    SetMasterVolume(kStartMasterVolume);
    SetSourceLineVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, kStartWaveOutVolume);
}

void MainWindowMixer::SpeakerSliderMoved(int position)
{
    const auto volume = static_cast<std::uint32_t>(kSpeakerSliderMax - std::clamp(position, 0, kSpeakerSliderMax));
    SetMasterVolume(volume);
    SetSourceLineVolume(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, volume);
}

} // namespace velkor::audio
