// Host parameter traffic, automation reports and state chunks through the plug-in library.

#include <climits>
#include <cstdint>

#include "PluginFixture.h"

TEST(VstParameters, NoAutomationBeforeTheHostHasTheRecord)
{
    // The synth adds its six automatable parameters in its constructor; each addition
    // reports the parameter's value, which must not reach a host that has no record yet.
    VstHost host;
    OpenTestSynth(host);
    EXPECT_TRUE(host.GetAutomation().empty());
}

TEST(VstParameters, HostSetsRoundTripWithoutEcho)
{
    VstHost host;
    OpenTestSynth(host);
    host.ClearAutomation();
    for (int index : {0, 1, 2, 4, 5})
    {
        for (float value : {0.0f, 0.25f, 0.5f, 1.0f})
        {
            host.SetParameter(index, value);
            EXPECT_NEAR(host.GetParameter(index), value, 1e-6f) << index;
        }
    }
    // Discrete: 0..3 in steps of one third.
    host.SetParameter(3, 0.5f);
    EXPECT_NEAR(host.GetParameter(3), 2.0f / 3.0f, 1e-6f);
    EXPECT_TRUE(host.GetAutomation().empty());
}

TEST(VstParameters, OutOfRangeIndicesAndValues)
{
    VstHost host;
    OpenTestSynth(host);
    std::vector<float> before;
    for (int i = 0; i < 6; ++i)
        before.push_back(host.GetParameter(i));

    host.SetParameter(-1, 0.9f);
    host.SetParameter(6, 0.9f);
    host.SetParameter(INT_MIN, 0.9f);
    host.SetParameter(0, std::nanf(""));
    host.SetParameter(1, INFINITY);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(host.GetParameter(i), before[static_cast<std::size_t>(i)]) << i;
    EXPECT_EQ(host.GetParameter(-1), 0.0f);
    EXPECT_EQ(host.GetParameter(6), 0.0f);
    EXPECT_EQ(host.GetParameter(INT_MAX), 0.0f);

    // Values outside 0..1 are held to it.
    host.SetParameter(0, 1.5f);
    EXPECT_EQ(host.GetParameter(0), 1.0f);
    host.SetParameter(0, -3.0f);
    EXPECT_EQ(host.GetParameter(0), 0.0f);
}

TEST(VstParameters, ChangesInsideThePluginReachTheHost)
{
    VstHost host;
    OpenTestSynth(host);
    host.ClearAutomation();
    Probe(host, kProbeSetParameterInside, 2, 0.375f);
    auto const reports = host.GetAutomation();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].index, 2);
    EXPECT_FLOAT_EQ(reports[0].value, 0.375f);
    EXPECT_FLOAT_EQ(host.GetParameter(2), 0.375f);
}

TEST(VstChunks, StateMovesToASecondInstance)
{
    VstHost a;
    VstHost b;
    OpenTestSynth(a);
    OpenTestSynth(b);
    a.SetParameter(0, 0.125f);
    a.SetParameter(1, 0.75f);
    a.SetParameter(3, 1.0f);
    std::vector<std::uint8_t> const chunk = a.GetChunk();
    ASSERT_FALSE(chunk.empty());
    EXPECT_NE(b.GetChunk(), chunk);

    EXPECT_EQ(b.SetChunk(chunk), 1);
    EXPECT_EQ(b.GetChunk(), chunk);
    EXPECT_FLOAT_EQ(b.GetParameter(0), 0.125f);
    EXPECT_FLOAT_EQ(b.GetParameter(1), 0.75f);
    EXPECT_FLOAT_EQ(b.GetParameter(3), 1.0f);

    // Bank and program chunks are the same.
    void* data = nullptr;
    EXPECT_EQ(b.Dispatch(effGetChunk, 1, 0, &data), static_cast<VstIntPtr>(chunk.size()));
}

TEST(VstChunks, RefusedAndCorruptChunksKeepTheState)
{
    VstHost host;
    OpenTestSynth(host);
    host.SetParameter(1, 0.625f);
    std::vector<std::uint8_t> const good = host.GetChunk();
    ASSERT_FALSE(good.empty());
    int const restores = Probe(host).restoreCalls;

    // Refused before the plug-in sees them.
    char byte = 0;
    EXPECT_EQ(host.Dispatch(effSetChunk, 0, 16, nullptr), 0);
    EXPECT_EQ(host.Dispatch(effSetChunk, 0, -1, &byte), 0);
    EXPECT_EQ(host.Dispatch(effSetChunk, 0, VstIntPtr(INT_MAX) + 1, &byte), 0);
    EXPECT_EQ(host.Dispatch(effSetChunk, 0, VstIntPtr(1) << 40, &byte), 0);
    EXPECT_EQ(Probe(host).restoreCalls, restores);

    // Handed over, refused inside: every prefix, and blocks of garbage.
    for (std::size_t n = 0; n < good.size(); ++n)
        host.SetChunk(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(n)));
    std::vector<std::uint8_t> garbage(good.size());
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
    host.SetChunk(garbage);
    std::vector<std::uint8_t> badValue(good);
    badValue[8] = 0xFF;
    badValue[9] = 0xFF;
    badValue[10] = 0xFF;
    badValue[11] = 0x7F; // NaN for the first value
    host.SetChunk(badValue);
    std::vector<std::uint8_t> longer(good);
    longer.push_back(0);
    host.SetChunk(longer);

    TestSynthProbe const probe = Probe(host);
    EXPECT_EQ(probe.restoresRefused, probe.restoreCalls - restores);
    // The host is told the block was not taken.
    EXPECT_EQ(host.Dispatch(effSetChunk, 0, static_cast<VstIntPtr>(garbage.size()), garbage.data()), 0);
    EXPECT_EQ(host.Dispatch(effSetChunk, 0, static_cast<VstIntPtr>(good.size()),
                            const_cast<std::uint8_t*>(good.data())),
              1);
    EXPECT_EQ(host.GetChunk(), good);
    EXPECT_FLOAT_EQ(host.GetParameter(1), 0.625f);
}

TEST(VstChunks, GetChunkWithoutAPlaceForThePointer)
{
    VstHost host;
    OpenTestSynth(host);
    EXPECT_EQ(host.Dispatch(effGetChunk, 0, 0, nullptr), 0);
    EXPECT_EQ(host.Dispatch(effGetChunk, 1, 0, nullptr), 0);
    EXPECT_FALSE(host.GetChunk().empty());
}
