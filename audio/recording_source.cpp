#include "audio/recording_source.h"

#include "audio/mixer_api.h"
#include "audio/volume.h"

namespace velkor::audio {

std::int32_t CAudioCtrl::SelectRecordingSource(std::int32_t sourceLine, std::uint32_t* minimum,
                                               std::uint32_t* maximum)
{
    sourceLine_ = sourceLine;
    for (std::uint32_t device = 0; device < mixerApi()->waveInGetNumDevs(); ++device) {
        CVolumeCtrl volume(static_cast<std::uint32_t>(sourceLine), device);
        if (minimum)
            *minimum = volume.GetMinimum();
        if (maximum)
            *maximum = volume.GetMaximum();
        volume.SelectMicrophone();
    }
    return 100;
}

} // namespace velkor::audio
