// A sound card's control device in user space, for tests of the ALSA mixer
// backend on machines without a sound card: an ALSA external control plugin
// (ctl_ext) with fixed element layouts. Element values live in the process and
// persist across opens, as a card's would; velkor_fake_ctl_reset restores them.
//
// asoundrc:
//   ctl_type.velkor_fake { lib "/path/to/libvelkor_fake_ctl.so" }
//   ctl.velkor_full { type velkor_fake layout "full" }
#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Elem {
    std::string name;
    snd_ctl_elem_type_t type;
    unsigned count;
    long min = 0, max = 1;
    std::vector<std::string> items;
    std::vector<long> values;
};

Elem integer(std::string name, unsigned count, long min, long max, long value)
{
    return {std::move(name), SND_CTL_ELEM_TYPE_INTEGER, count, min, max, {},
            std::vector<long>(count, value)};
}
Elem boolean(std::string name, unsigned count, long value)
{
    return {std::move(name), SND_CTL_ELEM_TYPE_BOOLEAN, count, 0, 1, {}, std::vector<long>(count, value)};
}
Elem enumerated(std::string name, std::vector<std::string> items, unsigned count, long value)
{
    return {std::move(name), SND_CTL_ELEM_TYPE_ENUMERATED, count, 0, 0, std::move(items),
            std::vector<long>(count, value)};
}

// The layouts: "full" is a classic codec with a capture source selector,
// "nomic" a card whose selector has no microphone, "usb" a headset with only
// PCM playback and a microphone capture volume, "stereo_enum" a selector with a
// value per channel.
std::vector<Elem> layout(const std::string& name)
{
    if (name == "full")
        return {integer("Master Playback Volume", 2, 0, 31, 10),
                boolean("Master Playback Switch", 1, 1),
                integer("PCM Playback Volume", 2, 0, 255, 100),
                boolean("PCM Playback Switch", 2, 1),
                integer("Mic Playback Volume", 2, 0, 31, 0),
                boolean("Mic Playback Switch", 1, 0),
                integer("Line Playback Volume", 2, 0, 31, 5),
                integer("Capture Volume", 2, 0, 63, 20),
                boolean("Capture Switch", 2, 1),
                enumerated("Capture Source", {"Mic", "CD", "Line", "Mix"}, 1, 2)};
    if (name == "nomic")
        return {integer("Master Playback Volume", 2, 0, 31, 10),
                integer("PCM Playback Volume", 2, 0, 255, 100),
                integer("Capture Volume", 2, 0, 63, 20),
                enumerated("Input Source", {"Line", "CD", "Mix"}, 1, 1)};
    if (name == "usb")
        return {integer("PCM Playback Volume", 1, -16384, 0, -8000),
                boolean("PCM Playback Switch", 1, 1),
                integer("Mic Capture Volume", 1, 0, 16, 8),
                boolean("Mic Capture Switch", 1, 1)};
    if (name == "stereo_enum")
        return {integer("Master Playback Volume", 2, 0, 100, 50),
                integer("Capture Volume", 2, 0, 63, 20),
                integer("Line Capture Volume", 2, 0, 15, 3),
                enumerated("Capture Source", {"Line", "Front Mic", "Mic", "Mix"}, 2, 0)};
    return {};
}

std::mutex g_mutex;
std::map<std::string, std::vector<Elem>>& cards()
{
    static std::map<std::string, std::vector<Elem>> c;
    return c;
}

struct Instance {
    snd_ctl_ext_t ext{};
    std::string layout;
};

std::vector<Elem>& elems(snd_ctl_ext_t* ext)
{
    auto* inst = static_cast<Instance*>(ext->private_data);
    auto& c = cards();
    auto it = c.find(inst->layout);
    if (it == c.end())
        it = c.emplace(inst->layout, layout(inst->layout)).first;
    return it->second;
}

Elem* elem(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key)
{
    auto& e = elems(ext);
    return key < e.size() ? &e[key] : nullptr;
}

void closeCb(snd_ctl_ext_t* ext) { delete static_cast<Instance*>(ext->private_data); }

int elemCount(snd_ctl_ext_t* ext)
{
    std::lock_guard lock(g_mutex);
    return static_cast<int>(elems(ext).size());
}

int elemList(snd_ctl_ext_t* ext, unsigned offset, snd_ctl_elem_id_t* id)
{
    std::lock_guard lock(g_mutex);
    auto& e = elems(ext);
    if (offset >= e.size())
        return -EINVAL;
    snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_id_set_name(id, e[offset].name.c_str());
    return 0;
}

snd_ctl_ext_key_t findElem(snd_ctl_ext_t* ext, const snd_ctl_elem_id_t* id)
{
    std::lock_guard lock(g_mutex);
    auto& e = elems(ext);
    if (snd_ctl_elem_id_get_index(id) != 0)
        return SND_CTL_EXT_KEY_NOT_FOUND;
    const char* name = snd_ctl_elem_id_get_name(id);
    for (std::size_t i = 0; i < e.size(); ++i)
        if (e[i].name == name)
            return i;
    return SND_CTL_EXT_KEY_NOT_FOUND;
}

int getAttribute(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int* type, unsigned* acc, unsigned* count)
{
    std::lock_guard lock(g_mutex);
    Elem* e = elem(ext, key);
    if (!e)
        return -EINVAL;
    *type = e->type;
    *acc = SND_CTL_EXT_ACCESS_READWRITE;
    *count = e->count;
    return 0;
}

int getIntegerInfo(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* imin, long* imax, long* istep)
{
    std::lock_guard lock(g_mutex);
    Elem* e = elem(ext, key);
    if (!e)
        return -EINVAL;
    *imin = e->min;
    *imax = e->max;
    *istep = 1;
    return 0;
}

int getEnumeratedInfo(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned* items)
{
    std::lock_guard lock(g_mutex);
    Elem* e = elem(ext, key);
    if (!e)
        return -EINVAL;
    *items = static_cast<unsigned>(e->items.size());
    return 0;
}

int getEnumeratedName(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned item, char* name, size_t max)
{
    std::lock_guard lock(g_mutex);
    Elem* e = elem(ext, key);
    if (!e || item >= e->items.size() || max == 0)
        return -EINVAL;
    std::snprintf(name, max, "%s", e->items[item].c_str());
    return 0;
}

int readInteger(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value)
{
    std::lock_guard lock(g_mutex);
    Elem* e = elem(ext, key);
    if (!e)
        return -EINVAL;
    for (unsigned i = 0; i < e->count; ++i)
        value[i] = e->values[i];
    return 0;
}

int readEnumerated(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned* items)
{
    std::lock_guard lock(g_mutex);
    Elem* e = elem(ext, key);
    if (!e)
        return -EINVAL;
    for (unsigned i = 0; i < e->count; ++i)
        items[i] = static_cast<unsigned>(e->values[i]);
    return 0;
}

// Returns 1 when a value changed, 0 when not, as a driver's put does.
int writeInteger(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value)
{
    std::lock_guard lock(g_mutex);
    Elem* e = elem(ext, key);
    if (!e)
        return -EINVAL;
    int changed = 0;
    for (unsigned i = 0; i < e->count; ++i) {
        if (value[i] < e->min || value[i] > e->max)
            return -EINVAL;
    }
    for (unsigned i = 0; i < e->count; ++i) {
        changed |= e->values[i] != value[i];
        e->values[i] = value[i];
    }
    return changed;
}

int writeEnumerated(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned* items)
{
    std::lock_guard lock(g_mutex);
    Elem* e = elem(ext, key);
    if (!e)
        return -EINVAL;
    for (unsigned i = 0; i < e->count; ++i)
        if (items[i] >= e->items.size())
            return -EINVAL;
    int changed = 0;
    for (unsigned i = 0; i < e->count; ++i) {
        changed |= e->values[i] != static_cast<long>(items[i]);
        e->values[i] = items[i];
    }
    return changed;
}

int readEvent(snd_ctl_ext_t*, snd_ctl_elem_id_t*, unsigned*) { return -EAGAIN; }

const snd_ctl_ext_callback_t callbacks = [] {
    snd_ctl_ext_callback_t c{};
    c.close = closeCb;
    c.elem_count = elemCount;
    c.elem_list = elemList;
    c.find_elem = findElem;
    c.get_attribute = getAttribute;
    c.get_integer_info = getIntegerInfo;
    c.get_enumerated_info = getEnumeratedInfo;
    c.get_enumerated_name = getEnumeratedName;
    c.read_integer = readInteger;
    c.read_enumerated = readEnumerated;
    c.write_integer = writeInteger;
    c.write_enumerated = writeEnumerated;
    c.read_event = readEvent;
    return c;
}();

} // namespace

extern "C" {

// Restores every layout's starting values.
__attribute__((visibility("default"))) void velkor_fake_ctl_reset()
{
    std::lock_guard lock(g_mutex);
    cards().clear();
}

SND_CTL_PLUGIN_DEFINE_FUNC(velkor_fake)
{
    (void)root;
    std::string layoutName;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* n = snd_config_iterator_entry(i);
        const char* id = nullptr;
        if (snd_config_get_id(n, &id) < 0)
            continue;
        if (std::strcmp(id, "layout") == 0) {
            const char* s = nullptr;
            if (snd_config_get_string(n, &s) < 0)
                return -EINVAL;
            layoutName = s;
        }
    }
    if (layout(layoutName).empty())
        return -ENODEV;

    auto* inst = new Instance;
    inst->layout = layoutName;
    snd_ctl_ext_t& ext = inst->ext;
    ext.version = SND_CTL_EXT_VERSION;
    ext.card_idx = 0;
    std::snprintf(ext.id, sizeof ext.id, "Velkor%s", layoutName.substr(0, 8).c_str());
    std::snprintf(ext.driver, sizeof ext.driver, "velkor_fake");
    std::snprintf(ext.name, sizeof ext.name, "Fake %s", layoutName.c_str());
    std::snprintf(ext.longname, sizeof ext.longname, "Fake control device (%s)", layoutName.c_str());
    std::snprintf(ext.mixername, sizeof ext.mixername, "Fake %s", layoutName.c_str());
    ext.poll_fd = -1;
    ext.callback = &callbacks;
    ext.private_data = inst;
    const int err = snd_ctl_ext_create(&ext, name, mode);
    if (err < 0) {
        delete inst;
        return err;
    }
    *handlep = ext.handle;
    return 0;
}
SND_CTL_PLUGIN_SYMBOL(velkor_fake)

} // extern "C"
