// The main window's mixer operations for the speaker volume: the master volume
// of the first mixer device's speakers and the volume of a source line (the
// wave output). The main window owns one object and calls these on its
// user-interface thread; each answers success (true) or failure (false), and a
// machine without a mixer makes them fail quietly.
#pragma once

#include "audio/mixer_api.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velkor::audio {

// The speaker slider runs from 0 (top, loudest) to 65535; the window starts it
// at 20000 but sets the master volume to 45535 and the wave output to 55535.
inline constexpr int kSpeakerSliderMax = 65535;
inline constexpr int kSpeakerSliderStart = 20000;
inline constexpr std::uint32_t kStartMasterVolume = 45535;
inline constexpr std::uint32_t kStartWaveOutVolume = 55535;

class MainWindowMixer {
public:
    MainWindowMixer() = default;
    // Closes the first mixer device if it was opened.
    ~MainWindowMixer();
    MainWindowMixer(const MainWindowMixer&) = delete;
    MainWindowMixer& operator=(const MainWindowMixer&) = delete;

    // Opens mixer device 0 of the backend in force and reads its capabilities.
    // With no mixer device it succeeds and stays without a handle (the master
    // volume operations then fail). A handle opened earlier is closed first.
    bool OpenMainMixer();
    // Finds the speakers destination's volume control and records its line
    // name, control name and ID.
    bool FindMasterVolume();
    // Write / read the master volume as one value for all channels (0-65535).
    bool SetMasterVolume(std::uint32_t value);
    bool GetMasterVolume(std::uint32_t& value);
    // Sets `value` on every channel of the volume control of the first source
    // line of `sourceType` under the first destination of `destinationType`,
    // through a handle of its own on mixer device 0. Fails when there is no
    // mixer, no such line, no volume control on it, or the write fails.
    bool SetSourceLineVolume(std::uint32_t destinationType, std::uint32_t sourceType, std::uint32_t value);

    // The window's set-up, steps 5 and 8: OpenMainMixer, FindMasterVolume,
    // SetMasterVolume(45535), SetSourceLineVolume(speakers, wave output, 55535).
    // Results are not looked at.
    void StartUp();
    // Speaker slider 1021 moved to `position` (clamped to 0-65535):
    // SetMasterVolume(65535 - position), then SetSourceLineVolume(speakers,
    // wave output, 65535 - position).
    void SpeakerSliderMoved(int position);

    unsigned deviceCount() const { return devices_; }
    HMIXER handle() const { return mixer_; }
    const MixerCaps& caps() const { return caps_; }
    const std::string& masterLineName() const { return lineName_; }
    const std::string& masterControlName() const { return controlName_; }
    std::uint32_t masterControlId() const { return controlId_; }

private:
    void close();

    std::shared_ptr<MixerApi> api_;  // the backend the handle was opened with
    unsigned devices_ = 0;
    HMIXER mixer_ = kNoMixer;
    MixerCaps caps_;
    std::string lineName_;
    std::string controlName_;
    std::uint32_t controlId_ = 0;
};

} // namespace velkor::audio
