#include "platform/sound.h"
#include "resources/cues.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>

using namespace velkor;
using namespace std::chrono_literals;
using sound::CuePlayer;

namespace {

// A sound device the test controls: it accepts only as many frames as the test
// allows and records what the player did with it.
struct FakeDevice {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;  // "open RATE/CH/BITS", "drop", "close"
    std::vector<long> written;        // frames accepted, per open
    long budget = LONG_MAX;
    bool openOk = true;

    void allow(long frames)
    {
        std::lock_guard lock(mutex);
        budget = frames;
        changed.notify_all();
    }
    bool waitFor(const std::string& event)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] {
            return std::find(events.begin(), events.end(), event) != events.end();
        });
    }
    std::vector<std::string> log()
    {
        std::lock_guard lock(mutex);
        return events;
    }
};

class FakeOutput final : public sound::PcmOutput {
public:
    explicit FakeOutput(std::shared_ptr<FakeDevice> d) : d_(std::move(d)) {}
    bool open(const sound::PcmFormat& f) override
    {
        std::lock_guard lock(d_->mutex);
        if (!d_->openOk)
            return false;
        d_->events.push_back("open " + std::to_string(f.rate) + "/" + std::to_string(f.channels) +
                             "/" + std::to_string(f.bits));
        d_->written.push_back(0);
        d_->changed.notify_all();
        return true;
    }
    long write(const std::uint8_t*, long frames, std::chrono::milliseconds wait) override
    {
        std::unique_lock lock(d_->mutex);
        d_->changed.wait_for(lock, wait, [&] { return d_->budget > 0; });
        const long take = std::min(frames, d_->budget);
        d_->budget -= take;
        d_->written.back() += take;
        return take;
    }
    long queued() override { return 0; }
    void drop() override { record("drop"); }
    void close() override { record("close"); }

private:
    void record(const char* e)
    {
        std::lock_guard lock(d_->mutex);
        d_->events.push_back(e);
        d_->changed.notify_all();
    }
    std::shared_ptr<FakeDevice> d_;
};

long framesOf(int number)
{
    return cues::find(number)->frames();
}

} // namespace

TEST(CuePlayer, ANewCueStopsTheSoundingOne)
{
    auto device = std::make_shared<FakeDevice>();
    device->allow(0);
    CuePlayer player(std::make_unique<FakeOutput>(device));
    player.play(cues::kRingBack);
    ASSERT_TRUE(device->waitFor("open 8000/1/16"));
    player.play(cues::kClick);
    ASSERT_TRUE(device->waitFor("open 22050/1/16"));
    device->allow(LONG_MAX);
    ASSERT_TRUE(player.waitIdle(10s));

    EXPECT_EQ(device->log(), (std::vector<std::string>{"open 8000/1/16", "drop", "close",
                                                       "open 22050/1/16", "close"}));
    std::lock_guard lock(device->mutex);
    EXPECT_EQ(device->written, (std::vector<long>{0, framesOf(cues::kClick)}))
        << "the second cue plays once, whole";
    const auto s = player.stats();
    EXPECT_EQ(s.interrupted, 1);
    EXPECT_EQ(s.completed, 1);
}

TEST(CuePlayer, NumbersWithoutAClipAndMissingDevicesAreSilent)
{
    auto device = std::make_shared<FakeDevice>();
    {
        CuePlayer player(std::make_unique<FakeOutput>(device));
        player.play(146);
        ASSERT_TRUE(player.waitIdle(10s));
        EXPECT_TRUE(device->log().empty());
        EXPECT_EQ(player.stats().missing, 1);

        {
            std::lock_guard lock(device->mutex);
            device->openOk = false;  // no device
        }
        player.play(cues::kWarning);
        ASSERT_TRUE(player.waitIdle(10s));
        EXPECT_EQ(player.stats().noDevice, 1);
    }
    // The real ALSA path with a device that does not exist.
    CuePlayer alsa("velkor-no-such-device");
    alsa.play(cues::kWarning);
    alsa.play(cues::kLoggedIn);
    ASSERT_TRUE(alsa.waitIdle(10s));
    const auto s = alsa.stats();
    EXPECT_EQ(s.started, 0);
    EXPECT_GE(s.noDevice, 1);
}

// ALSA's "null" device takes the frames at once: the clip is played through the
// real output code to its end.
TEST(CuePlayer, PlaysThroughAlsaToTheEnd)
{
    CuePlayer player("null");
    for (int n : {cues::kClick, 145, 149, 153}) {  // mono, 8-bit, stereo, 44.1 kHz
        player.play(n);
        ASSERT_TRUE(player.waitIdle(10s));
    }
    const auto s = player.stats();
    EXPECT_EQ(s.completed, 4);
    EXPECT_EQ(s.failed, 0);
}

TEST(CuePlayer, DestroyedWhilePlayingOrWaiting)
{
    auto device = std::make_shared<FakeDevice>();
    device->allow(0);  // the device never takes anything
    auto player = std::make_unique<CuePlayer>(std::make_unique<FakeOutput>(device));
    player->play(cues::kRingBack);
    ASSERT_TRUE(device->waitFor("open 8000/1/16"));
    player->play(cues::kWarning);  // may or may not have started
    player.reset();
    const auto log = device->log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.back(), "close");
    EXPECT_EQ(std::count(log.begin(), log.end(), "close"),
              std::count_if(log.begin(), log.end(), [](auto& e) { return e.starts_with("open"); }));

    // A player that never played anything ends at once too.
    CuePlayer idle(std::make_unique<FakeOutput>(device));
}

// Calls from several threads at once, on the fake and on ALSA's null device.
TEST(CuePlayer, RapidCallsFromSeveralThreads)
{
    auto device = std::make_shared<FakeDevice>();
    std::vector<std::unique_ptr<CuePlayer>> players;
    players.push_back(std::make_unique<CuePlayer>(std::make_unique<FakeOutput>(device)));
    players.push_back(std::make_unique<CuePlayer>("null"));
    const int numbers[] = {134, 143, 144, 145, 146, 148, 151, 152, 153, 164, 0};
    for (auto& player : players) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                std::minstd_rand rng(static_cast<unsigned>(t));
                for (int i = 0; i < 100; ++i)
                    player->play(numbers[rng() % std::size(numbers)]);
            });
        for (auto& t : threads)
            t.join();
        player->play(cues::kClick);
        ASSERT_TRUE(player->waitIdle(20s));
        const auto s = player->stats();
        EXPECT_EQ(s.requested, 401);
        EXPECT_EQ(s.started, s.completed + s.interrupted + s.failed);
        EXPECT_GE(s.completed, 1) << "the last cue plays to its end";
    }
    players.clear();
    const auto log = device->log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "close"),
              std::count_if(log.begin(), log.end(), [](auto& e) { return e.starts_with("open"); }));
}
