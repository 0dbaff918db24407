#include "audio/mixer_memory.h"

#include <stdexcept>

namespace velkor::audio {

unsigned MemoryMixer::addDevice(std::string name)
{
    std::lock_guard lock(mutex_);
    devices_.emplace_back();
    devices_.back().model.name = std::move(name);
    return static_cast<unsigned>(devices_.size() - 1);
}

MemoryMixer::LineRef MemoryMixer::addDestination(unsigned device, std::uint32_t componentType,
                                                 std::uint32_t channels, std::string name)
{
    std::lock_guard lock(mutex_);
    auto& m = devices_.at(device).model;
    DestinationModel d;
    d.line.line.componentType = componentType;
    d.line.line.channels = channels;
    d.line.line.lineFlags = MIXERLINE_LINEF_ACTIVE;
    d.line.line.name = d.line.line.shortName = std::move(name);
    m.destinations.push_back(std::move(d));
    numberModel(m);
    return {device, m.destinations.back().line.line.lineId};
}

MemoryMixer::LineRef MemoryMixer::addSource(LineRef destination, std::uint32_t componentType,
                                            std::uint32_t channels, std::string name)
{
    std::lock_guard lock(mutex_);
    auto& m = devices_.at(destination.device).model;
    auto& d = m.destinations.at(destination.lineId);
    LineModel s;
    s.line.componentType = componentType;
    s.line.channels = channels;
    s.line.lineFlags = MIXERLINE_LINEF_ACTIVE;
    s.line.name = s.line.shortName = std::move(name);
    d.sources.push_back(std::move(s));
    numberModel(m);
    return {destination.device, d.sources.back().line.lineId};
}

LineModel& MemoryMixer::line(LineRef ref)
{
    auto& m = devices_.at(ref.device).model;
    for (auto& d : m.destinations) {
        if (d.line.line.lineId == ref.lineId)
            return d.line;
        for (auto& s : d.sources)
            if (s.line.lineId == ref.lineId)
                return s;
    }
    throw std::out_of_range("no such mixer line");
}

const LineModel* MemoryMixer::findLine(LineRef ref) const
{
    return &const_cast<MemoryMixer*>(this)->line(ref);
}

std::uint32_t MemoryMixer::addControl(LineRef ref, NewControl add)
{
    std::lock_guard lock(mutex_);
    Device& dev = devices_.at(ref.device);
    LineModel& l = line(ref);
    ControlModel c;
    c.control.controlType = add.type;
    c.control.controlFlags = add.flags;
    c.control.minimum = add.minimum;
    c.control.maximum = add.maximum;
    c.control.steps = add.steps;
    c.control.multipleItems = static_cast<std::uint32_t>(add.items.size());
    c.control.name = c.control.shortName = add.name;
    for (auto& item : add.items)
        c.items.push_back({0, 0, item});
    c.binding = dev.values.size();
    const std::size_t size = std::size_t{storedChannels(c, l.line)} * itemCount(c);
    if (add.values.empty())
        add.values.assign(size, 0);
    if (add.values.size() != size)
        throw std::invalid_argument("starting values do not fit the control");
    dev.values.push_back(std::move(add.values));
    l.controls.push_back(std::move(c));
    numberModel(dev.model);
    return l.controls.back().control.controlId;
}

std::uint32_t MemoryMixer::controlId(LineRef ref, std::uint32_t type) const
{
    std::lock_guard lock(mutex_);
    for (const auto& c : findLine(ref)->controls)
        if (c.control.controlType == type)
            return c.control.controlId;
    return 0;
}

void MemoryMixer::addWaveIn(std::optional<unsigned> device)
{
    std::lock_guard lock(mutex_);
    waveIns_.push_back(device);
}

const ControlModel* MemoryMixer::findControl(unsigned device, std::uint32_t controlId) const
{
    const auto& m = devices_.at(device).model;
    auto inLine = [&](const LineModel& l) -> const ControlModel* {
        for (const auto& c : l.controls)
            if (c.control.controlId == controlId)
                return &c;
        return nullptr;
    };
    for (const auto& d : m.destinations) {
        if (auto* c = inLine(d.line))
            return c;
        for (const auto& s : d.sources)
            if (auto* c = inLine(s))
                return c;
    }
    throw std::out_of_range("no such mixer control");
}

std::vector<std::uint32_t> MemoryMixer::values(unsigned device, std::uint32_t controlId) const
{
    std::lock_guard lock(mutex_);
    return devices_.at(device).values.at(findControl(device, controlId)->binding);
}

void MemoryMixer::setValues(unsigned device, std::uint32_t controlId, std::vector<std::uint32_t> values)
{
    std::lock_guard lock(mutex_);
    auto& stored = devices_.at(device).values.at(findControl(device, controlId)->binding);
    if (values.size() != stored.size())
        throw std::invalid_argument("values do not fit the control");
    stored = std::move(values);
}

void MemoryMixer::setOpenFails(unsigned device, bool fails)
{
    std::lock_guard lock(mutex_);
    devices_.at(device).openFails = fails;
}

void MemoryMixer::setWritesFail(bool fail)
{
    std::lock_guard lock(mutex_);
    writesFail_ = fail;
}

std::vector<MemoryMixer::Write> MemoryMixer::writes() const
{
    std::lock_guard lock(mutex_);
    return writes_;
}

void MemoryMixer::clearWrites()
{
    std::lock_guard lock(mutex_);
    writes_.clear();
}

unsigned MemoryMixer::mixerGetNumDevs()
{
    std::lock_guard lock(mutex_);
    return static_cast<unsigned>(devices_.size());
}

unsigned MemoryMixer::waveInGetNumDevs()
{
    std::lock_guard lock(mutex_);
    return static_cast<unsigned>(waveIns_.size());
}

MMRESULT MemoryMixer::mixerGetIdOfWaveIn(unsigned waveInId, unsigned& mixerId)
{
    std::lock_guard lock(mutex_);
    if (waveInId >= waveIns_.size())
        return MMSYSERR_BADDEVICEID;
    if (!waveIns_[waveInId])
        return MMSYSERR_NODRIVER;
    mixerId = *waveIns_[waveInId];
    return MMSYSERR_NOERROR;
}

MMRESULT MemoryMixer::mixerSetControlDetails(HMIXER mixer, const MixerControlDetails& details,
                                             std::uint32_t flags)
{
    const unsigned device = mixerIdOf(mixer);
    const MMRESULT r = ModelMixer::mixerSetControlDetails(mixer, details, flags);
    std::lock_guard lock(mutex_);
    writes_.push_back({device, details.controlId, details.channels, details.multipleItems,
                       details.values, r});
    return r;
}

MMRESULT MemoryMixer::openSession(unsigned mixerId, std::unique_ptr<Session>& session)
{
    std::lock_guard lock(mutex_);
    if (mixerId >= devices_.size())
        return MMSYSERR_BADDEVICEID;
    if (devices_[mixerId].openFails)
        return MMSYSERR_NODRIVER;
    auto s = std::make_unique<MemorySession>();
    s->device = &devices_[mixerId];
    s->model = &devices_[mixerId].model;
    session = std::move(s);
    return MMSYSERR_NOERROR;
}

MMRESULT MemoryMixer::readControl(Session& s, const ControlModel& c, const MixerLine&,
                                  std::vector<std::uint32_t>& values)
{
    std::lock_guard lock(mutex_);
    values = static_cast<MemorySession&>(s).device->values.at(c.binding);
    return MMSYSERR_NOERROR;
}

MMRESULT MemoryMixer::writeControl(Session& s, const ControlModel& c, const MixerLine&,
                                   const std::vector<std::uint32_t>& values)
{
    std::lock_guard lock(mutex_);
    auto& ms = static_cast<MemorySession&>(s);
    if (writesFail_)
        return MMSYSERR_ERROR;
    ms.device->values.at(c.binding) = values;
    return MMSYSERR_NOERROR;
}

} // namespace velkor::audio
