// A sound card for machines without one: its microphone gives silence (or a
// steady tone) and its speaker discards what it is given, both at the pace of
// the media ticker, so calls, level meters, mute, gain and recording work.
#pragma once

struct _MSFactory;

namespace velkor::tel {

// Card id as the engine lists it.
inline constexpr const char* kNullSoundCardId = "Null: Null sound card";

// Registers the card's driver with the factory's card manager (once per
// factory) and adds the card. tone: the microphone gives a 400 Hz tone at
// about -20 dBFS instead of silence.
void registerNullSoundCard(_MSFactory* factory, bool tone);

} // namespace velkor::tel
