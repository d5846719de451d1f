// Tables with the same bytes share one storage block: built alike they hold the same levels,
// a build of one leaves the others as they were, and the cache forgets a block once no table
// holds it.

#include "dsp/WaveTables.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "framework/Streams.h"
#include "framework/String.h"

namespace
{

void BuildLayer(VectorMipOscWaveDef& t)
{
    t.CreateSaw(0, 1024);
    t.CreateSquare(1, 1024);
    t.CreateSine(2, 1024);
    std::vector<float> amps(12, 0.0f);
    for (size_t h = 0; h < amps.size(); h += 2)
        amps[h] = 1.0f / static_cast<float>(h + 1);
    t.CreateWithIFFT(3, static_cast<long>(amps.size()), amps.data(), nullptr);
}

std::vector<float> AllLevels(MipWaveTable const& t)
{
    std::vector<float> out;
    for (int m = 0; m < t.numLevels; ++m)
        out.insert(out.end(), t.levels[m], t.levels[m] + t.length * t.NumWaves());
    return out;
}

} // namespace

TEST(WaveTableSharing, TablesBuiltAlikeShareOneBlockAndTheCacheForgetsItWhenTheyGo)
{
    const int before = MipWaveTable::SharedBlockCount();
    {
        VectorMipOscWaveDef a;
        VectorMipOscWaveDef b;
        BuildLayer(a);
        BuildLayer(b);
        EXPECT_TRUE(a.IsShared());
        EXPECT_TRUE(b.IsShared());
        EXPECT_EQ(a.levels[0], b.levels[0]);
        EXPECT_EQ(a.levels[a.numLevels - 1], b.levels[b.numLevels - 1]);
        EXPECT_EQ(MipWaveTable::SharedBlockCount(), before + 1);

        // Another wave in one slot: other bytes, another block.
        VectorMipOscWaveDef c;
        BuildLayer(c);
        c.CreateSaw(3, 1024);
        EXPECT_NE(c.levels[0], a.levels[0]);
        EXPECT_EQ(MipWaveTable::SharedBlockCount(), before + 2);
    }
    EXPECT_EQ(MipWaveTable::SharedBlockCount(), before);
}

TEST(WaveTableSharing, EveryKindOfBuildLeavesTheOtherHoldersUnchanged)
{
    struct Case
    {
        char const* name;
        void (*edit)(VectorMipOscWaveDef&);
    };
    Case const cases[] = {
        {"sine", [](VectorMipOscWaveDef& t) { t.CreateSine(0, 1024); }},
        {"silence", [](VectorMipOscWaveDef& t) { t.CreateSilence(1, 1024); }},
        {"spectrum",
         [](VectorMipOscWaveDef& t)
         {
             float const amps[3] = {0.5f, 0.25f, 0.125f};
             t.CreateWithIFFT(2, 3, amps, nullptr);
         }},
        {"cycle",
         [](VectorMipOscWaveDef& t)
         {
             std::vector<float> cycle(1024);
             for (size_t i = 0; i < cycle.size(); ++i)
                 cycle[i] = i < 300 ? 0.5f : -0.2f;
             t.CreateWithSamples(0, cycle.data(), -1);
         }},
        {"peak", [](VectorMipOscWaveDef& t) { t.NormalisePeak(1, 0.5f); }},
        {"other shape", [](VectorMipOscWaveDef& t) { t.InitArray(512, 40); }},
        {"one-wave slot",
         [](VectorMipOscWaveDef& t)
         {
             MipOscWaveDef one;
             one.CreateSquare(1024);
             t.CopySlotFrom(2, one);
         }},
    };
    for (Case const& c : cases)
    {
        SCOPED_TRACE(c.name);
        VectorMipOscWaveDef a;
        VectorMipOscWaveDef b;
        BuildLayer(a);
        BuildLayer(b);
        ASSERT_EQ(a.levels[0], b.levels[0]);
        float const* shared = b.levels[0];
        const std::vector<float> was = AllLevels(b);

        c.edit(a);
        EXPECT_NE(a.levels[0], shared);
        EXPECT_NE(AllLevels(a), was);
        EXPECT_EQ(b.levels[0], shared);
        EXPECT_EQ(AllLevels(b), was);
        EXPECT_TRUE(b.IsShared());
    }
}

TEST(WaveTableSharing, ALoneHolderBuildsInItsOwnBlockAndMeetsTheOthersAgain)
{
    VectorMipOscWaveDef a;
    BuildLayer(a);
    float const* own = a.levels[0];
    a.CreateSine(1, 1024); // held by a alone: written in place
    EXPECT_EQ(a.levels[0], own);
    EXPECT_TRUE(a.IsShared());

    // Built back to the bytes of another table, a takes that table's block.
    VectorMipOscWaveDef b;
    BuildLayer(b);
    a.CreateSquare(1, 1024);
    EXPECT_EQ(a.levels[0], b.levels[0]);
    EXPECT_EQ(AllLevels(a), AllLevels(b));
}

TEST(WaveTableSharing, LoadedWavesShareWithTablesBuiltAlike)
{
    VectorMipOscWaveDef built;
    BuildLayer(built);

    VectorMipOscWaveDef loaded;
    for (int slot = 0; slot < 4; ++slot)
    {
        String text;
        StringWriter w;
        w.Open(&text);
        built.Save(slot, w, 1.0f);
        w.Close();
        StringReader r;
        r.Open(text, static_cast<std::size_t>(text.GetLength()));
        ASSERT_TRUE(loaded.Load(slot, r)) << slot;
    }
    // Level 0 of the custom slot holds the saved cycle itself, which a rebuild from the
    // spectrum need not reproduce to the last bit: equal bytes share, others don't.
    EXPECT_EQ(AllLevels(loaded) == AllLevels(built), loaded.levels[0] == built.levels[0]);
    EXPECT_TRUE(loaded.IsShared());
}

TEST(WaveTableSharing, AHoldKeepsTheBytesItWasTakenOnWhileTheTableIsRebuilt)
{
    VectorMipOscWaveDef none;
    EXPECT_TRUE(none.Hold().Empty());
    EXPECT_FALSE(none.StillHolds(none.Hold()));

    VectorMipOscWaveDef t;
    BuildLayer(t);
    MipWaveTable::Held const held = t.Hold();
    ASSERT_FALSE(held.Empty());
    EXPECT_TRUE(t.StillHolds(held));
    EXPECT_EQ(held.Level0(), t.levels[0]);
    EXPECT_EQ(held.length, t.length);
    EXPECT_EQ(held.kind[3], kWaveCustom);
    std::vector<float> const before(held.Level0(), held.Level0() + t.length * t.NumWaves());

    // Held by nothing else, the table would write its block in place; the hold makes it copy.
    t.CreateSquare(0, 1024);
    EXPECT_FALSE(t.StillHolds(held));
    EXPECT_NE(t.levels[0], held.Level0());
    EXPECT_EQ(std::vector<float>(held.Level0(), held.Level0() + t.length * t.NumWaves()), before);

    // Built back to the same bytes, the table shares the held block again.
    t.CreateSaw(0, 1024);
    EXPECT_TRUE(t.StillHolds(held));
}
