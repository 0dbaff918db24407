#include "platform/sound.h"
#include "resources/cues.h"
#include "resources/resources.h"

#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace velkor;

namespace {

// Sample i of channel ch in -1..1.
double sample(const sound::Clip& c, long i, unsigned ch)
{
    const unsigned at = static_cast<unsigned>(i) * c.format.bytesPerFrame() + ch * c.format.bits / 8;
    if (c.format.bits == 8)
        return (c.data[at] - 128) / 128.0;
    return static_cast<std::int16_t>(c.data[at] | c.data[at + 1] << 8) / 32768.0;
}

QByteArray resource(const char* path)
{
    initResources();
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// Every clip of the catalogue is embedded in its format and length, audible,
// unclipped, and starts and ends near silence (no click at either end).
TEST(Cues, CatalogueClipsAreEmbeddedAsSpecified)
{
    EXPECT_EQ(std::size(cues::catalogue), 20u);
    for (const auto& spec : cues::catalogue) {
        SCOPED_TRACE(spec.number);
        const auto clip = sound::loadCue(spec.number);
        ASSERT_TRUE(clip);
        EXPECT_EQ(clip->format, (sound::PcmFormat{static_cast<unsigned>(spec.rate),
                                                  static_cast<unsigned>(spec.channels),
                                                  static_cast<unsigned>(spec.bits)}));
        EXPECT_NEAR(static_cast<double>(clip->frames()) / spec.rate, spec.seconds, 0.5 / spec.rate + 1e-9);
        double peak = 0;
        for (long i = 0; i < clip->frames(); ++i)
            for (unsigned ch = 0; ch < clip->format.channels; ++ch)
                peak = std::max(peak, std::abs(sample(*clip, i, ch)));
        EXPECT_GT(peak, 0.15);
        EXPECT_LT(peak, 0.99);
        for (unsigned ch = 0; ch < clip->format.channels; ++ch) {
            EXPECT_LT(std::abs(sample(*clip, 0, ch)), 0.05);
            EXPECT_LT(std::abs(sample(*clip, clip->frames() - 1, ch)), 0.05);
        }
    }
}

TEST(Cues, NumbersWithoutAClip)
{
    for (int n : {146, 154, 155, 157, 160, 163, 165, 0, -1, 100000}) {
        EXPECT_FALSE(cues::find(n)) << n;
        EXPECT_FALSE(sound::loadCue(n)) << n;
    }
    EXPECT_EQ(cues::keyCue('1'), 134);
    EXPECT_EQ(cues::keyCue('9'), 142);
    EXPECT_EQ(cues::keyCue('0'), 143);
}

// The three progress frames: 144 x 14 24-bit BMPs, each different from the others.
TEST(Bitmaps, ProgressFrames)
{
    std::set<QByteArray> distinct;
    for (const char* path : {":/bitmap/157.bmp", ":/bitmap/155.bmp", ":/bitmap/158.bmp"}) {
        SCOPED_TRACE(path);
        const QByteArray bytes = resource(path);
        ASSERT_GE(bytes.size(), 54);
        EXPECT_EQ(bytes.left(2), "BM");
        EXPECT_EQ(static_cast<unsigned char>(bytes[28]), 24u) << "bits per pixel";
        QImage img;
        ASSERT_TRUE(img.loadFromData(bytes, "BMP"));
        EXPECT_EQ(img.size(), QSize(144, 14));
        distinct.insert(bytes);
    }
    EXPECT_EQ(distinct.size(), 3u);
}

TEST(Bitmaps, Icon)
{
    QImage img;
    ASSERT_TRUE(img.loadFromData(resource(":/icon/128.png"), "PNG"));
    EXPECT_EQ(img.size(), QSize(64, 64));
    EXPECT_TRUE(img.hasAlphaChannel());
}

TEST(Wav, ParsesOnlyWellFormedPcm)
{
    auto le = [](std::uint32_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += static_cast<char>((v >> (8 * i)) & 0xFF);
        return s;
    };
    auto fmt = [&](unsigned tag, unsigned ch, unsigned rate, unsigned bits) {
        return "fmt " + le(16, 4) + le(tag, 2) + le(ch, 2) + le(rate, 4) + le(rate * ch * bits / 8, 4) +
               le(ch * bits / 8, 2) + le(bits, 2);
    };
    auto data = [&](const std::string& d, std::uint32_t claimed) { return "data" + le(claimed, 4) + d; };
    auto riff = [&](const std::string& chunks) { return "RIFF" + le(4 + chunks.size(), 4) + "WAVE" + chunks; };
    const std::string pcm("\x01\x00\x02\x00\x03\x00", 6);

    struct Case { std::string file; bool ok; long frames; } cases[] = {
        {riff(fmt(1, 1, 8000, 16) + data(pcm, 6)), true, 3},
        {riff(data(pcm, 6) + fmt(1, 1, 8000, 16)), true, 3},                        // any chunk order
        {riff("LIST" + le(3, 4) + "abc" + std::string(1, '\0') + fmt(1, 1, 8000, 16) + data(pcm, 6)), true, 3},  // padded chunk
        {riff(fmt(1, 1, 8000, 16) + data(pcm, 600)), true, 3},                      // claims more than there is
        {riff(fmt(1, 1, 8000, 16) + data(pcm + "\x04", 7)), true, 3},               // half a frame dropped
        {riff(fmt(1, 2, 8000, 16) + data(pcm, 6)), true, 1},
        {riff(fmt(3, 1, 8000, 32) + data(pcm, 6)), false, 0},                       // float
        {riff(fmt(1, 1, 8000, 24) + data(pcm, 6)), false, 0},
        {riff(fmt(1, 3, 8000, 16) + data(pcm, 6)), false, 0},
        {riff(fmt(1, 1, 0, 16) + data(pcm, 6)), false, 0},
        {riff(fmt(1, 1, 8000, 16)), false, 0},
        {riff(data(pcm, 6)), false, 0},
        {"RIFF", false, 0},
        {"", false, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto clip = sound::parseWav(cases[i].file);
        EXPECT_EQ(clip.has_value(), cases[i].ok) << i;
        if (clip) {
            EXPECT_EQ(clip->frames(), cases[i].frames) << i;
        }
    }
}
