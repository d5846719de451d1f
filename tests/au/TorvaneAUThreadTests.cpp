// Two host threads on one Torvane Audio Unit: parameters and class info on one, render, notes
// and MIDI on the other (run under ThreadSanitizer by tools/tsan.sh).

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "au/AUComponentEntry.h"
#include "authost/AUHost.h"
#include "engine/Torvane.h"

namespace
{
OSStatus TorvaneEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<Torvane>(params, storage);
}
} // namespace

TEST(TorvaneAUConcurrent, ParametersAndClassInfoWhileRendering)
{
    ComponentDescription d;
    d.componentType = ComponentCode("aumu");
    d.componentSubType = ComponentCode("Trv1");
    d.componentManufacturer = ComponentCode("CvlA");
    AUHost host(44100.0, 256);
    ASSERT_TRUE(host.Open(&TorvaneEntry, d)) << host.GetError();
    std::vector<std::uint8_t> const state = host.GetState();
    ASSERT_FALSE(state.empty());

    std::atomic<bool> done{false};
    std::atomic<bool> finite{true};
    std::thread audio(
        [&]
        {
            std::vector<float> left(256), right(256);
            for (int block = 0; block < 400; ++block)
            {
                int const note = 48 + block % 24;
                host.StartNote(static_cast<float>(note), 100.0f, 10);
                host.MIDIEvent(0xB0, 1, static_cast<UInt32>(block % 128), 20);
                host.MIDIEvent(0xE0, 0, static_cast<UInt32>(block % 128), 30);
                if (host.RenderBlock(256, left.data(), right.data()) != noErr) finite = false;
                host.StopNote(static_cast<NoteInstanceID>(note), 200);
                for (std::size_t i = 0; i < left.size(); ++i)
                {
                    if (!std::isfinite(left[i]) || !std::isfinite(right[i])) finite = false;
                }
            }
            done = true;
        });
    int rounds = 0;
    while (!done || rounds < 20)
    {
        UInt32 const id = static_cast<UInt32>(rounds % 40);
        host.SetParameter(id, static_cast<float>(rounds % 11) / 10.0f);
        host.GetParameter(id);
        host.DescribeParameter(id);
        if (rounds % 5 == 0) host.GetState();
        if (rounds % 7 == 0) host.SetState(state);
        ++rounds;
    }
    audio.join();
    EXPECT_TRUE(finite);
    EXPECT_GT(rounds, 0);
}
