// Sound cues: numbered WAV clips from the embedded resources, played one at a time
// on a player thread of their own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velkor::sound {

struct PcmFormat {
    unsigned rate = 0;
    unsigned channels = 0;
    unsigned bits = 0;  // 8: unsigned samples; 16: signed little-endian
    unsigned bytesPerFrame() const { return channels * bits / 8; }
    bool operator==(const PcmFormat&) const = default;
};

// A parsed PCM WAV clip.
struct Clip {
    PcmFormat format;
    std::vector<std::uint8_t> data;  // interleaved frames
    long frames() const { return static_cast<long>(data.size() / format.bytesPerFrame()); }
};

// Parses a RIFF/WAVE file with an uncompressed PCM "fmt " chunk (format 1, 8 or
// 16 bits, 1 or 2 channels). Nothing on any other input. A data chunk that claims
// more than the file holds is cut to what is there.
std::optional<Clip> parseWav(std::string_view bytes);

// The clip of a cue number from the embedded resources; nothing for a number
// without a clip.
std::optional<Clip> loadCue(int number);

// A sound output as the player uses it; used only by the player thread.
class PcmOutput {
public:
    virtual ~PcmOutput() = default;
    // Prepares the device for `format`; false when there is no usable device.
    virtual bool open(const PcmFormat& format) = 0;
    // Queues up to `frames` frames, waiting at most `wait` for room. Returns the
    // frames taken (0 when the device is full), or -1 when the device failed.
    virtual long write(const std::uint8_t* data, long frames, std::chrono::milliseconds wait) = 0;
    // Frames queued but not yet heard; 0 when all has been played.
    virtual long queued() = 0;
    // Stops at once, discarding what is queued.
    virtual void drop() = 0;
    virtual void close() = 0;
};

// The ALSA output on a PCM device name ("default", "null", "hw:0", ...).
std::unique_ptr<PcmOutput> makeAlsaOutput(std::string device);

class CuePlayer {
public:
    // Plays through the ALSA device `device`.
    explicit CuePlayer(std::string device = "default");
    explicit CuePlayer(std::unique_ptr<PcmOutput> output);
    ~CuePlayer();
    CuePlayer(const CuePlayer&) = delete;
    CuePlayer& operator=(const CuePlayer&) = delete;

    // Starts cue `number` and returns at once; callable from any thread. A cue
    // still sounding (or waiting to start) is stopped. A number without a clip, or
    // no sound device, plays nothing and reports nothing.
    void play(int number);

    // Waits until nothing is sounding or waiting, at most `timeout`; true when idle.
    bool waitIdle(std::chrono::milliseconds timeout);

    struct Stats {
        int requested = 0;    // play() calls
        int started = 0;      // clips that reached the device
        int completed = 0;    // clips played to their end
        int interrupted = 0;  // clips stopped by a newer cue or by shutdown
        int missing = 0;      // numbers without a clip
        int noDevice = 0;     // clips skipped because the device could not be opened
        int failed = 0;       // clips abandoned on a device error or stall
    };
    Stats stats() const;

private:
    void run();
    void playOne(int number);
    bool interrupted();  // a newer cue is waiting, or shutting down
    const Clip* clip(int number);

    std::unique_ptr<PcmOutput> output_;
    std::map<int, std::optional<Clip>> clips_;  // player thread only
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::optional<int> pending_;
    bool busy_ = false;
    bool stopping_ = false;
    Stats stats_;
    std::thread thread_;
};

} // namespace velkor::sound
