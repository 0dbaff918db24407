// A mixer backend built on a description of each device (its lines and
// controls): the lookups, handles, channel rules and checks of the mixer calls
// live here once, and a backend only describes its devices and reads and writes
// the stored values of a control.
#pragma once

#include "audio/mixer_api.h"

#include <cstddef>
#include <map>
#include <mutex>

namespace velkor::audio {

struct ControlModel {
    MixerControl control;
    std::vector<MixerListText> items;  // one per item of a multiple-item control
    std::size_t binding = 0;           // the backend's own reference
};

struct LineModel {
    MixerLine line;  // componentType, lineFlags, channels and names; the rest is numbered
    std::vector<ControlModel> controls;
};

struct DestinationModel {
    LineModel line;
    std::vector<LineModel> sources;
};

struct DeviceModel {
    std::string name;
    std::vector<DestinationModel> destinations;
};

// Gives every line its indices, ID and counts, and every control its ID
// (numbered from 1 over the device). Call after building or changing a model.
void numberModel(DeviceModel& model);

// The number of values a control stores: (1 if uniform, else the line's
// channels) x (its items, or 1).
std::uint32_t storedChannels(const ControlModel& c, const MixerLine& line);
std::uint32_t itemCount(const ControlModel& c);

class ModelMixer : public MixerApi {
public:
    // One open device: its description and whatever the backend keeps open.
    struct Session {
        virtual ~Session() = default;
        const DeviceModel* model = nullptr;
        unsigned mixerId = 0;  // set by mixerOpen
    };

    MMRESULT mixerGetDevCaps(unsigned mixerId, MixerCaps& caps) override;
    MMRESULT mixerOpen(HMIXER& mixer, unsigned mixerId) override;
    MMRESULT mixerClose(HMIXER mixer) override;
    MMRESULT mixerGetLineInfo(HMIXER mixer, MixerLine& line, std::uint32_t flags) override;
    MMRESULT mixerGetLineControls(HMIXER mixer, MixerLineControls& controls, std::uint32_t flags) override;
    MMRESULT mixerGetControlDetails(HMIXER mixer, MixerControlDetails& details, std::uint32_t flags) override;
    MMRESULT mixerSetControlDetails(HMIXER mixer, const MixerControlDetails& details,
                                    std::uint32_t flags) override;

    // Handles open now.
    std::size_t openHandles() const;
    // The device an open handle belongs to; -1 (all ones) for an unknown handle.
    unsigned mixerIdOf(HMIXER mixer) const;

protected:
    virtual MMRESULT openSession(unsigned mixerId, std::unique_ptr<Session>& session) = 0;
    // Reads/writes the stored values of a control (storedChannels x itemCount,
    // channel-major). The values given to write are checked for count only.
    virtual MMRESULT readControl(Session& s, const ControlModel& c, const MixerLine& line,
                                 std::vector<std::uint32_t>& values) = 0;
    virtual MMRESULT writeControl(Session& s, const ControlModel& c, const MixerLine& line,
                                  const std::vector<std::uint32_t>& values) = 0;

private:
    struct Found {
        const LineModel* line = nullptr;
        const ControlModel* control = nullptr;
    };
    Session* session(HMIXER mixer);
    static Found findControl(const DeviceModel& m, std::uint32_t controlId);
    MMRESULT checkDetails(const Found& f, const MixerControlDetails& d) const;

    mutable std::mutex mutex_;
    std::map<HMIXER, std::unique_ptr<Session>> open_;
    HMIXER next_ = 1;
};

} // namespace velkor::audio
