#include "audio/mixer_alsa.h"

#include "audio/mixer_model.h"
#include "platform/gbk.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <map>
#include <optional>

namespace velkor::audio {

namespace {

// A missing or failing sound card is an ordinary condition here; keep ALSA's
// own messages off stderr.
void quietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void quietAlsa()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&quietAlsaErrors); });
}

using Wide = unsigned __int128;

unsigned long span(long min, long max)
{
    return static_cast<unsigned long>(max) - static_cast<unsigned long>(min);
}

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// One control element of the device.
struct Element {
    snd_hctl_elem_t* elem = nullptr;
    std::string name;
    snd_ctl_elem_type_t type = SND_CTL_ELEM_TYPE_NONE;
    unsigned count = 0;
    long min = 0, max = 0;
    std::vector<std::string> items;  // of an enumerated element
};

enum class Kind { Volume, Mute, Selector };

struct Binding {
    const Element* element = nullptr;
    Kind kind = Kind::Volume;
};

struct AlsaSession : ModelMixer::Session {
    ~AlsaSession() override
    {
        if (hctl)
            snd_hctl_close(hctl);
    }
    snd_hctl_t* hctl = nullptr;
    DeviceModel device;
    std::map<std::string, Element> elements;
    std::vector<std::string> order;  // element names as the device lists them
    std::vector<Binding> bindings;
};

std::string gbkName(const std::string& utf8) { return gbk::fromUtf8(utf8).text; }

void readElements(AlsaSession& s)
{
    snd_ctl_elem_id_t* id;
    snd_ctl_elem_id_alloca(&id);
    snd_ctl_elem_info_t* info;
    snd_ctl_elem_info_alloca(&info);
    for (snd_hctl_elem_t* e = snd_hctl_first_elem(s.hctl); e; e = snd_hctl_elem_next(e)) {
        snd_hctl_elem_get_id(e, id);
        if (snd_ctl_elem_id_get_interface(id) != SND_CTL_ELEM_IFACE_MIXER || snd_ctl_elem_id_get_index(id) != 0)
            continue;
        if (snd_hctl_elem_info(e, info) < 0)
            continue;
        Element el;
        el.elem = e;
        el.name = snd_ctl_elem_id_get_name(id);
        el.type = snd_ctl_elem_info_get_type(info);
        el.count = snd_ctl_elem_info_get_count(info);
        if (el.count == 0 || !snd_ctl_elem_info_is_readable(info) || !snd_ctl_elem_info_is_writable(info))
            continue;
        if (el.type == SND_CTL_ELEM_TYPE_INTEGER) {
            el.min = snd_ctl_elem_info_get_min(info);
            el.max = snd_ctl_elem_info_get_max(info);
        } else if (el.type == SND_CTL_ELEM_TYPE_BOOLEAN) {
            el.max = 1;
        } else if (el.type == SND_CTL_ELEM_TYPE_ENUMERATED) {
            const unsigned n = snd_ctl_elem_info_get_items(info);
            for (unsigned i = 0; i < n; ++i) {
                snd_ctl_elem_info_set_item(info, i);
                if (snd_hctl_elem_info(e, info) < 0)
                    break;
                el.items.emplace_back(snd_ctl_elem_info_get_item_name(info));
            }
            if (el.items.size() != n || n == 0)
                continue;
        } else {
            continue;
        }
        s.order.push_back(el.name);
        s.elements.emplace(el.name, std::move(el));
    }
}

// Builds the device description of the session's elements (see mixer_alsa.h).
class ModelBuilder {
public:
    explicit ModelBuilder(AlsaSession& s) : s_(s) {}

    void build(std::string name)
    {
        DeviceModel& m = s_.device;
        m.name = gbkName(name);
        std::vector<std::string> playback, capture;  // base names in element order
        const Element* selector = nullptr;
        for (const auto& n : s_.order) {
            const Element& el = s_.elements.at(n);
            if (const auto base = baseOf(n, " Playback Volume", " Playback Switch"); base && *base != "Master")
                addOnce(playback, *base);
            if (const auto base = baseOf(n, " Capture Volume", " Capture Switch"))
                addOnce(capture, *base);
            if (el.type == SND_CTL_ELEM_TYPE_ENUMERATED && !selector &&
                (endsWith(n, "Capture Source") || n == "Input Source"))
                selector = &el;
        }

        const Element* masterVol = volume("Master Playback Volume");
        const Element* masterSw = boolean("Master Playback Switch");
        if (masterVol || masterSw || !playback.empty()) {
            DestinationModel d;
            d.line.line.componentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
            d.line.line.name = d.line.line.shortName = masterVol || masterSw ? "Master" : "Speakers";
            addVolumeAndMute(d.line, masterVol, masterSw);
            for (const auto& b : playback) {
                LineModel src;
                src.line.componentType = alsaComponentType(b);
                src.line.name = src.line.shortName = gbkName(b);
                addVolumeAndMute(src, volume(b + " Playback Volume"), boolean(b + " Playback Switch"));
                d.sources.push_back(std::move(src));
            }
            m.destinations.push_back(std::move(d));
        }

        const Element* captureVol = volume("Capture Volume");
        const Element* captureSw = boolean("Capture Switch");
        if (selector || captureVol || captureSw || !capture.empty()) {
            DestinationModel d;
            d.line.line.componentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
            d.line.line.name = d.line.line.shortName = "Capture";
            if (selector) {
                ControlModel c = control(*selector, Kind::Selector, MIXERCONTROL_CONTROLTYPE_MUX, d.line);
                c.control.controlFlags |= MIXERCONTROL_CONTROLF_MULTIPLE;
                c.control.multipleItems = static_cast<std::uint32_t>(selector->items.size());
                c.control.maximum = 1;
                for (const auto& item : selector->items)
                    c.items.push_back({0, 0, gbkName(item)});
                d.line.controls.push_back(std::move(c));
                // Source i is item n - 1 - i.
                for (auto it = selector->items.rbegin(); it != selector->items.rend(); ++it) {
                    LineModel src;
                    src.line.componentType = alsaComponentType(*it);
                    src.line.name = src.line.shortName = gbkName(*it);
                    const Element* own = volume(*it + " Capture Volume");
                    addVolumeAndMute(src, own ? own : captureVol, boolean(*it + " Capture Switch"));
                    d.sources.push_back(std::move(src));
                }
            }
            addVolumeAndMute(d.line, captureVol, captureSw);
            if (!selector) {
                for (const auto& b : capture) {
                    LineModel src;
                    src.line.componentType = alsaComponentType(b);
                    src.line.name = src.line.shortName = gbkName(b);
                    addVolumeAndMute(src, volume(b + " Capture Volume"), boolean(b + " Capture Switch"));
                    d.sources.push_back(std::move(src));
                }
            }
            m.destinations.push_back(std::move(d));
        }

        numberModel(m);
        // A selector item names the line it selects.
        for (auto& d : m.destinations) {
            for (auto& c : d.line.controls) {
                if (c.control.controlType != MIXERCONTROL_CONTROLTYPE_MUX)
                    continue;
                const std::size_t n = c.items.size();
                for (std::size_t j = 0; j < n && n - 1 - j < d.sources.size(); ++j)
                    c.items[j].param1 = d.sources[n - 1 - j].line.lineId;
            }
        }
    }

private:
    static std::optional<std::string> baseOf(const std::string& name, std::string_view a, std::string_view b)
    {
        for (auto suffix : {a, b})
            if (endsWith(name, suffix) && name.size() > suffix.size())
                return name.substr(0, name.size() - suffix.size());
        return std::nullopt;
    }
    static void addOnce(std::vector<std::string>& v, const std::string& s)
    {
        if (std::find(v.begin(), v.end(), s) == v.end())
            v.push_back(s);
    }
    const Element* find(const std::string& name, snd_ctl_elem_type_t type) const
    {
        auto it = s_.elements.find(name);
        return it != s_.elements.end() && it->second.type == type ? &it->second : nullptr;
    }
    const Element* volume(const std::string& name) const { return find(name, SND_CTL_ELEM_TYPE_INTEGER); }
    const Element* boolean(const std::string& name) const { return find(name, SND_CTL_ELEM_TYPE_BOOLEAN); }

    ControlModel control(const Element& el, Kind kind, std::uint32_t type, LineModel& line)
    {
        line.line.channels = std::max(line.line.channels, el.count);
        ControlModel c;
        c.control.controlType = type;
        c.control.controlFlags = el.count == 1 ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
        c.control.name = c.control.shortName = gbkName(el.name);
        c.binding = s_.bindings.size();
        s_.bindings.push_back({&el, kind});
        return c;
    }

    void addVolumeAndMute(LineModel& line, const Element* vol, const Element* sw)
    {
        if (vol) {
            ControlModel c = control(*vol, Kind::Volume, MIXERCONTROL_CONTROLTYPE_VOLUME, line);
            c.control.maximum = 65535;
            c.control.steps = static_cast<std::uint32_t>(std::min<unsigned long>(span(vol->min, vol->max), 65535));
            line.controls.push_back(std::move(c));
        }
        if (sw) {
            ControlModel c = control(*sw, Kind::Mute, MIXERCONTROL_CONTROLTYPE_MUTE, line);
            c.control.maximum = 1;
            line.controls.push_back(std::move(c));
        }
    }

    AlsaSession& s_;
};

class AlsaMixer final : public ModelMixer {
public:
    explicit AlsaMixer(std::optional<std::vector<std::string>> devices) : fixed_(std::move(devices))
    {
        quietAlsa();
    }

    unsigned mixerGetNumDevs() override { return static_cast<unsigned>(deviceNames().size()); }

    unsigned waveInGetNumDevs() override
    {
        unsigned n = 0;
        for (unsigned id = 0; id < mixerGetNumDevs(); ++id)
            n += hasRecording(id);
        return n;
    }

    MMRESULT mixerGetIdOfWaveIn(unsigned waveInId, unsigned& mixerId) override
    {
        unsigned n = 0;
        for (unsigned id = 0; id < mixerGetNumDevs(); ++id) {
            if (hasRecording(id) && n++ == waveInId) {
                mixerId = id;
                return MMSYSERR_NOERROR;
            }
        }
        return MMSYSERR_BADDEVICEID;
    }

protected:
    MMRESULT openSession(unsigned mixerId, std::unique_ptr<Session>& session) override
    {
        const auto names = deviceNames();
        if (mixerId >= names.size())
            return MMSYSERR_BADDEVICEID;
        auto s = std::make_unique<AlsaSession>();
        if (snd_hctl_open(&s->hctl, names[mixerId].c_str(), 0) < 0) {
            s->hctl = nullptr;
            return MMSYSERR_NODRIVER;
        }
        if (snd_hctl_load(s->hctl) < 0)
            return MMSYSERR_NODRIVER;
        readElements(*s);
        std::string name = names[mixerId];
        snd_ctl_card_info_t* info;
        snd_ctl_card_info_alloca(&info);
        if (snd_ctl_card_info(snd_hctl_ctl(s->hctl), info) >= 0 && *snd_ctl_card_info_get_name(info))
            name = snd_ctl_card_info_get_name(info);
        ModelBuilder(*s).build(name);
        s->model = &s->device;
        session = std::move(s);
        return MMSYSERR_NOERROR;
    }

    MMRESULT readControl(Session& session, const ControlModel& c, const MixerLine& line,
                         std::vector<std::uint32_t>& values) override
    {
        auto& s = static_cast<AlsaSession&>(session);
        const Binding& b = s.bindings.at(c.binding);
        const Element& el = *b.element;
        snd_ctl_elem_value_t* v;
        snd_ctl_elem_value_alloca(&v);
        if (snd_hctl_elem_read(el.elem, v) < 0)
            return MMSYSERR_ERROR;
        const std::uint32_t channels = storedChannels(c, line);
        const std::uint32_t items = itemCount(c);
        values.assign(std::size_t{channels} * items, 0);
        for (std::uint32_t ch = 0; ch < channels; ++ch) {
            const unsigned i = std::min(ch, el.count - 1);
            switch (b.kind) {
            case Kind::Volume:
                values[ch] = alsaToMixerValue(snd_ctl_elem_value_get_integer(v, i), el.min, el.max);
                break;
            case Kind::Mute:
                values[ch] = snd_ctl_elem_value_get_boolean(v, i) ? 0 : 1;
                break;
            case Kind::Selector: {
                const unsigned item = snd_ctl_elem_value_get_enumerated(v, i);
                if (item < items)
                    values[std::size_t{ch} * items + item] = 1;
                break;
            }
            }
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT writeControl(Session& session, const ControlModel& c, const MixerLine& line,
                          const std::vector<std::uint32_t>& values) override
    {
        auto& s = static_cast<AlsaSession&>(session);
        const Binding& b = s.bindings.at(c.binding);
        const Element& el = *b.element;
        snd_ctl_elem_value_t* v;
        snd_ctl_elem_value_alloca(&v);
        if (snd_hctl_elem_read(el.elem, v) < 0)
            return MMSYSERR_ERROR;
        const std::uint32_t channels = storedChannels(c, line);
        const std::uint32_t items = itemCount(c);
        for (unsigned i = 0; i < el.count; ++i) {
            const std::size_t ch = std::min<std::size_t>(i, channels - 1);
            switch (b.kind) {
            case Kind::Volume:
                if (values[ch] > 65535)
                    return MIXERR_INVALVALUE;
                snd_ctl_elem_value_set_integer(v, i, mixerToAlsaValue(values[ch], el.min, el.max));
                break;
            case Kind::Mute:
                if (values[ch] > 1)
                    return MIXERR_INVALVALUE;
                snd_ctl_elem_value_set_boolean(v, i, values[ch] ? 0 : 1);
                break;
            case Kind::Selector: {
                // Exactly one item on: an enumerated control always selects one.
                const auto first = values.begin() + static_cast<long>(ch * items);
                if (std::count_if(first, first + items, [](std::uint32_t x) { return x != 0; }) != 1)
                    return MIXERR_INVALVALUE;
                const auto on = std::find_if(first, first + items, [](std::uint32_t x) { return x != 0; });
                snd_ctl_elem_value_set_enumerated(v, i, static_cast<unsigned>(on - first));
                break;
            }
            }
        }
        return snd_hctl_elem_write(el.elem, v) < 0 ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
    }

private:
    std::vector<std::string> deviceNames() const
    {
        if (fixed_)
            return *fixed_;
        std::vector<std::string> names;
        int card = -1;
        while (snd_card_next(&card) == 0 && card >= 0)
            names.push_back("hw:" + std::to_string(card));
        return names;
    }

    bool hasRecording(unsigned id)
    {
        std::unique_ptr<Session> s;
        if (openSession(id, s) != MMSYSERR_NOERROR)
            return false;
        for (const auto& d : s->model->destinations)
            if (d.line.line.componentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN)
                return true;
        return false;
    }

    const std::optional<std::vector<std::string>> fixed_;
};

} // namespace

std::uint32_t alsaToMixerValue(long raw, long min, long max)
{
    if (max <= min)
        return 0;
    raw = std::clamp(raw, min, max);
    const Wide s = span(min, max);
    return static_cast<std::uint32_t>((Wide{span(min, raw)} * 65535 + s / 2) / s);
}

long mixerToAlsaValue(std::uint32_t value, long min, long max)
{
    if (max <= min)
        return min;
    const Wide offset = (Wide{std::min<std::uint32_t>(value, 65535)} * span(min, max) + 32767) / 65535;
    return static_cast<long>(static_cast<unsigned long>(min) + static_cast<unsigned long>(offset));
}

std::uint32_t alsaComponentType(std::string_view name)
{
    if (name == "PCM")
        return MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    std::vector<std::string_view> words;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t end = std::min(name.find_first_of(" -", i), name.size());
        if (end > i)
            words.push_back(name.substr(i, end - i));
        i = end + 1;
    }
    auto has = [&](std::string_view w) { return std::find(words.begin(), words.end(), w) != words.end(); };
    for (auto w : words) {
        if (w == "Mic" || w == "Microphone" ||
            (w.size() > 3 && w.substr(0, 3) == "Mic" &&
             std::all_of(w.begin() + 3, w.end(), [](char c) { return c >= '0' && c <= '9'; })))
            return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    }
    if (has("Line"))
        return MIXERLINE_COMPONENTTYPE_SRC_LINE;
    if (has("CD"))
        return MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
    if (has("Aux"))
        return MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY;
    if (has("Phone"))
        return MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE;
    if (has("Beep") || name == "PC Speaker")
        return MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER;
    if (has("Synth"))
        return MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER;
    if (has("IEC958") || has("SPDIF") || has("Digital"))
        return MIXERLINE_COMPONENTTYPE_SRC_DIGITAL;
    return MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
}

std::shared_ptr<MixerApi> makeAlsaMixer() { return std::make_shared<AlsaMixer>(std::nullopt); }

std::shared_ptr<MixerApi> makeAlsaMixer(std::vector<std::string> devices)
{
    return std::make_shared<AlsaMixer>(std::move(devices));
}

} // namespace velkor::audio
