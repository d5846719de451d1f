#pragma once

// Helpers for tests that load a plug-in library and talk to it as a host does: through the
// record's function pointers and the headless host.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/AudioChecks.h"
#include "testsynth/TestSynthProbe.h"
#include "vsthost/VstHost.h"

inline std::string TestSynthPath()
{
    return TORVANE_TEST_SYNTH_PATH;
}

// Opens the test synth; fails the test when it cannot.
inline void OpenTestSynth(VstHost& host)
{
    ASSERT_TRUE(host.Open(TestSynthPath())) << host.GetError();
}

inline TestSynthProbe Probe(VstHost& host, VstIntPtr action = kProbeRead, int index = 0, float value = 0.0f)
{
    TestSynthProbe probe;
    probe.index = index;
    probe.value = value;
    EXPECT_EQ(host.Dispatch(effVendorSpecific, kTestSynthProbe, action, &probe), 1);
    return probe;
}

// A stereo block the plug-in writes into, prefilled with a value it must overwrite or keep.
struct StereoBlock
{
    explicit StereoBlock(long frames, float fill = 0.0f)
        : left(static_cast<std::size_t>(frames), fill), right(static_cast<std::size_t>(frames), fill)
    {
        channels[0] = left.data();
        channels[1] = right.data();
    }

    bool AllFinite() const { return audio::AllFinite(left) && audio::AllFinite(right); }

    // The largest magnitude from frame `from` on.
    float Peak(long from = 0) const
    {
        std::size_t const n = left.size() - std::min(left.size(), static_cast<std::size_t>(from));
        return std::max(audio::Peak(left.data() + from, n), audio::Peak(right.data() + from, n));
    }

    // The first frame with a non-zero sample, or -1.
    long FirstSound() const
    {
        for (std::size_t i = 0; i < left.size(); ++i)
        {
            if (left[i] != 0.0f || right[i] != 0.0f) return static_cast<long>(i);
        }
        return -1;
    }

    std::vector<float> left;
    std::vector<float> right;
    float* channels[2];
};

// Calls write(buffer) on a buffer of `bound` bytes followed by a guard zone, and checks that
// the text is terminated inside the bound and the guard untouched. Returns the text.
template <typename Write> std::string GuardedText(std::size_t bound, Write write)
{
    constexpr std::size_t kGuard = 64;
    constexpr unsigned char kCanary = 0xA5;
    std::vector<unsigned char> buffer(bound + kGuard, kCanary);
    write(reinterpret_cast<char*>(buffer.data()));
    for (std::size_t i = bound; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], kCanary) << "written past the " << bound << "-byte bound at " << i;
    auto const end = std::find(buffer.begin(), buffer.begin() + static_cast<long>(bound), 0);
    EXPECT_NE(end, buffer.begin() + static_cast<long>(bound)) << "no terminating zero inside the bound";
    return std::string(buffer.begin(), end);
}
