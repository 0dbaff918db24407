#include "telephony/null_sound_card.h"

#include <mediastreamer2/msfactory.h>
#include <mediastreamer2/msfilter.h>
#include <mediastreamer2/mssndcard.h>
#include <mediastreamer2/msticker.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <numbers>

namespace velkor::tel {
namespace {

// What a call's speaker received, for its microphone to give back. Both
// filters of one call run on the call's media ticker, so the ticker pairs them.
struct EchoLoop {
    std::mutex mutex;
    std::deque<int16_t> samples;  // mono
};

std::mutex g_mutex;  // guards g_source and g_loops
NullCardSource g_source;
std::map<const MSTicker*, std::weak_ptr<EchoLoop>> g_loops;

std::shared_ptr<EchoLoop> loopOf(const MSTicker* ticker, size_t delaySamples)
{
    std::lock_guard lock(g_mutex);
    std::erase_if(g_loops, [&](const auto& e) { return e.first != ticker && e.second.expired(); });
    auto& slot = g_loops[ticker];
    auto loop = slot.lock();
    if (!loop) {
        loop = std::make_shared<EchoLoop>();
        loop->samples.assign(delaySamples, 0);
        slot = loop;
    }
    return loop;
}

struct ReaderState {
    int rate = 8000;
    int channels = 1;
    uint64_t startTime = 0;   // ticker time (ms) of the first tick
    uint64_t produced = 0;    // sample frames handed out so far
    bool started = false;
    NullCardSource source;
    double phase = 0;
    uint64_t promptFrames = 0;  // length of the prompt at the card's rate
    std::shared_ptr<EchoLoop> loop;
};

size_t delaySamples(const NullCardSource& source, int rate)
{
    return static_cast<size_t>(std::max(source.echoDelayMs, 0)) * static_cast<size_t>(rate) / 1000;
}

void readerInit(MSFilter* f)
{
    auto* s = new ReaderState;
    {
        std::lock_guard lock(g_mutex);
        s->source = g_source;
    }
    f->data = s;
}

void readerUninit(MSFilter* f)
{
    delete static_cast<ReaderState*>(f->data);
    f->data = nullptr;
}

// Prompt sample at output frame i, resampled linearly from 8 kHz.
int16_t promptSample(const std::vector<int16_t>& prompt, uint64_t i, int rate)
{
    const double pos = static_cast<double>(i) * 8000.0 / rate;
    const auto k = static_cast<size_t>(pos);
    if (k + 1 >= prompt.size())
        return k < prompt.size() ? prompt[k] : 0;
    const double frac = pos - static_cast<double>(k);
    return static_cast<int16_t>(std::lround(prompt[k] * (1 - frac) + prompt[k + 1] * frac));
}

// Fills frames mono samples of the source after the prompt.
void fillAfterPrompt(ReaderState* s, int16_t* mono, size_t frames)
{
    if (s->source.echo && s->loop) {
        std::lock_guard lock(s->loop->mutex);
        auto& q = s->loop->samples;
        // Keep the delay from growing when the speaker got more than was played.
        const size_t most = delaySamples(s->source, s->rate) + static_cast<size_t>(s->rate);
        if (q.size() > most + frames)
            q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(q.size() - most - frames));
        for (size_t i = 0; i < frames; ++i) {
            if (q.empty()) {
                mono[i] = 0;
            } else {
                mono[i] = q.front();
                q.pop_front();
            }
        }
    } else if (s->source.tone) {
        const double step = 2 * std::numbers::pi * 400.0 / s->rate;
        for (size_t i = 0; i < frames; ++i) {
            mono[i] = static_cast<int16_t>(3277 * std::sin(s->phase));
            s->phase += step;
            if (s->phase > 2 * std::numbers::pi)
                s->phase -= 2 * std::numbers::pi;
        }
    } else {
        std::fill(mono, mono + frames, int16_t{0});
    }
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
        if (s->source.prompt)
            s->promptFrames = s->source.prompt->size() * static_cast<uint64_t>(s->rate) / 8000;
        if (s->source.echo)
            s->loop = loopOf(f->ticker, delaySamples(s->source, s->rate));
    }
    const uint64_t due = (now - s->startTime + 10) * static_cast<uint64_t>(s->rate) / 1000;
    if (due <= s->produced)
        return;
    const auto frames = static_cast<size_t>(due - s->produced);
    std::vector<int16_t> mono(frames);
    size_t done = 0;
    for (; done < frames && s->produced + done < s->promptFrames; ++done)
        mono[done] = promptSample(*s->source.prompt, s->produced + done, s->rate);
    if (done > 0 && s->loop) {  // what was said during the prompt is not echoed
        std::lock_guard lock(s->loop->mutex);
        auto& q = s->loop->samples;
        const size_t keep = delaySamples(s->source, s->rate);
        if (q.size() > keep)
            q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(q.size() - keep));
    }
    fillAfterPrompt(s, mono.data() + done, frames - done);

    const size_t bytes = frames * 2 * static_cast<size_t>(s->channels);
    mblk_t* m = allocb(bytes, 0);
    auto* out = reinterpret_cast<int16_t*>(m->b_wptr);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < s->channels; ++c)
            *out++ = mono[i];
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
    static_cast<ReaderState*>(f->data)->channels = std::max(*static_cast<int*>(arg), 1);
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

// Discards what it is given; with an echoing source it first hands the first
// channel to the microphone of the same call.
void writerProcess(MSFilter* f)
{
    auto* s = static_cast<ReaderState*>(f->data);
    if (s->source.echo) {
        if (!s->loop)
            s->loop = loopOf(f->ticker, delaySamples(s->source, s->rate));
        std::lock_guard lock(s->loop->mutex);
        while (mblk_t* m = ms_queue_get(f->inputs[0])) {
            const auto* in = reinterpret_cast<const int16_t*>(m->b_rptr);
            const size_t frames = static_cast<size_t>(m->b_wptr - m->b_rptr) / (2 * static_cast<size_t>(s->channels));
            for (size_t i = 0; i < frames; ++i)
                s->loop->samples.push_back(in[i * static_cast<size_t>(s->channels)]);
            freemsg(m);
        }
        return;
    }
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

void registerNullSoundCard(MSFactory* factory, const NullCardSource& source)
{
    {
        std::lock_guard lock(g_mutex);
        g_source = source;
    }
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
