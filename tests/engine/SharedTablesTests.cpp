// Instruments with the same waves share their tables: across layers and instances one block
// per distinct table, a load into one leaves the others' tables as they were, and no table
// stays in the cache once every instrument is gone.

#include "PlayTestSupport.h"

#include "dsp/WaveTables.h"
#include "framework/Streams.h"
#include "framework/String.h"
#include "support/engine/CustomWave.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace play;

namespace
{

std::vector<float> Level(MipWaveTable const& t, int m)
{
    return std::vector<float>(t.levels[m], t.levels[m] + t.length * t.NumWaves());
}

} // namespace

TEST(SharedTables, InstrumentsWithTheSameWavesHoldOneTableThatGoesWithTheLast)
{
    const int before = MipWaveTable::SharedBlockCount();
    {
        auto a = std::make_unique<HeadlessHost>(false);
        auto b = std::make_unique<HeadlessHost>(false);
        // The default patch: the same four waves in every layer of both.
        float const* level0 = a->Instrument().GetVoiceDef(0)->waveDef.levels[0];
        for (HeadlessHost* h : {a.get(), b.get()})
            for (int layer = 0; layer < Torvane::kNumLayers; ++layer)
            {
                VectorMipOscWaveDef const& waves = h->Instrument().GetVoiceDef(layer)->waveDef;
                EXPECT_TRUE(waves.IsShared()) << layer;
                EXPECT_EQ(waves.levels[0], level0) << layer;
            }
        EXPECT_EQ(MipWaveTable::SharedBlockCount(), before + 1);

        // A custom wave in one layer of one instrument: a table of its own; the other
        // instrument's layer keeps the shared one with its bytes.
        const std::vector<float> was = Level(b->Instrument().GetVoiceDef(1)->waveDef, 30);

        const String wave = CustomWaveText();
        StringReader r;
        r.Open(wave, static_cast<std::size_t>(wave.GetLength()));
        a->Instrument().LoadWaveform(1, 2, r);
        VectorMipOscWaveDef const& edited = a->Instrument().GetVoiceDef(1)->waveDef;
        VectorMipOscWaveDef const& kept = b->Instrument().GetVoiceDef(1)->waveDef;
        EXPECT_NE(edited.levels[0], level0);
        EXPECT_EQ(kept.levels[0], level0);
        EXPECT_EQ(Level(kept, 30), was);
        EXPECT_EQ(MipWaveTable::SharedBlockCount(), before + 2);

        b.reset();
        EXPECT_EQ(MipWaveTable::SharedBlockCount(), before + 2) << "a still holds both";
        a.reset();
    }
    EXPECT_EQ(MipWaveTable::SharedBlockCount(), before);
}

TEST(SharedTables, TheFullPatchHoldsOneTableForItsFourEqualLayers)
{
    const int before = MipWaveTable::SharedBlockCount();
    {
        HeadlessHost host(false);
        Torvane& t = host.Instrument();
        std::vector<float> amps(64, 0.0f);
        for (size_t h = 0; h < amps.size(); h += 2)
            amps[h] = 1.0f / static_cast<float>((h + 1) * (h + 1));
        for (int layer = 0; layer < Torvane::kNumLayers; ++layer)
        {
            VectorMipOscWaveDef& waves = t.GetVoiceDef(layer)->waveDef;
            waves.CreateSaw(0, 4096);
            waves.CreateSquare(1, 4096);
            waves.CreateSine(2, 4096);
            waves.CreateWithIFFT(3, static_cast<long>(amps.size()), amps.data(), nullptr);
        }
        for (int layer = 1; layer < Torvane::kNumLayers; ++layer)
            EXPECT_EQ(t.GetVoiceDef(layer)->waveDef.levels[0], t.GetVoiceDef(0)->waveDef.levels[0]);
        EXPECT_EQ(MipWaveTable::SharedBlockCount(), before + 1);
    }
    EXPECT_EQ(MipWaveTable::SharedBlockCount(), before);
}
