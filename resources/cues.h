// The catalogue of sound cues: every clip the program can play, by number.
// The asset tool makes the clips to these formats; the player looks them up as
// ":/wave/<number>.wav".
#pragma once

#include <string>

namespace velkor::cues {

struct ClipSpec {
    int number;
    int rate;      // samples per second
    int channels;  // 1 mono, 2 stereo
    int bits;      // 8 (unsigned) or 16 (signed little-endian)
    double seconds;
    // Frames in the clip: the length rounded to whole frames.
    constexpr long frames() const { return static_cast<long>(seconds * rate + 0.5); }
};

inline constexpr ClipSpec catalogue[] = {
    {134, 22050, 1, 16, 0.26},  // key "1"
    {135, 22050, 1, 16, 0.26},  // key "2"
    {136, 22050, 1, 16, 0.27},  // key "3"
    {137, 22050, 1, 16, 0.26},  // key "4"
    {138, 22050, 1, 16, 0.26},  // key "5"
    {139, 22050, 1, 16, 0.25},  // key "6"
    {140, 22050, 1, 16, 0.25},  // key "7"
    {141, 22050, 1, 16, 0.25},  // key "8"
    {142, 22050, 1, 16, 0.26},  // key "9"
    {143, 22050, 1, 16, 0.24},  // key "0"
    {144, 8000, 1, 16, 0.14},   // keys "*" and "#"
    {145, 22050, 1, 8, 0.28},   // hang-up
    {147, 22050, 1, 16, 0.18},  // spare, never played
    {148, 22050, 1, 16, 0.03},  // click
    {149, 8000, 2, 16, 0.18},   // multi-party leg dialled
    {150, 8000, 2, 16, 0.18},   // spare, never played
    {151, 22050, 1, 16, 1.00},  // warning
    {152, 22050, 2, 16, 0.63},  // line registered (logged in)
    {153, 44100, 2, 16, 0.11},  // call ended
    {164, 8000, 1, 16, 3.97},   // outgoing call started (ring-back)
};

// Named cues used across the windows.
inline constexpr int kClick = 148;
inline constexpr int kHangUp = 145;
inline constexpr int kWarning = 151;
inline constexpr int kLoggedIn = 152;
inline constexpr int kCallEnded = 153;
inline constexpr int kLegDialled = 149;
inline constexpr int kRingBack = 164;
inline constexpr int kStarOrHash = 144;
// Key cue of a digit '0'..'9'.
constexpr int keyCue(char digit) { return digit == '0' ? 143 : 134 + (digit - '1'); }

inline constexpr const ClipSpec* find(int number)
{
    for (const auto& c : catalogue)
        if (c.number == number)
            return &c;
    return nullptr;
}

inline std::string wavePath(int number) { return ":/wave/" + std::to_string(number) + ".wav"; }

} // namespace velkor::cues
