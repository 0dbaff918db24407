// An in-memory mixer that tests fill with devices, lines and controls. It keeps
// the values written, records every write attempt, and can be told to fail.
#pragma once

#include "audio/mixer_model.h"

#include <deque>
#include <optional>

namespace velkor::audio {

class MemoryMixer final : public ModelMixer {
public:
    // A line of a device: its device number and line ID.
    struct LineRef {
        unsigned device = 0;
        std::uint32_t lineId = 0;
    };
    struct NewControl {
        std::uint32_t type = MIXERCONTROL_CONTROLTYPE_VOLUME;
        std::uint32_t flags = 0;
        std::uint32_t minimum = 0;
        std::uint32_t maximum = 65535;
        std::uint32_t steps = 0;
        std::vector<std::string> items;     // names of a multiple-item control's items
        std::vector<std::uint32_t> values;  // starting values (stored layout); zeros if empty
        std::string name;
    };
    // One call of mixerSetControlDetails, as the caller made it.
    struct Write {
        unsigned device = 0;  // all ones for a handle that was not open
        std::uint32_t controlId = 0;
        std::uint32_t channels = 0;
        std::uint32_t multipleItems = 0;
        std::vector<std::uint32_t> values;
        MMRESULT result = MMSYSERR_NOERROR;
    };

    // Adds a mixer device; returns its number.
    unsigned addDevice(std::string name = "Memory mixer");
    LineRef addDestination(unsigned device, std::uint32_t componentType, std::uint32_t channels,
                           std::string name = {});
    LineRef addSource(LineRef destination, std::uint32_t componentType, std::uint32_t channels,
                      std::string name = {});
    // Adds a control to a line; returns its control ID. The IDs of controls
    // added earlier may change (they are numbered over the device).
    std::uint32_t addControl(LineRef line, NewControl control);
    // The control ID of a line's first control of `type`; 0 if none.
    std::uint32_t controlId(LineRef line, std::uint32_t type) const;
    // Adds a waveform input device that belongs to mixer `device`, or to no mixer.
    void addWaveIn(std::optional<unsigned> device);

    // Stored values of a control (stored layout: channel-major, 1 channel if uniform).
    std::vector<std::uint32_t> values(unsigned device, std::uint32_t controlId) const;
    void setValues(unsigned device, std::uint32_t controlId, std::vector<std::uint32_t> values);

    // Failures on demand.
    void setOpenFails(unsigned device, bool fails);
    void setWritesFail(bool fail);

    std::vector<Write> writes() const;
    void clearWrites();

    unsigned mixerGetNumDevs() override;
    unsigned waveInGetNumDevs() override;
    MMRESULT mixerGetIdOfWaveIn(unsigned waveInId, unsigned& mixerId) override;
    MMRESULT mixerSetControlDetails(HMIXER mixer, const MixerControlDetails& details,
                                    std::uint32_t flags) override;

protected:
    MMRESULT openSession(unsigned mixerId, std::unique_ptr<Session>& session) override;
    MMRESULT readControl(Session& s, const ControlModel& c, const MixerLine& line,
                         std::vector<std::uint32_t>& values) override;
    MMRESULT writeControl(Session& s, const ControlModel& c, const MixerLine& line,
                          const std::vector<std::uint32_t>& values) override;

private:
    struct Device {
        DeviceModel model;
        // Values by binding (a control's number in order of addition).
        std::vector<std::vector<std::uint32_t>> values;
        bool openFails = false;
    };
    struct MemorySession : Session {
        Device* device = nullptr;
    };
    LineModel& line(LineRef ref);
    const LineModel* findLine(LineRef ref) const;
    const ControlModel* findControl(unsigned device, std::uint32_t controlId) const;

    mutable std::mutex mutex_;
    std::deque<Device> devices_;
    std::vector<std::optional<unsigned>> waveIns_;
    std::vector<Write> writes_;
    bool writesFail_ = false;
};

} // namespace velkor::audio
