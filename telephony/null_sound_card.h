// A sound card for machines without one: its microphone gives silence (or a
// steady tone) and its speaker discards what it is given, both at the pace of
// the media ticker, so calls, level meters, mute, gain and recording work.
#pragma once

struct _MSFactory;

namespace velkor::tel {

// Driver name of the card in the engine's device list.
inline constexpr const char* kNullSoundCardDriver = "Null";

// Registers the card's driver with the factory's card manager (once per
// factory) and adds the card. tone: the microphone gives a 400 Hz tone at
// about -20 dBFS instead of silence.
void registerNullSoundCard(_MSFactory* factory, bool tone);

} // namespace velkor::tel
