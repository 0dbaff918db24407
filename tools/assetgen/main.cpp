// Makes the program's assets: the sound cues (synthesised tones in the formats of
// the cue catalogue), the progress bitmaps and the icon, plus the Qt resource list
// that embeds them. Usage: velkor_assetgen OUTPUT_DIR
#include "resources/cues.h"

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using velkor::cues::ClipSpec;

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// One channel of samples in -1..1.
using Signal = std::vector<double>;

// A tone of the sum of `freqs` from `start` for `length` seconds with a short
// attack, a flat part and an exponential decay, added into `s`.
void addTone(Signal& s, int rate, double start, double length, std::vector<double> freqs,
             double level, double decay = 0.0, double attack = 0.004)
{
    const long first = std::lround(start * rate);
    const long count = std::lround(length * rate);
    const double release = std::min(0.012, length / 3);
    for (long i = 0; i < count && first + i < static_cast<long>(s.size()); ++i) {
        const double t = static_cast<double>(i) / rate;
        double env = std::min(1.0, t / attack) * std::min(1.0, (length - t) / release);
        if (decay > 0)
            env *= std::exp(-t / decay);
        double v = 0;
        for (double f : freqs)
            v += std::sin(kTwoPi * f * t) + 0.08 * std::sin(kTwoPi * 2 * f * t);
        s[first + i] += level * env * v / freqs.size();
    }
}

// A tone whose pitch glides from f0 to f1.
void addGlide(Signal& s, int rate, double start, double length, double f0, double f1,
              double level, double decay)
{
    const long first = std::lround(start * rate);
    const long count = std::lround(length * rate);
    double phase = 0;
    for (long i = 0; i < count && first + i < static_cast<long>(s.size()); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double f = f0 + (f1 - f0) * t / length;
        phase += kTwoPi * f / rate;
        const double env = std::min(1.0, t / 0.003) * std::min(1.0, (length - t) / 0.01) *
                           std::exp(-t / decay);
        s[first + i] += level * env * std::sin(phase);
    }
}

struct Clip {
    ClipSpec spec;
    std::vector<Signal> channels;
};

Clip blank(const ClipSpec& spec)
{
    return Clip{spec, std::vector<Signal>(spec.channels, Signal(spec.frames(), 0.0))};
}

// The DTMF pair of a key, so each key sounds like the tone a telephone sends.
std::vector<double> dtmf(char key)
{
    static const double rows[] = {697, 770, 852, 941};
    static const double cols[] = {1209, 1336, 1477};
    const std::string layout = "123456789*0#";
    const auto i = layout.find(key);
    return {rows[i / 3], cols[i % 3]};
}

Clip synthesise(const ClipSpec& spec)
{
    Clip c = blank(spec);
    const int r = spec.rate;
    Signal& m = c.channels[0];
    const double len = spec.seconds;
    switch (spec.number) {
    case 134: case 135: case 136: case 137: case 138:
    case 139: case 140: case 141: case 142: case 143: {
        const char key = spec.number == 143 ? '0' : static_cast<char>('1' + spec.number - 134);
        addTone(m, r, 0, len, dtmf(key), 0.5, 0.09);
        break;
    }
    case 144:
        addTone(m, r, 0, len, dtmf('*'), 0.5, 0.06);
        break;
    case 145:  // hang-up: two falling notes
        addTone(m, r, 0, 0.13, {622}, 0.55, 0.08);
        addTone(m, r, 0.14, 0.14, {466}, 0.55, 0.08);
        break;
    case 147:
        addTone(m, r, 0, len, {1046.5}, 0.4, 0.05);
        break;
    case 148:  // click: a very short bright tick
        addTone(m, r, 0, len, {2200, 3300}, 0.6, 0.006, 0.0008);
        break;
    case 149:  // leg dialled: two quick beeps
    case 150:
        for (auto& ch : c.channels) {
            addTone(ch, r, 0, 0.07, {880}, 0.45, 0.08);
            if (spec.number == 149)
                addTone(ch, r, 0.1, 0.07, {1175}, 0.45, 0.08);
        }
        break;
    case 151:  // warning: two alternating notes, twice, then quiet
        for (int i = 0; i < 2; ++i) {
            addTone(m, r, i * 0.4, 0.16, {880}, 0.5, 0.3);
            addTone(m, r, i * 0.4 + 0.18, 0.16, {659.25}, 0.5, 0.3);
        }
        break;
    case 152: {  // logged in: a rising chime, moving from left to right
        const double notes[] = {523.25, 659.25, 783.99, 1046.5};
        for (int i = 0; i < 4; ++i) {
            const double start = i * 0.1;
            const double pan = i / 3.0;
            addTone(c.channels[0], r, start, len - start, {notes[i]}, 0.42 * (1.2 - 0.6 * pan), 0.16);
            addTone(c.channels[1], r, start, len - start, {notes[i]}, 0.42 * (0.6 + 0.6 * pan), 0.16);
        }
        break;
    }
    case 153:  // call ended: a short falling blip
        for (auto& ch : c.channels)
            addGlide(ch, r, 0, len, 740, 392, 0.5, 0.06);
        break;
    case 164:  // ring-back: one second of 450 Hz, then the pause of the cadence
        addTone(m, r, 0, 1.0, {450}, 0.35, 0.0, 0.01);
        break;
    default:
        break;
    }
    return c;
}

void put16(std::string& out, unsigned v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::string wavFile(const Clip& c)
{
    const auto& s = c.spec;
    const unsigned blockAlign = s.channels * s.bits / 8;
    std::string data;
    for (long i = 0; i < s.frames(); ++i)
        for (const auto& ch : c.channels) {
            const double v = std::clamp(ch[i], -1.0, 1.0);
            if (s.bits == 8)
                data += static_cast<char>(static_cast<std::uint8_t>(std::lround(128 + v * 127)));
            else
                put16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767))));
        }
    std::string out = "RIFF";
    put32(out, static_cast<std::uint32_t>(36 + data.size()));
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1);  // PCM
    put16(out, s.channels);
    put32(out, s.rate);
    put32(out, s.rate * blockAlign);
    put16(out, blockAlign);
    put16(out, s.bits);
    out += "data";
    put32(out, static_cast<std::uint32_t>(data.size()));
    return out + data;
}

// One frame of the progress picture: diagonal stripes in a rounded blue bar,
// moved by `shift` pixels (the frames shift by a third of the stripe period).
QImage progressFrame(int shift)
{
    constexpr int w = 144, h = 14, period = 12;
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(QColor(0xEF, 0xEF, 0xEF));  // the dialog's light grey
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            const bool dark = ((x - shift + y + 4 * period) % period) < period / 2;
            // lighter towards the top, as if lit from above
            const double light = 1.0 + 0.35 * (1.0 - static_cast<double>(y) / (h - 2));
            const QColor base = dark ? QColor(0x2F, 0x7A, 0xD4) : QColor(0x6F, 0xA8, 0xEA);
            img.setPixelColor(x, y, QColor(std::min(255, static_cast<int>(base.red() * light)),
                                           std::min(255, static_cast<int>(base.green() * light)),
                                           std::min(255, static_cast<int>(base.blue() * light))));
        }
    const QColor border(0x7A, 0x8C, 0xA6);
    for (int x = 1; x < w - 1; ++x) {
        img.setPixelColor(x, 0, border);
        img.setPixelColor(x, h - 1, border);
    }
    for (int y = 1; y < h - 1; ++y) {
        img.setPixelColor(0, y, border);
        img.setPixelColor(w - 1, y, border);
    }
    return img;
}

// 24-bit bottom-up BMP.
std::string bmpFile(const QImage& img)
{
    const int w = img.width(), h = img.height();
    const int stride = (w * 3 + 3) & ~3;
    std::string out = "BM";
    put32(out, static_cast<std::uint32_t>(54 + stride * h));
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(w));
    put32(out, static_cast<std::uint32_t>(h));
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);  // no compression
    put32(out, static_cast<std::uint32_t>(stride * h));
    put32(out, 2835);  // 72 dpi
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const QColor c = img.pixelColor(x, y);
            out += static_cast<char>(c.blue());
            out += static_cast<char>(c.green());
            out += static_cast<char>(c.red());
        }
        out.append(static_cast<std::size_t>(stride - w * 3), '\0');
    }
    return out;
}

// The icon: a white handset on a blue rounded square.
QImage icon()
{
    QImage img(64, 64, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, QColor(0x4A, 0x9B, 0xF0));
    g.setColorAt(1, QColor(0x17, 0x5C, 0xC2));
    p.setPen(QPen(QColor(0x12, 0x4A, 0x9C), 1.5));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(2.5, 2.5, 59, 59), 13, 13);

    // Handset: a quarter-ring handle, ear cup at its upper end, mouth cup at its lower end.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    const QPointF c(44, 20);
    const double outer = 27, inner = 17;
    QPainterPath handle;
    handle.arcMoveTo(QRectF(c.x() - outer, c.y() - outer, 2 * outer, 2 * outer), 180);
    handle.arcTo(QRectF(c.x() - outer, c.y() - outer, 2 * outer, 2 * outer), 180, 90);
    handle.arcTo(QRectF(c.x() - inner, c.y() - inner, 2 * inner, 2 * inner), 270, -90);
    handle.closeSubpath();
    p.drawPath(handle);
    p.drawRoundedRect(QRectF(13, 11, 19, 13), 5, 5);  // ear cup
    p.drawRoundedRect(QRectF(40, 36, 13, 19), 5, 5);  // mouth cup
    p.end();
    return img;
}

bool writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    for (const char* sub : {"wave", "bitmap", "icon"})
        fs::create_directories(out / sub);

    std::string qrc = "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/\">\n";
    bool ok = true;
    for (const auto& spec : velkor::cues::catalogue) {
        const std::string name = "wave/" + std::to_string(spec.number) + ".wav";
        ok &= writeFile(out / name, wavFile(synthesise(spec)));
        qrc += "  <file>" + name + "</file>\n";
    }
    // Shown in the order 157, 155, 158: each moves the stripes on by a third.
    const std::pair<int, int> frames[] = {{157, 0}, {155, 4}, {158, 8}};
    for (auto [number, shift] : frames) {
        const std::string name = "bitmap/" + std::to_string(number) + ".bmp";
        ok &= writeFile(out / name, bmpFile(progressFrame(shift)));
        qrc += "  <file>" + name + "</file>\n";
    }
    ok &= icon().save(QString::fromStdString((out / "icon/128.png").string()), "PNG");
    qrc += "  <file>icon/128.png</file>\n</qresource>\n</RCC>\n";
    ok &= writeFile(out / "velkor_assets.qrc", qrc);
    if (!ok) {
        std::fprintf(stderr, "cannot write the assets to %s\n", out.c_str());
        return 1;
    }
    return 0;
}
