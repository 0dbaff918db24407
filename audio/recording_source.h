// The recording-source selection the main window runs once at the end of its
// set-up: the microphone becomes the selected recording input of every
// waveform input device (through CVolumeCtrl, audio/volume.h).
#pragma once

#include <cstdint>

namespace velkor::audio {

class CAudioCtrl {
public:
    // For each waveform input device in turn (their number is asked before
    // every step): binds a CVolumeCtrl to source line `sourceLine` of its
    // recording line, stores the volume control's bounds in the places given
    // (kVolumeNone without one; the last device's values remain), and selects
    // the microphone. Always returns 100. The main window calls
    // SelectRecordingSource(1, nullptr, nullptr).
    std::int32_t SelectRecordingSource(std::int32_t sourceLine, std::uint32_t* minimum, std::uint32_t* maximum);

    std::int32_t sourceLine() const { return sourceLine_; }

private:
    std::int32_t sourceLine_ = 0;
};

} // namespace velkor::audio
