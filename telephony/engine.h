// The liblinphone engine behind the sipx* functions and its settings.
//
// One engine thread per instance creates, iterates and destroys the
// liblinphone core. sipx* calls from other threads are queued to it and
// waited on; calls made from inside a listener (on the engine thread) run
// directly. Every event reaches the listeners on the engine thread.
#pragma once

#include "telephony/sipx_api.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace velkor::tel {

struct EngineSettings {
    // Interval of every OPTIONS keep-alive; 0: the interval given to
    // sipxConfigKeepAliveAdd (tests shorten it).
    std::chrono::milliseconds keepAliveInterval{0};
    // Use the null sound card even where real devices exist.
    bool nullSoundCardOnly = false;
    // The null sound card's microphone gives a steady tone instead of silence.
    bool nullCaptureTone = false;
    // The null sound card's microphone first plays these samples (16-bit mono,
    // 8 kHz) at the start of every call's audio ...
    std::vector<int16_t> nullCapturePrompt;
    // ... and then gives back what the card's speaker received in the same
    // call, nullEchoDelay later, in place of the tone or silence.
    bool nullCaptureEcho = false;
    std::chrono::milliseconds nullEchoDelay{250};
    // Every call keeps its audio when another one is answered or placed (by
    // default a new call puts the one in progress on hold).
    bool sharedMediaResources = false;
    // A call from a caller who has another call here in progress is taken too
    // (by default the engine refuses it as a duplicate with 486).
    bool acceptDuplicateCalls = false;
    // Folder of the recordings in progress (moved to their names when they
    // end); empty: $TMPDIR or /tmp.
    std::string recordTempDir;
    // Media ports chosen by the system instead of from the given RTP port:
    // engines of tests running side by side then never share a media port.
    bool systemMediaPorts = false;
    // liblinphone's own log on stderr.
    bool verboseLog = false;
};

// Takes effect at the next sipxInitialize.
void setEngineSettings(const EngineSettings& settings);
EngineSettings engineSettings();

// Microphone gain in dB for an input level of sipxAudioSetInputVolume: 98 (the
// program's default) is unity, 0 silences; a level below 0 (the slider's
// bottom gives -1) is taken as 0, above 100 as 100.
float inputGainDb(int level);

// Level meter value 0-100 of a call's volume in dBm0: -60 and below 0, 0 and
// above 100, linear between.
double energyOf(float dbm0);

// The engine (a process-wide object; instances are made by sipxInitialize).
SipxApi& linphoneEngine();

} // namespace velkor::tel
