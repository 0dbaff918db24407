#include "audio/volume.h"

namespace velkor::audio {

CVolumeCtrl::CVolumeCtrl(std::uint32_t sourceLine, std::uint32_t waveIn)
    : api_(mixerApi()), waveIn_(waveIn)
{
    if (open() && !findLines(sourceLine))
        close();
}

CVolumeCtrl::~CVolumeCtrl()
{
    if (opened_)
        api_->mixerClose(mixer_);
}

bool CVolumeCtrl::open()
{
    if (api_->mixerGetNumDevs() == 0)
        return false;
    unsigned id = 0;
    if (api_->mixerGetIdOfWaveIn(waveIn_, id) != MMSYSERR_NOERROR || id == kVolumeNone)
        return false;
    mixerId_ = id;
    if (api_->mixerOpen(mixer_, id) != MMSYSERR_NOERROR) {
        mixer_ = kNoMixer;
        return false;
    }
    opened_ = true;
    return true;
}

void CVolumeCtrl::close()
{
    api_->mixerClose(mixer_);
    mixer_ = kNoMixer;
    opened_ = false;
    linesFound_ = false;
    volumeAvailable_ = false;
}

bool CVolumeCtrl::findLines(std::uint32_t sourceLine)
{
    MixerLine dst;
    dst.componentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    if (api_->mixerGetLineInfo(mixer_, dst, MIXER_GETLINEINFOF_COMPONENTTYPE) != MMSYSERR_NOERROR ||
        sourceLine >= dst.connections)
        return false;
    MixerLine src;
    src.destination = dst.destination;
    src.source = sourceLine;
    if (api_->mixerGetLineInfo(mixer_, src, MIXER_GETLINEINFOF_SOURCE) != MMSYSERR_NOERROR)
        return false;

    // A line without a volume control is still usable for the input selection.
    MixerLineControls lc;
    lc.lineId = src.lineId;
    lc.controlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    lc.count = 1;
    if (api_->mixerGetLineControls(mixer_, lc, MIXER_GETLINECONTROLSF_ONEBYTYPE) == MMSYSERR_NOERROR &&
        !lc.controls.empty()) {
        const MixerControl& c = lc.controls.front();
        volumeAvailable_ = !(c.controlFlags & MIXERCONTROL_CONTROLF_DISABLED);
        volumeControlId_ = c.controlId;
        minimum_ = c.minimum;
        maximum_ = c.maximum;
        steps_ = c.steps;
    }

    for (std::uint32_t i = 0; i < dst.connections; ++i) {
        MixerLine l;
        l.destination = dst.destination;
        l.source = i;
        if (api_->mixerGetLineInfo(mixer_, l, MIXER_GETLINEINFOF_SOURCE) == MMSYSERR_NOERROR &&
            l.componentType == MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE) {
            micSource_ = static_cast<std::int32_t>(i);
            break;
        }
    }
    micItemOffset_ = static_cast<std::uint32_t>(micSource_ + 1);
    channels_ = src.channels;
    sourceLineId_ = src.lineId;
    linesFound_ = true;
    return true;
}

bool CVolumeCtrl::HasVolumeControl() { return volumeAvailable_; }

void CVolumeCtrl::SelectMicrophone()
{
    if (!linesFound_ || !HasVolumeControl())
        return;
    MixerLine dst;
    dst.componentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    if (api_->mixerGetLineInfo(mixer_, dst, MIXER_GETLINEINFOF_COMPONENTTYPE) != MMSYSERR_NOERROR)
        return;
    MixerLineControls lc;
    lc.lineId = dst.lineId;
    lc.count = dst.controls;
    if (api_->mixerGetLineControls(mixer_, lc, MIXER_GETLINECONTROLSF_ALL) != MMSYSERR_NOERROR)
        return;

    for (const MixerControl& c : lc.controls) {
        if (!(c.controlType & MIXERCONTROL_CT_UNITS_BOOLEAN) || !(c.controlFlags & MIXERCONTROL_CONTROLF_MULTIPLE))
            continue;
        // Item n - 1 - (microphone source index) on, every other item off; with
        // no microphone (offset 0) no item is on.
        const std::uint32_t channels = (c.controlFlags & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : dst.channels;
        const std::uint32_t n = c.multipleItems;
        const std::int64_t on = std::int64_t{n} - micItemOffset_;
        MixerControlDetails d;
        d.controlId = c.controlId;
        d.channels = channels;
        d.multipleItems = n;
        d.values.assign(std::size_t{channels} * n, 0);
        for (std::uint32_t ch = 0; ch < channels; ++ch)
            for (std::uint32_t j = 0; j < n; ++j)
                d.values[std::size_t{ch} * n + j] = j == on ? 1 : 0;
        api_->mixerSetControlDetails(mixer_, d, MIXER_SETCONTROLDETAILSF_VALUE);
    }
}

std::uint32_t CVolumeCtrl::GetStepCount() { return volumeAvailable_ ? steps_ : kVolumeNone; }
std::uint32_t CVolumeCtrl::GetMinimum() { return volumeAvailable_ ? minimum_ : kVolumeNone; }
std::uint32_t CVolumeCtrl::GetMaximum() { return volumeAvailable_ ? maximum_ : kVolumeNone; }

std::uint32_t CVolumeCtrl::GetVolume()
{
    if (!volumeAvailable_)
        return kVolumeNone;
    MixerControlDetails d;
    d.controlId = volumeControlId_;
    d.channels = channels_;
    if (api_->mixerGetControlDetails(mixer_, d, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR ||
        d.values.empty())
        return kVolumeNone;
    return d.values.front();
}

void CVolumeCtrl::SetVolume(std::uint32_t value)
{
    if (!volumeAvailable_ || value < minimum_ || value > maximum_)
        return;
    MixerControlDetails d;
    d.controlId = volumeControlId_;
    d.channels = channels_;
    d.values.assign(channels_, value);
    api_->mixerSetControlDetails(mixer_, d, MIXER_SETCONTROLDETAILSF_VALUE);
}

void mutecontrol::SetValue(std::int32_t value)
{
    if (mixer_ == kNoMixer || !api_)
        return;
    MixerControlDetails d;
    d.controlId = controlId_;
    d.channels = 1;
    d.values = {static_cast<std::uint32_t>(value)};
    api_->mixerSetControlDetails(mixer_, d, MIXER_SETCONTROLDETAILSF_VALUE);
}

} // namespace velkor::audio
