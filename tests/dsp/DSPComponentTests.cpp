#include "dsp/DSPComponent.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/Streams.h"
#include "framework/String.h"

namespace
{
// Records what the base hands to the unit.
struct Probe : DSPComponent
{
    Probe(long id = 0, const char* name = "") : DSPComponent(id, name) {}
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override
    {
        seen = {inL, inR, outL, outR};
        frames = n;
    }
    std::vector<float*> seen;
    long frames = -1;
};
} // namespace

TEST(DSPComponent, StartsWithOneInternalBypassParameterSetOn)
{
    Probe p(0, "X");
    EXPECT_EQ(p.GetNumGlobalParameters(false), 0);
    EXPECT_EQ(p.GetNumPrivateParameters(false), 0);
    ASSERT_EQ(p.GetNumInternalParameters(false), 1);
    Parameter* bypass = p.FindInternalParameter(0L);
    ASSERT_EQ(bypass, &p.bypass);
    EXPECT_STREQ(bypass->GetName(), "BYPASS");
    EXPECT_EQ(static_cast<float>(*bypass), 1.0f);
    EXPECT_TRUE(bypass->IsDiscrete());
    EXPECT_EQ(bypass->GetMinValue(), 0.0f);
    EXPECT_EQ(bypass->GetMaxValue(), 1.0f);
    EXPECT_EQ(bypass->GetOldValue(), 0.0f);
}

TEST(DSPComponent, RenderMapsChannelZeroToLeftAndOneToRight)
{
    Probe p;
    float a[4], b[4], c[4], d[4];
    float* ins[2] = {a, b};
    float* outs[2] = {c, d};
    p.Render(ins, outs, 4);
    EXPECT_EQ(p.seen, (std::vector<float*>{a, b, c, d}));
    EXPECT_EQ(p.frames, 4);
}

TEST(DSPComponent, BypassCopiesFrameByFrameOrLeavesSharedBuffersAlone)
{
    Probe p;
    float inL[3] = {1, 2, 3}, inR[3] = {4, 5, 6};
    float outL[3] = {9, 9, 9}, outR[3] = {9, 9, 9};
    p.Bypass(inL, inR, outL, outR, 0);
    EXPECT_EQ(outL[0], 9.0f);
    EXPECT_EQ(outR[0], 9.0f);

    p.Bypass(inL, inR, outL, outR, 3);
    EXPECT_EQ(std::vector<float>(outL, outL + 3), (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(std::vector<float>(outR, outR + 3), (std::vector<float>{4, 5, 6}));

    p.Bypass(inL, inR, inL, inR, 3);
    EXPECT_EQ(std::vector<float>(inL, inL + 3), (std::vector<float>{1, 2, 3}));

    // Only the left pair shared: the right channel is still copied.
    float r2[3] = {0, 0, 0};
    p.Bypass(inL, inR, inL, r2, 3);
    EXPECT_EQ(std::vector<float>(r2, r2 + 3), (std::vector<float>{4, 5, 6}));
}

TEST(DSPComponent, NamesKeep127Characters)
{
    const std::string exact(127, 'a');
    Probe p(0, exact.c_str());
    EXPECT_EQ(std::string(p.GetComponentName()), exact);

    const std::string longer = std::string(127, 'b') + "cdef";
    p.SetComponentName(longer.c_str());
    EXPECT_EQ(std::string(p.GetComponentName()), std::string(127, 'b'));

    p.SetComponentName("TORVANE_VOICE");
    EXPECT_STREQ(p.GetComponentName(), "TORVANE_VOICE");
    p.SetComponentName(p.GetComponentName());
    EXPECT_STREQ(p.GetComponentName(), "TORVANE_VOICE");
}

TEST(DSPComponent, BypassIsSavedAndLoadedWithTheInternals)
{
    Probe p;
    p.bypass = 0.0f;
    String block;
    StringWriter w;
    w.Open(&block);
    p.Save(w);
    w.Close();
    ASSERT_EQ(block.GetLength(), 4u);
    float stored;
    std::memcpy(&stored, static_cast<char const*>(block), 4);
    EXPECT_EQ(stored, 0.0f);

    Probe q;
    StringReader r;
    r.Open(block, 4);
    q.Load(r);
    EXPECT_EQ(static_cast<float>(q.bypass), 0.0f);
}
