#include "telephony/null_sound_card.h"

#include <mediastreamer2/msfactory.h>
#include <mediastreamer2/msfilter.h>
#include <mediastreamer2/mssndcard.h>
#include <mediastreamer2/msticker.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

namespace velkor::tel {
namespace {

struct ReaderState {
    int rate = 8000;
    int channels = 1;
    uint64_t startTime = 0;   // ticker time (ms) of the first tick
    uint64_t produced = 0;    // sample frames handed out so far
    bool started = false;
    bool tone = false;
    double phase = 0;
};

bool g_tone = false;

void readerInit(MSFilter* f)
{
    auto* s = new ReaderState;
    s->tone = g_tone;
    f->data = s;
}

void readerUninit(MSFilter* f)
{
    delete static_cast<ReaderState*>(f->data);
    f->data = nullptr;
}

// Hands out as many frames as the ticker's clock says have elapsed, so the
// card keeps real time whatever the tick length.
void readerProcess(MSFilter* f)
{
    auto* s = static_cast<ReaderState*>(f->data);
    const uint64_t now = f->ticker->time;
    if (!s->started) {
        s->started = true;
        s->startTime = now;
    }
    const uint64_t due = (now - s->startTime + 10) * static_cast<uint64_t>(s->rate) / 1000;
    if (due <= s->produced)
        return;
    const auto frames = static_cast<size_t>(due - s->produced);
    const size_t bytes = frames * 2 * static_cast<size_t>(s->channels);
    mblk_t* m = allocb(bytes, 0);
    auto* out = reinterpret_cast<int16_t*>(m->b_wptr);
    if (s->tone) {
        const double step = 2 * std::numbers::pi * 400.0 / s->rate;
        for (size_t i = 0; i < frames; ++i) {
            const auto v = static_cast<int16_t>(3277 * std::sin(s->phase));
            s->phase += step;
            if (s->phase > 2 * std::numbers::pi)
                s->phase -= 2 * std::numbers::pi;
            for (int c = 0; c < s->channels; ++c)
                *out++ = v;
        }
    } else {
        std::memset(out, 0, bytes);
    }
    m->b_wptr += bytes;
    s->produced = due;
    ms_queue_put(f->outputs[0], m);
}

int setRate(MSFilter* f, void* arg)
{
    static_cast<ReaderState*>(f->data)->rate = *static_cast<int*>(arg);
    return 0;
}
int getRate(MSFilter* f, void* arg)
{
    *static_cast<int*>(arg) = static_cast<ReaderState*>(f->data)->rate;
    return 0;
}
int setChannels(MSFilter* f, void* arg)
{
    static_cast<ReaderState*>(f->data)->channels = *static_cast<int*>(arg);
    return 0;
}
int getChannels(MSFilter* f, void* arg)
{
    *static_cast<int*>(arg) = static_cast<ReaderState*>(f->data)->channels;
    return 0;
}

MSFilterMethod g_methods[] = {
    {MS_FILTER_SET_SAMPLE_RATE, setRate},
    {MS_FILTER_GET_SAMPLE_RATE, getRate},
    {MS_FILTER_SET_NCHANNELS, setChannels},
    {MS_FILTER_GET_NCHANNELS, getChannels},
    {0, nullptr},
};

MSFilterDesc g_readerDesc = {
    MS_FILTER_PLUGIN_ID, "VelkorNullRead", "Silence or tone source of the null sound card",
    MS_FILTER_OTHER, nullptr, 0, 1, readerInit, nullptr, readerProcess, nullptr, readerUninit,
    g_methods, 0,
};

void writerProcess(MSFilter* f)
{
    ms_queue_flush(f->inputs[0]);
}

MSFilterDesc g_writerDesc = {
    MS_FILTER_PLUGIN_ID, "VelkorNullWrite", "Discarding sink of the null sound card",
    MS_FILTER_OTHER, nullptr, 1, 0, readerInit, nullptr, writerProcess, nullptr, readerUninit,
    g_methods, 0,
};

MSFilter* createReader(MSSndCard* card)
{
    return ms_factory_create_filter_from_desc(card->sndcardmanager->factory, &g_readerDesc);
}

MSFilter* createWriter(MSSndCard* card)
{
    return ms_factory_create_filter_from_desc(card->sndcardmanager->factory, &g_writerDesc);
}

MSSndCardDesc g_cardDesc = {};

void detect(MSSndCardManager* m)
{
    MSSndCard* card = ms_snd_card_new(&g_cardDesc);
    card->name = ms_strdup("Null sound card");
    card->capabilities = MS_SND_CARD_CAP_CAPTURE | MS_SND_CARD_CAP_PLAYBACK;
    card->latency = 0;
    ms_snd_card_manager_add_card(m, card);
}

} // namespace

void registerNullSoundCard(MSFactory* factory, bool tone)
{
    g_tone = tone;
    g_cardDesc.driver_type = kNullSoundCardDriver;
    g_cardDesc.detect = detect;
    g_cardDesc.create_reader = createReader;
    g_cardDesc.create_writer = createWriter;
    MSSndCardManager* m = ms_factory_get_snd_card_manager(factory);
    bool known = false;
    for (MSList* d = m->descs; d; d = d->next)
        known = known || d->data == &g_cardDesc;
    if (!known)
        ms_snd_card_manager_register_desc(m, &g_cardDesc);  // runs detect()
    else
        detect(m);
}

} // namespace velkor::tel
