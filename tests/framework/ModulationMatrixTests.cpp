#include "framework/ModulationMatrix.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
// Output o delivers value (o + 1) * (chunk + 1) for each chunk.
class TestSource : public ModulationSource
{
public:
    explicit TestSource(int n) : ModulationSource(n) {}

    ModulationValues* CalculateModulation(unsigned int samples, int chunks, int output) override
    {
        ++calculations;
        lastSamples = samples;
        EXPECT_GE(chunks, 1);
        EXPECT_LE(chunks, ModulationValues::kMaxValues);
        ModulationValues* v = GetOutput(output);
        for (int i = 0; i < chunks; ++i)
            v->values[i] = static_cast<float>((output + 1) * (i + 1));
        return v;
    }
    void Reset(int output) override { resets.push_back(output); }
    void SourceNoteOn(int note, unsigned int) override { notes.push_back(note); }
    void SourceAllNotesOff(unsigned int) override { ++allNotesOff; }

    int calculations = 0;
    unsigned int lastSamples = 0;
    std::vector<int> resets;
    std::vector<int> notes;
    int allNotesOff = 0;
};

class TestTarget : public ModulationTarget
{
public:
    explicit TestTarget(int n) : ModulationTarget(n) {}
    void ValuesReceived() override { ++received; }
    int received = 0;
};

TEST(ModulationValues, ChunkCountCoversTheLargestBlock)
{
    EXPECT_EQ(ModulationValues::ChunksFor(0), 1);
    EXPECT_EQ(ModulationValues::ChunksFor(63), 1);
    EXPECT_EQ(ModulationValues::ChunksFor(64), 2);
    EXPECT_EQ(ModulationValues::ChunksFor(8191), 128);
    EXPECT_EQ(ModulationValues::ChunksFor(8192), 129);
    EXPECT_EQ(ModulationValues::ChunksFor(100000), ModulationValues::kMaxValues);
    EXPECT_EQ(ModulationValues::ChunksFor(0xffffffffu), ModulationValues::kMaxValues);
    EXPECT_EQ(ModulationValues::kMaxValues, 129);
}

TEST(ModulationValues, FreshScaleAndAccumulatingCopy)
{
    ModulationValues a;
    EXPECT_FALSE(a.active);
    EXPECT_EQ(a.maxValues, 129);
    EXPECT_EQ(a.count, 0);

    ModulationValues b;
    b.count = 3;
    b.chunkSize = 64;
    for (int i = 0; i < 4; ++i)
        b.values[i] = static_cast<float>(i + 1);
    b.Scale(2.0f);
    EXPECT_EQ(b.values[2], 6.0f);
    EXPECT_EQ(b.values[3], 4.0f); // beyond count: untouched

    a.values[0] = 10.0f;
    a.CopyFrom(&b);
    a.CopyFrom(&b);
    EXPECT_EQ(a.count, 3);
    EXPECT_EQ(a.values[0], 14.0f);
    EXPECT_EQ(a.values[2], 12.0f);
    EXPECT_EQ(a.values[3], 0.0f);

    // A count beyond the buffer is clamped.
    b.count = 100000;
    b.Scale(1.0f);
    a.CopyFrom(&b);
    EXPECT_EQ(a.count, ModulationValues::kMaxValues);
    a.CopyFrom(nullptr);
    EXPECT_EQ(a.count, ModulationValues::kMaxValues);
}

TEST(ModulationTarget, InputsAndModulatedFlag)
{
    TestTarget t(2);
    EXPECT_EQ(t.GetNumInputs(), 2);
    EXPECT_FALSE(t.IsModulated());
    ASSERT_NE(t.GetModValues(1), nullptr);
    t.GetModValues(1)->active = true;
    EXPECT_TRUE(t.IsModulated());
    EXPECT_EQ(t.GetModValues(2), nullptr);
    EXPECT_EQ(t.GetModValues(-1), nullptr);

    TestTarget none(-3);
    EXPECT_EQ(none.GetNumInputs(), 0);
    EXPECT_FALSE(none.IsModulated());
}

TEST(ModulationSource, CalculatesOnceUntilReset)
{
    TestSource s(2);
    EXPECT_TRUE(s.IsOutputEnabled(0));
    ModulationValues* v = s.GetModulationValue(128, 3, 1);
    ASSERT_EQ(v, s.GetOutput(1));
    EXPECT_EQ(v->chunkSize, 64);
    EXPECT_EQ(v->values[2], 6.0f);
    EXPECT_EQ(s.GetModulationValue(128, 3, 1), v);
    EXPECT_EQ(s.calculations, 1);
    s.GetModulationValue(128, 3, 0);
    EXPECT_EQ(s.calculations, 2);
    s.ResetValueNeedsCalculating();
    s.GetModulationValue(128, 3, 1);
    EXPECT_EQ(s.calculations, 3);

    EXPECT_EQ(s.GetModulationValue(128, 3, 2), nullptr);
    EXPECT_EQ(s.GetModulationValue(128, 3, -1), nullptr);
    s.SetOutputEnabled(5, false);
    EXPECT_FALSE(s.IsOutputEnabled(5));
}

struct MatrixFixture : ::testing::Test
{
    MatrixFixture()
    {
        matrix.Init(4);
        matrix.RegisterSource(&source, 10, 0);
        matrix.RegisterSource(&source, 11, 1);
        matrix.RegisterTarget(&targetA, 20, 0);
        matrix.RegisterTarget(&targetA, 21, 1);
        matrix.RegisterTarget(&targetB, 22, 0);
    }

    ModulationMatrix matrix;
    TestSource source{2};
    TestTarget targetA{2};
    TestTarget targetB{1};
};

TEST_F(MatrixFixture, FreshRows)
{
    EXPECT_EQ(matrix.GetNumMaps(), 4);
    EXPECT_TRUE(matrix.IsEnabled());
    const ModulationMatrix::Map* map = matrix.GetMap(3);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->source, nullptr);
    EXPECT_EQ(map->sourceOutput, -1);
    EXPECT_EQ(map->sourceId, -1);
    EXPECT_EQ(map->target, nullptr);
    EXPECT_EQ(map->targetInput, -1);
    EXPECT_EQ(map->targetId, -1);
    EXPECT_EQ(map->amount, 0.0f);
    EXPECT_TRUE(map->enabled);
    EXPECT_FALSE(map->IsConnected());
    EXPECT_EQ(matrix.GetMap(4), nullptr);
    EXPECT_EQ(matrix.GetMap(-1), nullptr);
}

TEST_F(MatrixFixture, OneOutputIntoTwoTargetsIsCalculatedOnceAndScaledPerRow)
{
    matrix.SetMapping(0, 11, 20);
    matrix.SetMapping(1, 11, 22);
    matrix.GetMap(0)->amount = 0.5f;
    matrix.GetMap(1)->amount = 3.0f;
    matrix.DoModulations(64);

    EXPECT_EQ(source.calculations, 1);
    const ModulationValues* a = targetA.GetModValues(0);
    const ModulationValues* b = targetB.GetModValues(0);
    EXPECT_TRUE(a->active);
    EXPECT_TRUE(b->active);
    EXPECT_FALSE(targetA.GetModValues(1)->active);
    EXPECT_EQ(a->count, 2);
    EXPECT_EQ(a->chunkSize, 64);
    // Output 1 gives 2, 4; each row applies its own amount.
    EXPECT_EQ(a->values[0], 1.0f);
    EXPECT_EQ(a->values[1], 2.0f);
    EXPECT_EQ(b->values[0], 6.0f);
    EXPECT_EQ(b->values[1], 12.0f);
    EXPECT_EQ(targetA.received, 1);
    EXPECT_EQ(targetB.received, 1);

    // Next block: calculated again, values replaced rather than accumulated.
    matrix.DoModulations(0);
    EXPECT_EQ(source.calculations, 2);
    EXPECT_EQ(a->count, 1);
    EXPECT_EQ(a->values[0], 1.0f);
}

TEST_F(MatrixFixture, RowsIntoOneInputSum)
{
    matrix.SetMapping(0, 10, 21);
    matrix.SetMapping(2, 11, 21);
    matrix.GetMap(0)->amount = 1.0f;
    matrix.GetMap(2)->amount = 1.0f;
    matrix.DoModulations(200);
    const ModulationValues* in = targetA.GetModValues(1);
    EXPECT_EQ(in->count, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(in->values[i], static_cast<float>(3 * (i + 1))) << i;
    EXPECT_EQ(targetA.received, 2);
}

TEST_F(MatrixFixture, LargestBlockFillsEveryValueAndLongerBlocksClamp)
{
    matrix.SetMapping(0, 10, 20);
    matrix.GetMap(0)->amount = 1.0f;
    matrix.DoModulations(8192);
    const ModulationValues* in = targetA.GetModValues(0);
    EXPECT_EQ(in->count, 129);
    EXPECT_EQ(in->values[128], 129.0f);

    matrix.DoModulations(50000);
    EXPECT_EQ(in->count, 129);
    EXPECT_EQ(source.lastSamples, 50000u);

    // A row processed alone clamps too.
    matrix.GetMap(0)->ProcessMap(1000000);
    EXPECT_EQ(in->count, 129);
    EXPECT_EQ(in->values[128], 129.0f);
}

TEST_F(MatrixFixture, DisabledRowsOutputsAndMatrixDeactivateInputs)
{
    matrix.SetMapping(0, 10, 20);
    matrix.SetMapping(1, 11, 21);
    matrix.GetMap(0)->amount = 1.0f;
    matrix.DoModulations(64);
    EXPECT_TRUE(targetA.GetModValues(0)->active);
    EXPECT_TRUE(targetA.GetModValues(1)->active);

    matrix.GetMap(0)->enabled = false;
    source.SetOutputEnabled(1, false);
    matrix.DoModulations(64);
    EXPECT_FALSE(targetA.GetModValues(0)->active);
    EXPECT_FALSE(targetA.GetModValues(1)->active);

    matrix.GetMap(0)->enabled = true;
    source.SetOutputEnabled(1, true);
    matrix.DoModulations(64);
    EXPECT_TRUE(targetA.IsModulated());

    const int before = source.calculations;
    matrix.Enable(false);
    EXPECT_FALSE(targetA.IsModulated());
    matrix.DoModulations(64);
    EXPECT_EQ(source.calculations, before);
    EXPECT_FALSE(targetA.IsModulated());
}

TEST_F(MatrixFixture, LookupsAndMappingByIds)
{
    matrix.RegisterSource(&source, -1, 0);
    matrix.RegisterTarget(&targetB, 20, 0); // a second registration of id 20
    EXPECT_EQ(matrix.FindSource(-1), nullptr);
    EXPECT_EQ(matrix.FindTarget(-1), nullptr);
    ASSERT_NE(matrix.FindTarget(20), nullptr);
    EXPECT_EQ(matrix.FindTarget(20)->target, &targetA);
    EXPECT_EQ(matrix.FindSource(11)->output, 1);
    EXPECT_EQ(matrix.FindSource(99), nullptr);

    matrix.GetMap(0)->amount = 0.25f;
    matrix.GetMap(0)->enabled = false;
    matrix.SetMapping(0, 11, 21);
    const ModulationMatrix::Map* map = matrix.GetMap(0);
    EXPECT_EQ(map->source, &source);
    EXPECT_EQ(map->sourceOutput, 1);
    EXPECT_EQ(map->sourceId, 11);
    EXPECT_EQ(map->target, &targetA);
    EXPECT_EQ(map->targetInput, 1);
    EXPECT_EQ(map->targetId, 21);
    EXPECT_EQ(map->amount, 0.25f); // amount and enabled stay
    EXPECT_FALSE(map->enabled);
    EXPECT_TRUE(source.resets.empty());

    // An unknown source id clears the source end and keeps the target end; the old
    // source output is reset and the old target input deactivated.
    map = matrix.GetMap(0);
    matrix.GetMap(0)->enabled = true;
    matrix.DoModulations(10);
    EXPECT_TRUE(targetA.GetModValues(1)->active);
    matrix.SetSource(0, 99);
    EXPECT_EQ(source.resets, (std::vector<int>{1}));
    EXPECT_FALSE(targetA.GetModValues(1)->active);
    EXPECT_EQ(map->source, nullptr);
    EXPECT_EQ(map->sourceOutput, -1);
    EXPECT_EQ(map->sourceId, -1);
    EXPECT_EQ(map->targetId, 21);
    EXPECT_FALSE(map->IsConnected());

    matrix.SetSource(0, 10);
    EXPECT_TRUE(map->IsConnected());
    EXPECT_EQ(map->sourceOutput, 0);

    // Only the source found.
    matrix.SetTarget(0, 77);
    EXPECT_EQ(map->source, &source);
    EXPECT_EQ(map->target, nullptr);
    EXPECT_EQ(map->targetInput, -1);
    EXPECT_EQ(map->targetId, -1);

    matrix.SetMapping(0, -1, -1);
    EXPECT_EQ(map->source, nullptr);
    EXPECT_EQ(map->target, nullptr);

    // Rows out of range are ignored.
    matrix.SetMapping(7, 10, 20);
    matrix.SetSource(-1, 10);
    matrix.SetTarget(4, 20);
    matrix.SetMapping(9, &source, 0, 10, &targetA, 0, 20);
    EXPECT_EQ(source.resets, (std::vector<int>{1, 0, 0}));
}

TEST_F(MatrixFixture, OutOfRangeEndsAreHarmless)
{
    // Indices beyond the source's outputs or the target's inputs never read or write
    // outside the buffers.
    matrix.SetMapping(0, &source, 5, 1, &targetA, 0, 2);
    matrix.SetMapping(1, &source, 0, 1, &targetB, 3, 2);
    matrix.GetMap(0)->amount = 1.0f;
    matrix.GetMap(1)->amount = 1.0f;
    matrix.DoModulations(64);
    EXPECT_FALSE(targetA.GetModValues(0)->active);
    EXPECT_FALSE(targetB.IsModulated());
    matrix.GetMap(0)->ProcessMap(64);
    matrix.GetMap(1)->ProcessMap(-5);
    matrix.SetMapping(0, -1, -1);
    matrix.SetMapping(1, -1, -1);
    EXPECT_EQ(source.resets, (std::vector<int>{0})); // output 5 does not exist: no reset
    matrix.Enable(false);
}

TEST_F(MatrixFixture, NotesReachTheSourceOfEveryConnectedRow)
{
    matrix.SetMapping(0, 10, 20);
    matrix.SetMapping(1, 11, 22);
    matrix.SetMapping(2, 10, -1); // not connected
    matrix.NoteOn(60, 5);
    matrix.AllNotesOff(0);
    EXPECT_EQ(source.notes, (std::vector<int>{60, 60}));
    EXPECT_EQ(source.allNotesOff, 2);
}

TEST_F(MatrixFixture, ProcessMapRunsOneRow)
{
    matrix.SetMapping(0, 11, 20);
    matrix.SetMapping(1, 10, 22);
    ModulationMatrix::Map* map = matrix.GetMap(0);
    map->amount = 2.0f;
    map->ProcessMap(64);
    const ModulationValues* in = targetA.GetModValues(0);
    EXPECT_TRUE(in->active);
    EXPECT_EQ(in->count, 2);
    EXPECT_EQ(in->values[1], 8.0f);
    EXPECT_FALSE(targetB.IsModulated());

    // Processing it again replaces the values.
    map->ProcessMap(64);
    EXPECT_EQ(in->values[1], 8.0f);
    EXPECT_EQ(source.calculations, 2);

    map->enabled = false;
    map->ProcessMap(64);
    EXPECT_FALSE(in->active);

    // A target without a source: its input goes inactive.
    map->enabled = true;
    map->ProcessMap(64);
    EXPECT_TRUE(in->active);
    matrix.SetSource(0, 99);
    in = targetA.GetModValues(0);
    targetA.GetModValues(0)->active = true;
    matrix.GetMap(0)->ProcessMap(64);
    EXPECT_FALSE(in->active);
}
} // namespace
