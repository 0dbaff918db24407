#include "tools/local-service/prompt.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <sstream>

namespace velkor::local {
namespace {

uint32_t le32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return u[0] | (u[1] << 8) | (u[2] << 16) | (static_cast<uint32_t>(u[3]) << 24);
}

uint16_t le16(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint16_t>(u[0] | (u[1] << 8));
}

} // namespace

std::optional<std::vector<int16_t>> decodeWav8k(std::string_view b)
{
    if (b.size() < 12 || b.substr(0, 4) != "RIFF" || b.substr(8, 4) != "WAVE")
        return std::nullopt;
    uint32_t rate = 0;
    uint16_t channels = 0, bits = 0, format = 0;
    std::string_view data;
    bool haveData = false;
    for (size_t pos = 12; pos + 8 <= b.size();) {
        const std::string_view id = b.substr(pos, 4);
        const uint32_t size = le32(b.data() + pos + 4);
        const size_t body = pos + 8;
        const size_t avail = std::min<size_t>(size, b.size() - body);
        if (id == "fmt " && avail >= 16) {
            format = le16(b.data() + body);
            channels = le16(b.data() + body + 2);
            rate = le32(b.data() + body + 4);
            bits = le16(b.data() + body + 14);
        } else if (id == "data") {
            data = b.substr(body, avail);  // a writer that never set the size leaves 0 or too much
            if (size == 0 || size == 0xFFFFFFFF)
                data = b.substr(body);
            haveData = true;
            break;
        }
        pos = body + size + (size & 1);
    }
    if (!haveData || format != 1 || bits != 16 || channels == 0 || rate < 1000 || rate > 192000)
        return std::nullopt;

    const size_t frames = data.size() / (2u * channels);
    std::vector<double> mono(frames);
    for (size_t i = 0; i < frames; ++i) {
        double sum = 0;
        for (size_t c = 0; c < channels; ++c)
            sum += static_cast<int16_t>(le16(data.data() + 2 * (i * channels + c)));
        mono[i] = sum / channels;
    }
    // Down to 8 kHz: each output sample is the mean of the input samples of
    // its period (a box filter keeps most of the aliasing out of speech).
    const double step = rate / 8000.0;
    const auto outFrames = static_cast<size_t>(static_cast<double>(frames) / step);
    std::vector<int16_t> out(outFrames);
    for (size_t i = 0; i < outFrames; ++i) {
        const double from = i * step;
        const double to = from + std::max(step, 1.0);
        double sum = 0;
        int n = 0;
        for (auto k = static_cast<size_t>(from); k < frames && static_cast<double>(k) < to; ++k, ++n)
            sum += mono[k];
        out[i] = static_cast<int16_t>(n ? std::lround(sum / n) : 0);
    }
    return out;
}

std::optional<std::vector<int16_t>> readWav8k(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return std::nullopt;
    std::ostringstream s;
    s << f.rdbuf();
    return decodeWav8k(s.str());
}

std::vector<int16_t> beepPrompt()
{
    std::vector<int16_t> out;
    for (double hz : {523.25, 659.25, 783.99}) {
        for (int i = 0; i < 1600; ++i) {  // 200 ms, with 10 ms fades against clicks
            const double fade = std::min({1.0, i / 80.0, (1600 - i) / 80.0});
            out.push_back(static_cast<int16_t>(8000 * fade * std::sin(2 * std::numbers::pi * hz * i / 8000)));
        }
        out.insert(out.end(), 800, 0);  // 100 ms pause
    }
    return out;
}

} // namespace velkor::local
