#include "audio/mixer_api.h"

#include "audio/mixer_alsa.h"

#include <mutex>

namespace velkor::audio {

namespace {

std::mutex g_mutex;
std::shared_ptr<MixerApi> g_api;

} // namespace

std::shared_ptr<MixerApi> mixerApi()
{
    std::lock_guard lock(g_mutex);
    if (!g_api)
        g_api = makeAlsaMixer();
    return g_api;
}

void setMixerApi(std::shared_ptr<MixerApi> api)
{
    std::lock_guard lock(g_mutex);
    g_api = std::move(api);
}

} // namespace velkor::audio
