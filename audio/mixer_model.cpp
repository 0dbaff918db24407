#include "audio/mixer_model.h"

#include <algorithm>

namespace velkor::audio {

namespace {

// Destination d has line ID d; source s of destination d has (s + 1) << 16 | d.
std::uint32_t sourceLineId(std::uint32_t d, std::uint32_t s) { return (s + 1) << 16 | d; }

void numberControls(LineModel& l, std::uint32_t& nextId)
{
    l.line.controls = static_cast<std::uint32_t>(l.controls.size());
    if (l.line.channels == 0)
        l.line.channels = 1;
    for (auto& c : l.controls)
        c.control.controlId = nextId++;
}

} // namespace

void numberModel(DeviceModel& model)
{
    std::uint32_t nextId = 1;
    for (std::uint32_t d = 0; d < model.destinations.size(); ++d) {
        auto& dst = model.destinations[d];
        dst.line.line.destination = d;
        dst.line.line.source = 0;
        dst.line.line.lineId = d;
        dst.line.line.lineFlags &= ~MIXERLINE_LINEF_SOURCE;
        dst.line.line.connections = static_cast<std::uint32_t>(dst.sources.size());
        numberControls(dst.line, nextId);
        for (std::uint32_t s = 0; s < dst.sources.size(); ++s) {
            auto& src = dst.sources[s].line;
            src.destination = d;
            src.source = s;
            src.lineId = sourceLineId(d, s);
            src.lineFlags |= MIXERLINE_LINEF_SOURCE;
            src.connections = 0;
            numberControls(dst.sources[s], nextId);
        }
    }
}

std::uint32_t storedChannels(const ControlModel& c, const MixerLine& line)
{
    return (c.control.controlFlags & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : std::max<std::uint32_t>(line.channels, 1);
}

std::uint32_t itemCount(const ControlModel& c)
{
    return (c.control.controlFlags & MIXERCONTROL_CONTROLF_MULTIPLE) ? c.control.multipleItems : 1;
}

std::size_t ModelMixer::openHandles() const
{
    std::lock_guard lock(mutex_);
    return open_.size();
}

unsigned ModelMixer::mixerIdOf(HMIXER mixer) const
{
    std::lock_guard lock(mutex_);
    auto it = open_.find(mixer);
    return it == open_.end() ? ~0u : it->second->mixerId;
}

ModelMixer::Session* ModelMixer::session(HMIXER mixer)
{
    auto it = open_.find(mixer);
    return it == open_.end() ? nullptr : it->second.get();
}

MMRESULT ModelMixer::mixerGetDevCaps(unsigned mixerId, MixerCaps& caps)
{
    std::lock_guard lock(mutex_);
    std::unique_ptr<Session> s;
    if (const MMRESULT r = openSession(mixerId, s); r != MMSYSERR_NOERROR)
        return r;
    caps.name = s->model->name;
    caps.destinations = static_cast<std::uint32_t>(s->model->destinations.size());
    return MMSYSERR_NOERROR;
}

MMRESULT ModelMixer::mixerOpen(HMIXER& mixer, unsigned mixerId)
{
    std::lock_guard lock(mutex_);
    mixer = kNoMixer;
    std::unique_ptr<Session> s;
    if (const MMRESULT r = openSession(mixerId, s); r != MMSYSERR_NOERROR)
        return r;
    while (next_ == kNoMixer || open_.count(next_))
        ++next_;
    mixer = next_++;
    s->mixerId = mixerId;
    open_.emplace(mixer, std::move(s));
    return MMSYSERR_NOERROR;
}

MMRESULT ModelMixer::mixerClose(HMIXER mixer)
{
    std::lock_guard lock(mutex_);
    return open_.erase(mixer) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT ModelMixer::mixerGetLineInfo(HMIXER mixer, MixerLine& line, std::uint32_t flags)
{
    std::lock_guard lock(mutex_);
    Session* s = session(mixer);
    if (!s)
        return MMSYSERR_INVALHANDLE;
    const auto& dsts = s->model->destinations;
    const MixerLine* found = nullptr;
    switch (flags) {
    case MIXER_GETLINEINFOF_DESTINATION:
        if (line.destination < dsts.size())
            found = &dsts[line.destination].line.line;
        break;
    case MIXER_GETLINEINFOF_SOURCE:
        if (line.destination < dsts.size() && line.source < dsts[line.destination].sources.size())
            found = &dsts[line.destination].sources[line.source].line;
        break;
    case MIXER_GETLINEINFOF_LINEID:
    case MIXER_GETLINEINFOF_COMPONENTTYPE: {
        const bool byId = flags == MIXER_GETLINEINFOF_LINEID;
        auto matches = [&](const MixerLine& l) {
            return byId ? l.lineId == line.lineId : l.componentType == line.componentType;
        };
        // Destinations first: a component type names a destination or a source kind.
        for (const auto& d : dsts)
            if (!found && matches(d.line.line))
                found = &d.line.line;
        for (const auto& d : dsts)
            for (const auto& src : d.sources)
                if (!found && matches(src.line))
                    found = &src.line;
        break;
    }
    default:
        return MMSYSERR_INVALFLAG;
    }
    if (!found)
        return MIXERR_INVALLINE;
    line = *found;
    return MMSYSERR_NOERROR;
}

MMRESULT ModelMixer::mixerGetLineControls(HMIXER mixer, MixerLineControls& lc, std::uint32_t flags)
{
    std::lock_guard lock(mutex_);
    Session* s = session(mixer);
    if (!s)
        return MMSYSERR_INVALHANDLE;
    const DeviceModel& m = *s->model;
    if (flags == MIXER_GETLINECONTROLSF_ONEBYID) {
        const Found f = findControl(m, lc.controlId);
        if (!f.control)
            return MIXERR_INVALCONTROL;
        lc.lineId = f.line->line.lineId;
        lc.controls = {f.control->control};
        return MMSYSERR_NOERROR;
    }
    const LineModel* line = nullptr;
    for (const auto& d : m.destinations) {
        if (d.line.line.lineId == lc.lineId)
            line = &d.line;
        for (const auto& src : d.sources)
            if (src.line.lineId == lc.lineId)
                line = &src;
    }
    if (!line)
        return MIXERR_INVALLINE;
    switch (flags) {
    case MIXER_GETLINECONTROLSF_ALL:
        // As many as the line reports, as the caller learnt from its line info.
        if (lc.count != line->controls.size() || line->controls.empty())
            return MMSYSERR_INVALPARAM;
        lc.controls.clear();
        for (const auto& c : line->controls)
            lc.controls.push_back(c.control);
        return MMSYSERR_NOERROR;
    case MIXER_GETLINECONTROLSF_ONEBYTYPE:
        for (const auto& c : line->controls) {
            if (c.control.controlType == lc.controlType) {
                lc.controls = {c.control};
                return MMSYSERR_NOERROR;
            }
        }
        return MIXERR_INVALCONTROL;
    default:
        return MMSYSERR_INVALFLAG;
    }
}

ModelMixer::Found ModelMixer::findControl(const DeviceModel& m, std::uint32_t controlId)
{
    auto inLine = [&](const LineModel& l) -> Found {
        for (const auto& c : l.controls)
            if (c.control.controlId == controlId)
                return {&l, &c};
        return {};
    };
    for (const auto& d : m.destinations) {
        if (Found f = inLine(d.line); f.control)
            return f;
        for (const auto& src : d.sources)
            if (Found f = inLine(src); f.control)
                return f;
    }
    return {};
}

MMRESULT ModelMixer::checkDetails(const Found& f, const MixerControlDetails& d) const
{
    if (!f.control)
        return MIXERR_INVALCONTROL;
    const bool multiple = f.control->control.controlFlags & MIXERCONTROL_CONTROLF_MULTIPLE;
    if (d.multipleItems != (multiple ? f.control->control.multipleItems : 0))
        return MMSYSERR_INVALPARAM;
    if (d.channels != 1 && d.channels != f.line->line.channels)
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

MMRESULT ModelMixer::mixerGetControlDetails(HMIXER mixer, MixerControlDetails& d, std::uint32_t flags)
{
    std::lock_guard lock(mutex_);
    Session* s = session(mixer);
    if (!s)
        return MMSYSERR_INVALHANDLE;
    const Found f = findControl(*s->model, d.controlId);
    if (const MMRESULT r = checkDetails(f, d); r != MMSYSERR_NOERROR)
        return r;
    const std::uint32_t items = itemCount(*f.control);
    if (flags == MIXER_GETCONTROLDETAILSF_LISTTEXT) {
        if (!(f.control->control.controlFlags & MIXERCONTROL_CONTROLF_MULTIPLE))
            return MMSYSERR_INVALPARAM;
        d.listText.clear();
        for (std::uint32_t ch = 0; ch < d.channels; ++ch)
            for (std::uint32_t i = 0; i < items; ++i)
                d.listText.push_back(i < f.control->items.size() ? f.control->items[i] : MixerListText{});
        return MMSYSERR_NOERROR;
    }
    if (flags != MIXER_GETCONTROLDETAILSF_VALUE)
        return MMSYSERR_INVALFLAG;

    const std::uint32_t stored = storedChannels(*f.control, f.line->line);
    std::vector<std::uint32_t> v;
    if (const MMRESULT r = readControl(*s, *f.control, f.line->line, v); r != MMSYSERR_NOERROR)
        return r;
    if (v.size() != std::size_t{stored} * items)
        return MMSYSERR_ERROR;
    d.values.assign(std::size_t{d.channels} * items, 0);
    for (std::uint32_t i = 0; i < items; ++i) {
        if (d.channels == 1) {
            // All channels as one: the largest.
            std::uint32_t top = 0;
            for (std::uint32_t ch = 0; ch < stored; ++ch)
                top = std::max(top, v[std::size_t{ch} * items + i]);
            d.values[i] = top;
        } else {
            for (std::uint32_t ch = 0; ch < d.channels; ++ch)
                d.values[std::size_t{ch} * items + i] = v[std::size_t{std::min(ch, stored - 1)} * items + i];
        }
    }
    return MMSYSERR_NOERROR;
}

MMRESULT ModelMixer::mixerSetControlDetails(HMIXER mixer, const MixerControlDetails& d, std::uint32_t flags)
{
    std::lock_guard lock(mutex_);
    Session* s = session(mixer);
    if (!s)
        return MMSYSERR_INVALHANDLE;
    if (flags != MIXER_SETCONTROLDETAILSF_VALUE)
        return MMSYSERR_INVALFLAG;
    const Found f = findControl(*s->model, d.controlId);
    if (const MMRESULT r = checkDetails(f, d); r != MMSYSERR_NOERROR)
        return r;
    const std::uint32_t items = itemCount(*f.control);
    if (d.values.size() != std::size_t{d.channels} * items)
        return MMSYSERR_INVALPARAM;
    // One channel sets every channel; a uniform control keeps the first channel's values.
    const std::uint32_t stored = storedChannels(*f.control, f.line->line);
    std::vector<std::uint32_t> v(std::size_t{stored} * items);
    for (std::uint32_t ch = 0; ch < stored; ++ch)
        for (std::uint32_t i = 0; i < items; ++i)
            v[std::size_t{ch} * items + i] = d.values[std::size_t{d.channels == 1 ? 0 : ch} * items + i];
    return writeControl(*s, *f.control, f.line->line, v);
}

} // namespace velkor::audio
