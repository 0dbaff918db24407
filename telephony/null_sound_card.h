// A sound card for machines without one: its microphone gives silence (or a
// steady tone) and its speaker discards what it is given, both at the pace of
// the media ticker, so calls, level meters, mute, gain and recording work.
//
// The card can also play an answering machine's part: its microphone first
// plays a prompt and then gives back, a little later, what its speaker
// received in the same call (an echo).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct _MSFactory;

namespace velkor::tel {

// Driver name of the card in the engine's device list.
inline constexpr const char* kNullSoundCardDriver = "Null";

// What the card's microphone gives, per call (each call's audio stream opens
// its own microphone and speaker).
struct NullCardSource {
    // A 400 Hz tone at about -20 dBFS instead of silence.
    bool tone = false;
    // Played once at the start (16-bit mono samples at 8 kHz), before anything else.
    std::shared_ptr<const std::vector<int16_t>> prompt;
    // After the prompt: what the speaker of the same call received, echoDelayMs later.
    bool echo = false;
    int echoDelayMs = 250;
};

// Registers the card's driver with the factory's card manager (once per
// factory) and adds the card. The source applies to microphones opened from
// then on, in every factory of the process.
void registerNullSoundCard(_MSFactory* factory, const NullCardSource& source);
inline void registerNullSoundCard(_MSFactory* factory, bool tone)
{
    NullCardSource source;
    source.tone = tone;
    registerNullSoundCard(factory, source);
}

} // namespace velkor::tel
