// The audio path of the Audio Unit build: the whole instrument on the Audio Unit engine
// variant, driven through its component calls as a host makes them, allocates nothing once
// warmed up (notes, MIDI, host automation and render, long blocks in pieces included) and lets
// no NaN or infinity out.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "au/AUComponentEntry.h"
#include "authost/AUHost.h"
#include "engine/Torvane.h"
#include "support/allocation/AllocationCounter.h"
#include "support/engine/BusyPatch.h"

namespace
{

OSStatus TorvaneEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<Torvane>(params, storage);
}

// One phrase of notes, controllers and automation in blocks of `frames`; the allocations made
// inside the unit's calls.
std::size_t Play(AUHost& host, UInt32 frames, int blocks, std::vector<float>& left, std::vector<float>& right,
                 bool& finite)
{
    std::size_t allocated = 0;
    for (int b = 0; b < blocks; ++b)
    {
        int const key = 36 + (b * 7) % 48;
        allocations::StartCounting();
        host.StartNote(static_cast<float>(key), 90.0f, 0);
        host.MIDIEvent(0x90, static_cast<UInt32>(key + 4), 70, frames / 2);
        host.MIDIEvent(0xB0, 1, static_cast<UInt32>(b * 13 % 128), frames / 3);
        host.MIDIEvent(0xE0, 0, static_cast<UInt32>(b * 9 % 128), frames / 4);
        host.MIDIEvent(0xB0, 64, b % 4 < 2 ? 127u : 0u, 0);
        if (b >= 2) host.StopNote(static_cast<NoteInstanceID>(36 + ((b - 2) * 7) % 48), frames - 1);
        host.SetParameter(static_cast<UInt32>(b % 40), static_cast<float>((b * 7) % 11) / 10.0f);
        host.RenderBlock(frames, left.data(), right.data());
        allocated += allocations::StopCounting();
        for (UInt32 i = 0; i < frames; ++i)
            finite = finite && std::isfinite(left[i]) && std::isfinite(right[i]);
    }
    return allocated;
}

} // namespace

TEST(AUAudioPath, NoAllocationAfterWarmUpInAnyBlockSize)
{
    // The instruments keep their folders below a temporary data folder.
    std::filesystem::path const folder =
        std::filesystem::temp_directory_path() / ("torvane-au-realtime-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    // The counter sees this thread's allocations.
    allocations::StartCounting();
    auto const probe = std::make_unique<int>(1);
    ASSERT_EQ(allocations::StopCounting(), 1u);

    ComponentDescription d;
    d.componentType = ComponentCode("aumu");
    d.componentSubType = ComponentCode("Trv1");
    d.componentManufacturer = ComponentCode("CvlA");
    for (UInt32 frames : {1u, 64u, 512u, 8192u, 20000u})
    {
        AUHost host(44100.0, frames);
        ASSERT_TRUE(host.Open(&TorvaneEntry, d)) << host.GetError();
        MakeBusyPatch(*static_cast<Torvane*>(host.GetUnit()->storage));
        std::vector<float> left(frames), right(frames);
        bool finite = true;
        int const blocks = frames < 64 ? 400 : 24;
        Play(host, frames, blocks, left, right, finite); // warm-up
        EXPECT_EQ(Play(host, frames, blocks, left, right, finite), 0u) << frames;
        EXPECT_TRUE(finite) << frames;
        host.Close();
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
