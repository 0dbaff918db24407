#include "platform/sound.h"

#include "resources/cues.h"
#include "resources/resources.h"

#include <QFile>

#include <pthread.h>

namespace velkor::sound {

namespace {

std::uint32_t le32(std::string_view b, std::size_t at)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

unsigned le16(std::string_view b, std::size_t at)
{
    return static_cast<unsigned>(static_cast<unsigned char>(b[at])) |
           static_cast<unsigned>(static_cast<unsigned char>(b[at + 1])) << 8;
}

// A device that accepts nothing for this long is given up for the current clip.
constexpr auto kStallLimit = std::chrono::seconds(2);
constexpr auto kWriteWait = std::chrono::milliseconds(20);
constexpr auto kTailPoll = std::chrono::milliseconds(10);

} // namespace

std::optional<Clip> parseWav(std::string_view b)
{
    if (b.size() < 12 || b.substr(0, 4) != "RIFF" || b.substr(8, 4) != "WAVE")
        return std::nullopt;
    std::optional<PcmFormat> format;
    std::optional<std::string_view> data;
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string_view id = b.substr(at, 4);
        const std::size_t size = le32(b, at + 4);
        const std::size_t body = at + 8;
        const std::size_t available = std::min(size, b.size() - body);
        if (id == "fmt " && available >= 16) {
            const unsigned tag = le16(b, body), channels = le16(b, body + 2);
            const unsigned rate = le32(b, body + 4), align = le16(b, body + 12);
            const unsigned bits = le16(b, body + 14);
            if (tag != 1 || (channels != 1 && channels != 2) || (bits != 8 && bits != 16) ||
                rate == 0 || rate > 384000 || align != channels * bits / 8)
                return std::nullopt;
            format = PcmFormat{rate, channels, bits};
        } else if (id == "data") {
            data = b.substr(body, available);
        }
        if (size > b.size() - body)
            break;
        at = body + size + (size & 1);
    }
    if (!format || !data)
        return std::nullopt;
    Clip clip;
    clip.format = *format;
    const std::size_t whole = data->size() - data->size() % format->bytesPerFrame();
    clip.data.assign(data->begin(), data->begin() + static_cast<std::ptrdiff_t>(whole));
    return clip;
}

std::optional<Clip> loadCue(int number)
{
    if (!cues::find(number))
        return std::nullopt;
    initResources();
    QFile file(QString::fromStdString(cues::wavePath(number)));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    return parseWav(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

CuePlayer::CuePlayer(std::string device) : CuePlayer(makeAlsaOutput(std::move(device))) {}

CuePlayer::CuePlayer(std::unique_ptr<PcmOutput> output) : output_(std::move(output))
{
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "velkor-cues");
        run();
    });
}

CuePlayer::~CuePlayer()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void CuePlayer::play(int number)
{
    {
        std::lock_guard lock(mutex_);
        ++stats_.requested;
        pending_ = number;  // replaces a cue that has not started yet
    }
    wake_.notify_all();
}

bool CuePlayer::waitIdle(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return !busy_ && !pending_; });
}

CuePlayer::Stats CuePlayer::stats() const
{
    std::lock_guard lock(mutex_);
    return stats_;
}

bool CuePlayer::interrupted()
{
    std::lock_guard lock(mutex_);
    return stopping_ || pending_.has_value();
}

const Clip* CuePlayer::clip(int number)
{
    auto it = clips_.find(number);
    if (it == clips_.end())
        it = clips_.emplace(number, loadCue(number)).first;
    return it->second ? &*it->second : nullptr;
}

void CuePlayer::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || pending_; });
        if (stopping_)
            break;
        const int number = *pending_;
        pending_.reset();
        busy_ = true;
        lock.unlock();
        playOne(number);
        lock.lock();
        busy_ = false;
        if (!pending_)
            idle_.notify_all();
    }
    busy_ = false;
    pending_.reset();
    idle_.notify_all();
}

void CuePlayer::playOne(int number)
{
    auto count = [this](int Stats::*field) {
        std::lock_guard lock(mutex_);
        ++(stats_.*field);
    };
    const Clip* c = clip(number);
    if (!c) {
        count(&Stats::missing);
        return;
    }
    if (!output_->open(c->format)) {
        count(&Stats::noDevice);
        return;
    }
    count(&Stats::started);
    auto stop = [&](int Stats::*field) {
        output_->drop();
        output_->close();
        count(field);
    };

    const long total = c->frames();
    const unsigned frameBytes = c->format.bytesPerFrame();
    long done = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    while (done < total) {
        if (interrupted())
            return stop(&Stats::interrupted);
        const long n = output_->write(c->data.data() + done * frameBytes, total - done, kWriteWait);
        const auto now = std::chrono::steady_clock::now();
        if (n < 0 || (n == 0 && now - lastProgress > kStallLimit))
            return stop(&Stats::failed);
        if (n > 0) {
            done += n;
            lastProgress = now;
        }
    }

    // Let the queued tail sound out; a newer cue still cuts it short.
    long left = output_->queued();
    lastProgress = std::chrono::steady_clock::now();
    while (left > 0) {
        {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, kTailPoll, [this] { return stopping_ || pending_; })) {
                lock.unlock();
                return stop(&Stats::interrupted);
            }
        }
        const long now = output_->queued();
        if (now < left)
            lastProgress = std::chrono::steady_clock::now();
        else if (std::chrono::steady_clock::now() - lastProgress > kStallLimit)
            return stop(&Stats::failed);
        left = now;
    }
    output_->close();
    count(&Stats::completed);
}

} // namespace velkor::sound
