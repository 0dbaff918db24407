// Volume and input selection of one waveform input device's recording line,
// and the mute control record the main window holds. Both work on the mixer
// backend in force (audio/mixer_api.h) and never report a failure: a step that
// fails ends the operation quietly.
#pragma once

#include "audio/mixer_api.h"

#include <cstdint>
#include <memory>

namespace velkor::audio {

// The all-ones answer of a getter that has nothing to tell.
inline constexpr std::uint32_t kVolumeNone = 0xFFFFFFFFu;

class IVolume {
public:
    virtual ~IVolume() = default;
    // True when the chosen source line's volume control was found and is not disabled.
    virtual bool HasVolumeControl() = 0;
    // Makes the microphone the selected source of the recording line.
    virtual void SelectMicrophone() = 0;
    // The volume control's steps, bounds and first channel's value; kVolumeNone
    // without a volume control.
    virtual std::uint32_t GetStepCount() = 0;
    virtual std::uint32_t GetMinimum() = 0;
    virtual std::uint32_t GetMaximum() = 0;
    virtual std::uint32_t GetVolume() = 0;
    // Writes `value` to every channel; a value outside the bounds is ignored.
    virtual void SetVolume(std::uint32_t value) = 0;
};

// Bound to source line `sourceLine` of the recording destination of the mixer
// that waveform input device `waveIn` belongs to. Construction opens the mixer
// and finds the lines; destruction closes it. When a step fails the object stays
// usable and every operation answers none or does nothing.
class CVolumeCtrl final : public IVolume {
public:
    CVolumeCtrl(std::uint32_t sourceLine, std::uint32_t waveIn);
    ~CVolumeCtrl() override;
    CVolumeCtrl(const CVolumeCtrl&) = delete;
    CVolumeCtrl& operator=(const CVolumeCtrl&) = delete;

    bool HasVolumeControl() override;
    void SelectMicrophone() override;
    std::uint32_t GetStepCount() override;
    std::uint32_t GetMinimum() override;
    std::uint32_t GetMaximum() override;
    std::uint32_t GetVolume() override;
    void SetVolume(std::uint32_t value) override;

    bool opened() const { return opened_; }
    // The mixer device of the waveform input device; all ones until found.
    std::uint32_t mixerId() const { return mixerId_; }
    bool linesFound() const { return linesFound_; }
    // The microphone's source index on the recording line; -1 when it has none.
    std::int32_t microphoneSourceIndex() const { return micSource_; }

private:
    bool open();
    bool findLines(std::uint32_t sourceLine);
    void close();

    std::shared_ptr<MixerApi> api_;  // the backend the mixer was opened with
    std::uint32_t waveIn_;
    bool opened_ = false;
    bool linesFound_ = false;
    bool volumeAvailable_ = false;
    std::uint32_t mixerId_ = kVolumeNone;
    HMIXER mixer_ = kNoMixer;
    std::uint32_t sourceLineId_ = 0;
    std::uint32_t volumeControlId_ = 0;
    std::uint32_t channels_ = 0;
    std::uint32_t micItemOffset_ = 0;  // microphone source index + 1; 0 without a microphone
    std::int32_t micSource_ = -1;
    std::uint32_t minimum_ = kVolumeNone;
    std::uint32_t maximum_ = kVolumeNone;
    std::uint32_t steps_ = 0;
};

// A mixer control and the open mixer that owns it. The main window's record is
// never bound, so its SetValue does nothing.
class mutecontrol {
public:
    mutecontrol() = default;
    mutecontrol(std::shared_ptr<MixerApi> api, HMIXER mixer, std::uint32_t controlId)
        : api_(std::move(api)), mixer_(mixer), controlId_(controlId)
    {
    }
    // Writes `value` as the control's value for all channels; nothing when unbound.
    void SetValue(std::int32_t value);

    HMIXER mixer() const { return mixer_; }
    std::uint32_t controlId() const { return controlId_; }

private:
    std::shared_ptr<MixerApi> api_;
    HMIXER mixer_ = kNoMixer;
    std::uint32_t controlId_ = 0;
};

} // namespace velkor::audio
