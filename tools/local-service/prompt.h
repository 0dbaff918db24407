// The far end's spoken or sounded prompt as 16-bit mono samples at 8 kHz.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::local {

// A PCM WAV file (16-bit, any rate and channel count) mixed to mono and
// resampled to 8 kHz; nullopt when it is not such a file.
std::optional<std::vector<int16_t>> readWav8k(const std::string& path);
std::optional<std::vector<int16_t>> decodeWav8k(std::string_view bytes);

// Three rising beeps (about a second), the prompt when no voice file is given.
std::vector<int16_t> beepPrompt();

} // namespace velkor::local
