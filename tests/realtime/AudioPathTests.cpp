// The audio path of the whole instrument, through the plug-in's VST calls as a host makes them:
// it allocates nothing once warmed up, and it lets no NaN, infinity or subnormal number out,
// at every usual sample rate and for blocks of 1 to 8192 frames.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/allocation/AllocationCounter.h"
#include "support/engine/BusyPatch.h"
#include "support/engine/HeadlessHost.h"

namespace
{

struct TimedEvent
{
    long frame; // from the start of the phrase
    int status;
    int data1;
    int data2;
};

// Chords that outgrow the polyphony (so notes are stolen), releases, the sustain pedal, pitch
// bend, mod wheel, channel pressure, one pad moved by host automation (in the realtime test:
// setParameter), and all notes off near the end; `unit` frames between steps.
std::vector<TimedEvent> Phrase(long unit)
{
    std::vector<TimedEvent> events;
    for (int step = 0; step < 24; ++step)
    {
        long const at = step * unit;
        int const key = 36 + (step * 7) % 48;
        events.push_back({at, 0x90, key, 60 + step});
        if (step % 2 == 0) events.push_back({at + unit / 3, 0x90, key + 4, 90});
        if (step >= 2) events.push_back({at + unit / 2, 0x80, 36 + ((step - 2) * 7) % 48, 0});
        if (step % 4 == 3)
        {
            events.push_back({at + unit / 4, 0xE0, 0, (step * 9) % 128});
            events.push_back({at + unit / 4, 0xB0, 1, (step * 13) % 128});
            events.push_back({at + unit / 5, 0xD0, (step * 17) % 128, 0});
        }
        if (step == 6) events.push_back({at, 0xB0, 64, 127});
        if (step == 14) events.push_back({at, 0xB0, 64, 0});
    }
    events.push_back({24 * unit, 0xB0, 123, 0});
    events.push_back({24 * unit + unit / 2, 0x90, 60, 100});
    events.push_back({25 * unit, 0x80, 60, 0});
    std::sort(events.begin(), events.end(),
              [](TimedEvent const& a, TimedEvent const& b) { return a.frame < b.frame; });
    return events;
}

// Drives the plug-in's record with buffers made beforehand, so that while allocations are
// counted only the plug-in's own code runs.
class Driver
{
public:
    static constexpr int kMaxEvents = 64;
    static constexpr long kMaxFrames = 8192;

    explicit Driver(float rate) : host(false, rate), left(kMaxFrames), right(kMaxFrames)
    {
        MakeBusyPatch(host.Instrument());
        for (int i = 0; i < kMaxEvents; ++i)
        {
            midi[i] = VstMidiEvent{};
            midi[i].type = kVstMidiType;
            midi[i].byteSize = static_cast<VstInt32>(sizeof(VstMidiEvent));
            block.events[i] = reinterpret_cast<VstEvent*>(&midi[i]);
        }
    }

    AEffect* Effect() { return host.Effect(); }

    // Renders the phrase from its start in blocks of `frames` (the last block may be shorter),
    // for `total` frames; returns the allocations made inside the plug-in's calls.
    std::size_t Play(std::vector<TimedEvent> const& phrase, long frames, long total,
                     std::string* dirty = nullptr)
    {
        std::size_t allocated = 0;
        std::size_t next = 0;
        for (long start = 0; start < total; start += frames)
        {
            long const n = std::min(frames, total - start);
            int queued = 0;
            while (next < phrase.size() && phrase[next].frame < start + n && queued < kMaxEvents)
            {
                TimedEvent const& e = phrase[next++];
                midi[queued].deltaFrames = static_cast<VstInt32>(std::max(0L, e.frame - start));
                midi[queued].midiData[0] = static_cast<char>(e.status);
                midi[queued].midiData[1] = static_cast<char>(e.data1);
                midi[queued].midiData[2] = static_cast<char>(e.data2);
                ++queued;
            }
            block.numEvents = queued;
            float* outputs[2] = {left.data(), right.data()};

            allocations::StartCounting();
            if (queued > 0)
                Effect()->dispatcher(Effect(), effProcessEvents, 0, 0, reinterpret_cast<VstEvents*>(&block),
                                     0.0f);
            Effect()->processReplacing(Effect(), nullptr, outputs, static_cast<VstInt32>(n));
            allocated += allocations::StopCounting();

            for (long i = 0; i < n; ++i)
                peak = std::max({peak, std::fabs(left[static_cast<std::size_t>(i)]),
                                 std::fabs(right[static_cast<std::size_t>(i)])});
            if (dirty != nullptr && dirty->empty()) *dirty = FirstBadSample(n, start);
        }
        return allocated;
    }

    // The largest |sample| since the last call.
    float TakePeak()
    {
        float const p = peak;
        peak = 0.0f;
        return p;
    }

    // Host automation of every parameter, counted like a block.
    std::size_t Automate(int round)
    {
        allocations::StartCounting();
        for (int i = 0; i < Torvane::kNumHostParameters; ++i)
            Effect()->setParameter(Effect(), i, static_cast<float>((i * 7 + round * 3) % 11) / 10.0f);
        return allocations::StopCounting();
    }

private:
    struct EventBlock
    {
        VstInt32 numEvents = 0;
        VstIntPtr reserved = 0;
        VstEvent* events[kMaxEvents] = {};
    };

    std::string FirstBadSample(long n, long start) const
    {
        for (long i = 0; i < n; ++i)
        {
            for (float v : {left[static_cast<std::size_t>(i)], right[static_cast<std::size_t>(i)]})
            {
                int const kind = std::fpclassify(v);
                if (kind == FP_NAN || kind == FP_INFINITE || kind == FP_SUBNORMAL)
                    return "sample " + std::to_string(v) + " at frame " + std::to_string(start + i);
            }
        }
        return "";
    }

    HeadlessHost host;
    VstMidiEvent midi[kMaxEvents];
    EventBlock block;
    std::vector<float> left;
    std::vector<float> right;
    float peak = 0.0f;
};

} // namespace

// Notes starting, stolen, released and held by the pedal, with all four layers, unison, noise,
// filters, modulation and all three effects on. The first run warms up (first notes, first
// blocks of a size); the second must not allocate.
TEST(RealtimeAudioPath, PlayingAllocatesNothingAfterWarmUp)
{
    Driver driver(44100.0f);
    for (long frames : {64L, 512L, 8192L})
    {
        std::vector<TimedEvent> const phrase = Phrase(frames * 3 / 2);
        long const total = 27 * frames * 3 / 2;
        std::size_t const warmUp = driver.Play(phrase, frames, total);
        driver.TakePeak();
        std::size_t const allocated = driver.Play(phrase, frames, total);
        EXPECT_EQ(allocated, 0u) << "blocks of " << frames << " frames";
        EXPECT_GT(driver.TakePeak(), 0.01f) << "the phrase is heard";
        std::printf("blocks of %ld frames: %zu allocations warming up, %zu after\n", frames, warmUp,
                    allocated);
    }
}

// The count sees allocations made through every form, and only on the counting thread.
TEST(RealtimeAudioPath, CounterSeesEveryAllocationForm)
{
    struct alignas(64) Wide
    {
        float v[16];
    };
    // Kept in volatile pointers, so the compiler can't leave the pairs out.
    int* volatile one = nullptr;
    float* volatile many = nullptr;
    Wide* volatile wide = nullptr;
    std::atomic<int> stage{0};
    std::thread other(
        [&]
        {
            while (stage.load() != 1)
                std::this_thread::yield();
            int* volatile mine = new int(2);
            delete mine;
            stage.store(2);
        });

    allocations::StartCounting();
    one = new int(1);
    many = new float[3];
    wide = new Wide;
    std::vector<int> grown(100);
    stage.store(1);
    while (stage.load() != 2)
        std::this_thread::yield();
    std::size_t const seen = allocations::StopCounting();
    other.join();
    delete one;
    delete[] many;
    delete wide;
    EXPECT_EQ(seen, 4u);
}

// Hosts call setParameter on the audio thread between blocks.
TEST(RealtimeAudioPath, HostAutomationAllocatesNothingAfterWarmUp)
{
    Driver driver(48000.0f);
    std::vector<TimedEvent> const phrase = Phrase(700);
    driver.Automate(0);
    driver.Play(phrase, 512, 8192);
    std::size_t allocated = 0;
    for (int round = 1; round < 12; ++round)
    {
        allocated += driver.Automate(round);
        allocated += driver.Play(phrase, 512, 2048);
    }
    EXPECT_EQ(allocated, 0u);
}

// Every sample is finite and normal (or zero) at every rate and block size, while the phrase
// plays and in the long tails of the delay and reverb afterwards.
TEST(RealtimeAudioPath, OutputIsFiniteAndNormalAtEveryRateAndBlockSize)
{
    for (float rate : {44100.0f, 48000.0f, 96000.0f, 192000.0f})
    {
        Driver driver(rate);
        long const unit = static_cast<long>(rate * 0.03f);
        std::vector<TimedEvent> const phrase = Phrase(unit);
        for (long frames : {1L, 2L, 3L, 17L, 64L, 100L, 511L, 512L, 1000L, 4096L, 8191L, 8192L})
        {
            // Tiny blocks cost a block's work per frame: they play the phrase's start only.
            long const total = std::min(27 * unit, frames * 3000);
            std::string dirty;
            driver.Play(phrase, frames, total, &dirty);
            EXPECT_EQ(dirty, "") << rate << " Hz, blocks of " << frames;
        }
        // Silence after all notes: the effects' tails die away (4 s).
        std::string dirty;
        driver.Play({{0, 0xB0, 123, 0}}, 4096, static_cast<long>(rate * 4.0f), &dirty);
        EXPECT_EQ(dirty, "") << rate << " Hz, in the tail";
    }
}
