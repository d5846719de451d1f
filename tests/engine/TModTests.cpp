#include "ModulationTestSupport.h"
#include "engine/TMod.h"
#include "platform/CascadeList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace modtest;

namespace
{
// A source that is also a target, like the LFO: it records what its input 0 held when it was
// asked for its curve.
class SourceTarget : public TModTarget, public TModSource
{
public:
    SourceTarget() : TModTarget(3), TModSource(1) {}
    void CreateModEnvelope(Envelope* out, long length, int) override
    {
        ++calls;
        TModValues* in = GetInput(0);
        inputValidWhenRead = in->valid;
        inputWhenRead = in->valid ? At(*in, 0.0f) : -99.0f;
        out->AddBreakpoint(0.0f, 1.0f);
        out->AddBreakpoint(static_cast<float>(length), 1.0f);
    }
    int calls = 0;
    bool inputValidWhenRead = false;
    float inputWhenRead = 0.0f;
};

void Bind(TModMatrix& m, int row, TModSource* s, int output, TModTarget* t, int input, bool second,
          float amount, bool fromLine = false)
{
    TModMap* map = m.GetMap(row);
    ASSERT_NE(map, nullptr);
    map->enabled = true;
    map->SetSource(s, output);
    map->SetTarget(t, input, second);
    map->amount = amount;
    map->amountFromLine = fromLine;
}
} // namespace

TEST(TModMatrixRun, SourceOutputUsedByTwoRowsIsComputedOncePerBlock)
{
    TModMatrix m;
    m.Init(4);
    CountingSource s(0.5f);
    RecordingTarget t;
    Bind(m, 0, &s, 0, &t, 0, true, 1.0f);
    Bind(m, 3, &s, 0, &t, 5, true, 2.0f);

    m.DoModulation(64, nullptr, 6);
    EXPECT_EQ(s.calls, 1);
    EXPECT_FLOAT_EQ(At(*t.GetInput(0), 32.0f), 0.5f);
    EXPECT_FLOAT_EQ(At(*t.GetInput(5), 32.0f), 1.0f);
    EXPECT_EQ(t.received, (std::vector<int>{0, 5}));

    m.DoModulation(64, nullptr, 6);
    EXPECT_EQ(s.calls, 2);
}

TEST(TModMatrixRun, RowsOnOneInputAddUpOverTheBlock)
{
    TModMatrix m;
    m.Init(3);
    CountingSource a(0.5f);
    CountingSource b(0.25f);
    RecordingTarget t;
    Bind(m, 0, &a, 0, &t, 1, true, 1.0f);
    Bind(m, 2, &b, 0, &t, 1, true, -2.0f);
    m.DoModulation(100, nullptr, 6);

    TModValues const& in = *t.GetInput(1);
    EXPECT_TRUE(in.valid);
    ASSERT_GE(in.Size(), 2);
    EXPECT_EQ(in[0].time, 0.0f);
    EXPECT_EQ(in[in.Size() - 1].time, 100.0f);
    EXPECT_FLOAT_EQ(At(in, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(At(in, 100.0f), 0.0f);
    EXPECT_FALSE(t.GetInput(0)->valid);
}

TEST(TModMatrixRun, FirstPassInputsAreCompleteBeforeTheirOwnerRunsAsASource)
{
    // Row 0 reads the LFO-like source; rows 1 and 2 feed its input in the first pass. The
    // source must see both contributions whatever the row order.
    TModMatrix m;
    m.Init(3);
    SourceTarget lfo;
    CountingSource a(0.5f);
    CountingSource b(0.125f);
    RecordingTarget voice;
    Bind(m, 0, &lfo, 0, &voice, 1, true, 1.0f);
    Bind(m, 1, &a, 0, &lfo, 0, false, 1.0f);
    Bind(m, 2, &b, 0, &lfo, 0, false, 2.0f);

    m.DoModulation(32, nullptr, 6);
    EXPECT_EQ(lfo.calls, 1);
    EXPECT_TRUE(lfo.inputValidWhenRead);
    EXPECT_FLOAT_EQ(lfo.inputWhenRead, 0.75f);
    EXPECT_TRUE(voice.GetInput(1)->valid);
}

TEST(TModMatrixRun, DepthFromTheLineScalesTheSourcePointByPoint)
{
    TModMatrix m;
    m.Init(4);
    CountingSource s(0.8f);
    RecordingTarget t;
    Bind(m, 1, &s, 0, &t, 2, true, 99.0f, true); // the amount is not used

    Envelope line(8);
    float v0[8] = {0, 0, 0, 0, 0, 0, 0, 0.5f};
    float v1[8] = {0, 0, 0, 0, 0, 0, 0, 1.0f};
    line.GetBreakpoints().Add(0.0f, v0);
    line.GetBreakpoints().Add(100.0f, v1);

    m.DoModulation(100, &line, 6); // row 1 reads value 7
    TModValues const& in = *t.GetInput(2);
    EXPECT_FLOAT_EQ(At(in, 0.0f), 0.4f);
    EXPECT_FLOAT_EQ(At(in, 50.0f), 0.6f);
    EXPECT_FLOAT_EQ(At(in, 100.0f), 0.8f);
}

TEST(TModMatrixRun, DepthIndexPastTheLineOrNoLineGivesZero)
{
    TModMatrix m;
    m.Init(4);
    CountingSource s(0.8f);
    RecordingTarget t;
    Bind(m, 3, &s, 0, &t, 0, true, 1.0f, true);
    Envelope line(8); // row 3 with first index 6 would read value 9
    float v[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    line.GetBreakpoints().Add(0.0f, v);

    m.DoModulation(64, &line, 6);
    EXPECT_TRUE(t.GetInput(0)->valid);
    EXPECT_EQ(At(*t.GetInput(0), 32.0f), 0.0f);

    m.DoModulation(64, nullptr, 6);
    EXPECT_TRUE(t.GetInput(0)->valid);
    EXPECT_EQ(At(*t.GetInput(0), 32.0f), 0.0f);

    m.DoModulation(64, &line, -100);
    EXPECT_EQ(At(*t.GetInput(0), 32.0f), 0.0f);
}

TEST(TModMatrixRun, EnabledRowWithoutSourceDoesNothingAndClearsItsInput)
{
    TModMatrix m;
    m.Init(2);
    RecordingTarget t;
    TModMap* row = m.GetMap(0);
    row->enabled = true;
    row->SetTarget(&t, 4, true);
    t.GetInput(4)->valid = true;

    m.DoModulation(64, nullptr, 6);
    EXPECT_FALSE(t.GetInput(4)->valid);
    EXPECT_TRUE(t.received.empty());

    // Disabled rows clear their input too; an input no active row reaches stays absent.
    CountingSource s;
    Bind(m, 1, &s, 0, &t, 3, true, 1.0f);
    m.DoModulation(64, nullptr, 6);
    EXPECT_TRUE(t.GetInput(3)->valid);
    m.GetMap(1)->enabled = false;
    m.DoModulation(64, nullptr, 6);
    EXPECT_FALSE(t.GetInput(3)->valid);
    EXPECT_EQ(s.calls, 1);
}

TEST(TModMatrixRun, RowsWithOutputOrInputOutOfRangeAreSkipped)
{
    TModMatrix m;
    m.Init(2);
    CountingSource s;
    RecordingTarget t(2);
    Bind(m, 0, &s, 3, &t, 0, true, 1.0f);
    Bind(m, 1, &s, 0, &t, 9, true, 1.0f);
    m.DoModulation(64, nullptr, 6);
    EXPECT_EQ(s.calls, 0);
    EXPECT_FALSE(t.GetInput(0)->valid);
    EXPECT_TRUE(t.received.empty());
}

TEST(TModMatrixRun, ALongBlockOfLfoSizedCurvesAllocatesNoNewPoints)
{
    // A source with a point every 32 samples over 8192 frames fits the reserved pools.
    class Grid : public TModSource
    {
    public:
        Grid() : TModSource(1) {}
        void CreateModEnvelope(Envelope* out, long length, int) override
        {
            for (long t = 0; t <= length; t += 32)
                out->AddBreakpoint(static_cast<float>(t), 0.5f);
        }
    } grid;
    TModMatrix m;
    m.Init(2);
    RecordingTarget t;
    Bind(m, 0, &grid, 0, &t, 0, true, 1.0f, true);
    Bind(m, 1, &grid, 0, &t, 0, true, 1.0f);
    Envelope line(23);
    float v[23] = {};
    line.GetBreakpoints().Add(0.0f, v);
    line.GetBreakpoints().Add(8192.0f, v);

    const long capacity = t.GetInput(0)->GetBreakpoints().Capacity();
    m.DoModulation(kMaxRenderFrames, &line, 6);
    EXPECT_EQ(t.GetInput(0)->Size(), kModBlockPoints);
    EXPECT_EQ(t.GetInput(0)->GetBreakpoints().Capacity(), capacity);
    EXPECT_EQ(grid.GetOutput(0)->GetBreakpoints().Capacity(), capacity);
}

TEST(TModMap, SetTargetClearsTheOldInputsValidFlag)
{
    RecordingTarget a;
    RecordingTarget b;
    TModMap row;
    row.SetTarget(&a, 2, false);
    EXPECT_FALSE(row.secondPass);
    a.GetInput(2)->valid = true;
    row.SetTarget(&b, 1, true);
    EXPECT_FALSE(a.GetInput(2)->valid);
    EXPECT_EQ(row.target, &b);
    EXPECT_EQ(row.input, 1);
    EXPECT_TRUE(row.secondPass);
    EXPECT_FALSE(row.Active());
}

TEST(TModMatrixRows, IndicesOutOfRangeAreRefused)
{
    TModMatrix m;
    m.Init(16);
    EXPECT_EQ(m.GetNumMaps(), 16);
    EXPECT_EQ(m.GetMap(-1), nullptr);
    EXPECT_EQ(m.GetMap(16), nullptr);
    EXPECT_NE(m.GetMap(15), nullptr);
    TModSourceTable sources;
    TModTargetTable targets;
    m.SetSourceById(16, 0, sources); // nothing to check but that nothing breaks
    m.SetTargetById(-3, 0, targets);
    m.Init(-5);
    EXPECT_EQ(m.GetNumMaps(), 0);
}

TEST(TModMatrixRows, AssignmentCopiesTheCommonRows)
{
    TModMatrix big;
    big.Init(18);
    for (int i = 0; i < 18; ++i)
        big.GetMap(i)->output = i;
    TModMatrix small;
    small.Init(16);
    small = big;
    EXPECT_EQ(small.GetNumMaps(), 16);
    EXPECT_EQ(small.GetMap(15)->output, 15);

    small.GetMap(3)->amount = 0.25f;
    big = small;
    EXPECT_EQ(big.GetNumMaps(), 18);
    EXPECT_EQ(big.GetMap(3)->amount, 0.25f);
    EXPECT_EQ(big.GetMap(17)->output, 17);
}

TEST(TModMatrixRows, SourceIdsBindTheVoiceTable)
{
    CountingSource lfo1, lfo2, pad[4], wheel, pressure;
    CountingSource voice(0.0f, 2);
    TModSourceTable table;
    table.lfo[0] = &lfo1;
    table.lfo[1] = &lfo2;
    for (int i = 0; i < 4; ++i)
        table.pads[i] = &pad[i];
    table.modWheel = &wheel;
    table.channelPressure = &pressure;
    table.voice = &voice;

    struct Expect
    {
        int id;
        TModSource* source;
        int output;
    };
    const Expect expected[] = {{0, &lfo1, 0},   {1, &lfo2, 0},   {2, &pad[0], 0}, {5, &pad[3], 0},
                               {6, &pad[0], 1}, {9, &pad[3], 1}, {10, &wheel, 0}, {11, &pressure, 0},
                               {12, &voice, 0}, {13, &voice, 1}};
    TModMatrix m;
    m.Init(18);
    for (Expect const& e : expected)
    {
        m.SetSourceById(4, e.id, table);
        EXPECT_EQ(m.GetMap(4)->source, e.source) << e.id;
        EXPECT_EQ(m.GetMap(4)->output, e.output) << e.id;
    }
    m.SetSourceById(4, 14, table); // unknown: nothing changes
    EXPECT_EQ(m.GetMap(4)->source, &voice);
    m.SetSourceById(4, -1, table); // none: output kept
    EXPECT_EQ(m.GetMap(4)->source, nullptr);
    EXPECT_EQ(m.GetMap(4)->output, 1);
}

TEST(TModMatrixRows, TargetIdsBindTheVoiceTableAndPass)
{
    RecordingTarget voice(7), lfo1(3), lfo2(3);
    TModTargetTable table;
    table.voice = &voice;
    table.lfo[0] = &lfo1;
    table.lfo[1] = &lfo2;
    struct Expect
    {
        int id;
        TModTarget* target;
        int input;
        bool second;
    };
    const Expect expected[] = {{0, &voice, 0, true},  {1, &voice, 1, true},   {6, &voice, 6, true},
                               {7, &lfo1, 1, false},  {8, &lfo1, 0, false},   {9, &lfo2, 1, false},
                               {10, &lfo2, 0, false}, {-1, nullptr, -1, true}};
    TModMatrix m;
    m.Init(18);
    for (Expect const& e : expected)
    {
        m.SetTargetById(2, e.id, table);
        EXPECT_EQ(m.GetMap(2)->target, e.target) << e.id;
        EXPECT_EQ(m.GetMap(2)->input, e.input) << e.id;
        EXPECT_EQ(m.GetMap(2)->secondPass, e.second) << e.id;
    }
    m.SetTargetById(2, 5, table);
    m.SetTargetById(2, 11, table); // unknown: nothing changes
    EXPECT_EQ(m.GetMap(2)->input, 5);
}

TEST(TModMatrixStream, LoadsStoredRowsAsSecondPassWithoutPointers)
{
    Bytes const stored = Builder()
                             .F(2.5f) // ignored
                             .I(3)
                             .F(0.0f)
                             .B(true)
                             .I(7)
                             .I(8)
                             .F(-0.25f)
                             .B(false)
                             .F(1.0f)
                             .B(false)
                             .I(-1)
                             .I(2)
                             .F(1.0f)
                             .B(true)
                             .F(1.0f)
                             .B(true)
                             .I(13)
                             .I(0)
                             .F(3.0f)
                             .B(true)
                             .Get();
    TModMatrix m;
    m.Init(16);
    StringReader r;
    Open(r, stored);
    ASSERT_TRUE(m.Load(r));
    ASSERT_EQ(m.GetNumMaps(), 3);
    TModMap const* row = m.GetMap(0);
    EXPECT_TRUE(row->enabled);
    EXPECT_EQ(row->output, 7);
    EXPECT_EQ(row->input, 8);
    EXPECT_EQ(row->amount, -0.25f);
    EXPECT_FALSE(row->amountFromLine);
    EXPECT_TRUE(row->secondPass);
    EXPECT_EQ(row->source, nullptr);
    EXPECT_EQ(m.GetMap(2)->output, 13);
}

TEST(TModMatrixStream, RefusedStreamsLeaveTheMatrixUnchanged)
{
    TModMatrix m;
    m.Init(16);
    m.GetMap(4)->output = 11;
    Bytes const before = SaveBytes([&](Writer& w) { m.Save(w); });

    auto row = [](Builder& b, float amount) { b.F(1.0f).B(true).I(1).I(2).F(amount).B(true); };
    std::vector<Bytes> bad;
    {
        Builder b;
        b.F(1.0f).I(-1);
        bad.push_back(b.Get());
    }
    {
        Builder b;
        b.F(1.0f).I(1 << 30);
        bad.push_back(b.Get());
    }
    {
        Builder b;
        b.F(1.0f).I(2);
        row(b, 1.0f);
        row(b, std::numeric_limits<float>::quiet_NaN());
        bad.push_back(b.Get());
    }
    {
        Builder b;
        b.F(1.0f).I(2);
        row(b, std::numeric_limits<float>::infinity());
        row(b, 1.0f);
        bad.push_back(b.Get());
    }
    // Every truncation of a good stream.
    Bytes const good = SaveBytes(
        [&](Writer& w)
        {
            TModMatrix other;
            other.Init(3);
            other.Save(w);
        });
    for (std::size_t n = 0; n < good.size(); ++n)
        bad.emplace_back(good.begin(), good.begin() + static_cast<long>(n));

    for (Bytes const& b : bad)
    {
        StringReader r;
        Open(r, b);
        EXPECT_FALSE(m.Load(r));
        EXPECT_EQ(SaveBytes([&](Writer& w) { m.Save(w); }), before);
    }
}

TEST(TModNames, TargetNamesAndErrors)
{
    const char* expected[] = {"<None>",   "Osc Amp.", "Osc Pitch",    "Osc Pan",
                              "Vector X", "Vector Y", "Filter Freq.", "Filter Res."};
    for (int id = -1; id <= 6; ++id)
        EXPECT_STREQ(TGetModTargetName(id), expected[id + 1]);
    for (int id : {-2, 7, 8, 10, 1000})
        EXPECT_STREQ(TGetModTargetName(id), "Error in TGetModTargetName");
    for (int id : {-1, 0, 13, 99})
        EXPECT_STREQ(TGetModSourceName(id), "");
}

TEST(TModNames, TargetListOffersTheVoiceInputsInMenuOrder)
{
    CascadeList list;
    TCreateModTargetList(&list);
    std::vector<std::string> got;
    for (CascadeList::Entry const& e : list.GetEntries())
    {
        if (!e.item)
            got.push_back("-");
        else
        {
            EXPECT_EQ(e.item->data, nullptr);
            EXPECT_FALSE(e.item->ownsData);
            got.push_back(e.item->name + "=" + std::to_string(e.item->id));
        }
    }
    EXPECT_EQ(got, (std::vector<std::string>{"Osc Pitch=1", "Osc Pan=2", "Osc Amp.=0", "-", "Vector X=3",
                                             "Vector Y=4", "-", "Filter Freq.=5", "Filter Res.=6"}));
    // The chosen item's id is the target id.
    auto old = CascadeList::SetChooser([](CascadeList& l, Window*, long, long) { return l.GetItem(4); });
    CascadeList::Item* chosen = list.DoPopup(nullptr, 0, 0);
    CascadeList::SetChooser(old);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(TGetModTargetName(static_cast<int>(chosen->id)), std::string("Vector Y"));
}
