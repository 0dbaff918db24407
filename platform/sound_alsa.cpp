// The ALSA output of the cue player. Opened per clip and closed after it, so the
// device is free for the call engine between cues; opened non-blocking so that a
// busy or missing device never holds the player thread.
#include "platform/sound.h"

#include <alsa/asoundlib.h>

#include <mutex>

namespace velkor::sound {

namespace {

// ALSA prints configuration errors to stderr (e.g. when there is no sound card);
// a missing device is an ordinary condition for cues, so keep it quiet.
void quietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

class AlsaOutput final : public PcmOutput {
public:
    explicit AlsaOutput(std::string device) : device_(std::move(device))
    {
        static std::once_flag once;
        std::call_once(once, [] { snd_lib_error_set_handler(&quietAlsaErrors); });
    }
    ~AlsaOutput() override { close(); }

    bool open(const PcmFormat& f) override
    {
        close();
        if (snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
            pcm_ = nullptr;
            return false;
        }
        const snd_pcm_format_t format = f.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
        // 100 ms of buffer: short enough that a new cue cuts the old one at once.
        if (snd_pcm_set_params(pcm_, format, SND_PCM_ACCESS_RW_INTERLEAVED, f.channels, f.rate,
                               1, 100'000) < 0) {
            close();
            return false;
        }
        return true;
    }

    long write(const std::uint8_t* data, long frames, std::chrono::milliseconds wait) override
    {
        if (!pcm_)
            return -1;
        const snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, static_cast<snd_pcm_uframes_t>(frames));
        if (n >= 0)
            return n;
        if (n == -EAGAIN) {
            snd_pcm_wait(pcm_, static_cast<int>(wait.count()));
            return 0;
        }
        // Underrun or suspend: recover and go on; anything else ends the clip.
        return snd_pcm_recover(pcm_, static_cast<int>(n), 1) == 0 ? 0 : -1;
    }

    long queued() override
    {
        if (!pcm_)
            return 0;
        // A clip shorter than the start threshold has not started yet.
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED)
            snd_pcm_start(pcm_);
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING)
            return 0;  // played out (the stream stops when its buffer runs empty)
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm_, &delay) < 0)
            return 0;
        return delay > 0 ? static_cast<long>(delay) : 0;
    }

    void drop() override
    {
        if (pcm_)
            snd_pcm_drop(pcm_);
    }

    void close() override
    {
        if (pcm_) {
            snd_pcm_close(pcm_);
            pcm_ = nullptr;
        }
    }

private:
    std::string device_;
    snd_pcm_t* pcm_ = nullptr;
};

} // namespace

std::unique_ptr<PcmOutput> makeAlsaOutput(std::string device)
{
    return std::make_unique<AlsaOutput>(std::move(device));
}

} // namespace velkor::sound
