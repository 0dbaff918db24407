// The mixer on ALSA control devices. Each control device is one mixer device,
// described from the standard control names:
//
//   destination 0, speakers (4): "Master Playback Volume" / "... Switch" give
//     its volume and mute; every other "<X> Playback Volume" / "<X> Playback
//     Switch" is a source line X ("PCM" is the wave output 4104, "Mic" the
//     microphone 4099; see alsaComponentType).
//   destination 1, recording (7): the capture source selector ("Capture Source"
//     or "Input Source", an enumerated control) is its MUX control, "Capture
//     Volume" / "Capture Switch" its volume and mute. Its source lines are the
//     selector's items in reverse order (source i is item n - 1 - i, the order
//     the Windows mixer's drivers give), each with the volume of "<item>
//     Capture Volume", or else of "Capture Volume" (the level the selected input
//     is recorded at). Without a selector the source lines are the "<X> Capture
//     Volume" / "<X> Capture Switch" elements.
//   A destination exists only when one of its elements does.
//
// Volumes read and write 0-65535, scaled linearly from the element's range;
// mutes read 1 when the switch is off. A selector takes exactly one item per
// channel (the enumerated control cannot select none). A waveform input device
// is a mixer device that has a recording destination.
#pragma once

#include "audio/mixer_api.h"

#include <string_view>

namespace velkor::audio {

// The ALSA backend over the machine's sound cards ("hw:0", "hw:1", ...; the
// cards are looked up at each call).
std::shared_ptr<MixerApi> makeAlsaMixer();
// The ALSA backend over the given control device names (names of the ALSA
// configuration, e.g. "hw:1").
std::shared_ptr<MixerApi> makeAlsaMixer(std::vector<std::string> devices);

// An element value in [min, max] on the scale 0-65535, rounded; 0 for an empty range.
std::uint32_t alsaToMixerValue(long raw, long min, long max);
// A value 0-65535 (larger ones are taken as 65535) in [min, max], rounded.
long mixerToAlsaValue(std::uint32_t value, long min, long max);

// The source line component type an element or selector item name stands for:
// "PCM" the wave output; a name with the word "Mic", "Mic<digits>" or
// "Microphone" the microphone; "Line", "CD", "Aux", "Phone", "Beep"/"PC
// Speaker", "Synth", "IEC958"/"SPDIF"/"Digital" their types; else undefined.
std::uint32_t alsaComponentType(std::string_view name);

} // namespace velkor::audio
