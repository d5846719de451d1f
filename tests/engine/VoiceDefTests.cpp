#include "ModulationTestSupport.h"
#include "engine/VoiceDef.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

using namespace modtest;

namespace
{
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

Bytes Save(VoiceDef& d, float version = 0.012f)
{
    return SaveBytes([&](Writer& w) { EXPECT_TRUE(d.Save(w, version)); });
}

bool Load(VoiceDef& d, Bytes const& b)
{
    StringReader r;
    Open(r, b);
    return d.Load(r, 0.012f);
}

// A default layer with something non-default in every stored part.
std::unique_ptr<VoiceDef> EditedLayer(bool customWave)
{
    auto d = std::make_unique<VoiceDef>();
    d->CreateDefault();
    for (int i = 0; i < VoiceDef::kNumParameters; ++i)
        d->parameters[i] = d->parameters[i].GetMaxValue();
    d->parameters[VoiceDef::kUnisonCount] = 3.0f;
    d->parameters[VoiceDef::kLevel] = 0.25f;
    TModMap* row = d->modMatrix.GetMap(2);
    row->enabled = true;
    row->output = kModSourceModWheel;
    row->input = kModTargetFilterFreq;
    row->amount = -0.75f;
    row->amountFromLine = false;
    if (customWave)
    {
        std::vector<float> cycle(4096);
        for (std::size_t i = 0; i < cycle.size(); ++i)
            cycle[i] = std::sin(6.2831853f * 3.0f * static_cast<float>(i) / 4096.0f);
        EXPECT_TRUE(d->waveDef.CreateWithSamples(1, cycle.data(), -1));
    }
    d->loop.looping = true;
    d->loop.start = 1000.0f;
    d->loop.end = 50000.0f;
    float voice[5] = {7.0f, 0.5f, -0.5f, 1.5f, 0.25f};
    d->lines[VoiceDef::kVoiceLine].GetBreakpoints().Add(44100.0f, voice);
    float mod[23] = {};
    mod[6 + 2] = 0.3f;
    d->lines[VoiceDef::kModulationLine].GetBreakpoints().Add(1000.0f, mod);
    return d;
}

// The stream of a layer cut into its parts, so that tests can build older versions and
// corrupt single fields.
struct Parts
{
    float version = 0.012f;
    std::vector<float> params; // as many as the version stores
    Bytes matrix;
    Bytes waves[4];
    float start = 0.0f;
    float end = 0.0f;
    bool looping = false;
    Bytes lines[6];

    explicit Parts(VoiceDef& d)
    {
        for (Parameter& p : d.parameters)
            params.push_back(static_cast<float>(p));
        matrix = SaveBytes([&](Writer& w) { d.modMatrix.Save(w); });
        for (int s = 0; s < 4; ++s)
            waves[s] = SaveBytes([&](Writer& w) { d.waveDef.Save(s, w, 1.0f); });
        start = d.loop.start;
        end = d.loop.end;
        looping = d.loop.looping;
        for (int i = 0; i < 6; ++i)
            lines[i] = SaveBytes([&](Writer& w) { d.lines[i].Save(w); });
    }

    Bytes Build() const
    {
        Builder b;
        b.F(version);
        for (float p : params)
            b.F(p);
        b.Append(matrix);
        for (Bytes const& w : waves)
            b.Append(w);
        b.F(start).F(end).B(looping);
        for (Bytes const& l : lines)
            b.Append(l);
        return b.Get();
    }
};

class VoiceDefTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        defaultLayer = std::make_unique<VoiceDef>();
        defaultLayer->CreateDefault();
        edited = EditedLayer(false);
    }
    static void TearDownTestSuite()
    {
        defaultLayer.reset();
        edited.reset();
    }
    static std::unique_ptr<VoiceDef> defaultLayer;
    static std::unique_ptr<VoiceDef> edited;
};
std::unique_ptr<VoiceDef> VoiceDefTest::defaultLayer;
std::unique_ptr<VoiceDef> VoiceDefTest::edited;
} // namespace

TEST(VoiceDefConstruction, ParametersMatrixLoopAndEmptyLines)
{
    VoiceDef d;
    const float expected[14] = {0, 1, 1, 0, 352800, 1, 1, 1, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 14; ++i)
    {
        EXPECT_EQ(static_cast<float>(d.parameters[i]), expected[i]) << i;
        EXPECT_EQ(d.parameters[i].GetScope(), Parameter::Internal);
        EXPECT_STREQ(d.parameters[i].GetName(), "");
    }
    EXPECT_EQ(d.parameters[VoiceDef::kUnisonCount].GetMaxValue(), 4.0f);
    EXPECT_TRUE(d.parameters[VoiceDef::kUnisonCount].IsDiscrete());
    EXPECT_EQ(d.parameters[VoiceDef::kReleaseTime].GetMinValue(), 256.0f);
    EXPECT_EQ(d.parameters[VoiceDef::kReleaseTime].GetCurveType(), Parameter::CubeLaw);
    EXPECT_EQ(d.parameters[VoiceDef::kLevel].GetCurveType(), Parameter::CubeLaw);
    EXPECT_EQ(d.modMatrix.GetNumMaps(), 16);
    EXPECT_FALSE(d.loop.looping);
    EXPECT_EQ(d.loop.minLength, 512.0f);
    for (int i = 0; i < 6; ++i)
    {
        EXPECT_EQ(d.lines[i].numValues, NUM_EVENTS_IN_EVENTTYPE[i]);
        EXPECT_EQ(d.lines[i].Size(), 0);
    }
    EXPECT_EQ(d.GetLine(6), nullptr);
    EXPECT_EQ(d.GetDuration(), 0.0f);
}

TEST_F(VoiceDefTest, DefaultLayer)
{
    VoiceDef& d = *defaultLayer;
    EXPECT_EQ(d.GetDuration(), 264600.0f);
    EXPECT_EQ(d.waveDef.GetKind(0), kWaveSaw);
    EXPECT_EQ(d.waveDef.GetKind(1), kWaveSilence);
    EXPECT_EQ(d.waveDef.GetKind(2), kWaveSquare);
    EXPECT_EQ(d.waveDef.GetKind(3), kWaveSilence);
    EXPECT_EQ(d.loop.end, 132300.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(d.parameters[VoiceDef::kLevel]), 0.7f);
    EXPECT_FALSE(d.parameters[VoiceDef::kLFO1Sync].GetBool());
    EXPECT_TRUE(d.parameters[VoiceDef::kLoopAfterRelease].GetBool()); // kept from construction
    EXPECT_EQ(static_cast<float>(d.parameters[VoiceDef::kReleaseTime]), 352800.0f);

    EventEnvelope& amp = d.lines[VoiceDef::kAmplitudeLine];
    ASSERT_EQ(amp.Size(), 3);
    EXPECT_EQ(amp[1].time, 220500.0f);
    EXPECT_FLOAT_EQ(amp[1].values[0], 0.7f);
    EXPECT_EQ(amp[2].values[0], 0.0f);
    EventEnvelope& mod = d.lines[VoiceDef::kModulationLine];
    ASSERT_EQ(mod.Size(), 1);
    const float expected[23] = {1, 0.05f, 0, 1, 0.05f, 0, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 1,
                                1, 1,     1, 1, 1,     1, 1,    1,    1,    1,    1};
    for (int k = 0; k < 23; ++k)
        EXPECT_EQ(mod[0].values[k], expected[k]) << k;
    EXPECT_EQ(d.lines[VoiceDef::kFilterLine][0].values[2], 5.0f);
    EXPECT_EQ(d.lines[VoiceDef::kWaveLine][0].values[0], -1.0f);
}

TEST_F(VoiceDefTest, StreamLayoutFieldByField)
{
    // The default layer, field by field.
    VoiceDef& d = *defaultLayer;
    Builder b;
    b.F(0.012f);
    for (Parameter& p : d.parameters)
        b.F(static_cast<float>(p));
    b.F(1.0f).I(16);
    for (int i = 0; i < 16; ++i)
        b.F(1.0f).B(false).I(-1).I(-1).F(0.0f).B(true);
    for (int kind : {kWaveSaw, kWaveSilence, kWaveSquare, kWaveSilence})
        b.F(1.0f).I(4096).I(128).I(kind);
    b.F(0.0f).F(132300.0f).B(false);
    b.F(1.0f).I(3).I(1).F(0.0f).F(0.7f).F(220500.0f).F(0.7f).F(264600.0f).F(0.0f);
    b.F(1.0f).I(1).I(5).F(0.0f).F(0.0f).F(0.0f).F(0.0f).F(0.1f).F(0.1f);
    b.F(1.0f).I(1).I(3).F(0.0f).F(-1.0f).F(0.0f).F(1.0f);
    b.F(1.0f).I(1).I(3).F(0.0f).F(1.0f).F(0.0f).F(5.0f);
    b.F(1.0f).I(1).I(23).F(0.0f).F(1.0f).F(0.05f).F(0.0f).F(1.0f).F(0.05f).F(0.0f);
    for (int k = 6; k < 11; ++k)
        b.F(0.5f);
    for (int k = 11; k < 23; ++k)
        b.F(1.0f);
    b.F(1.0f).I(1).I(4).F(0.0f).F(0.0f).F(0.0f).F(0.0f).F(0.0f);
    EXPECT_EQ(Save(d), b.Get());
}

TEST_F(VoiceDefTest, RoundTripIsByteExact)
{
    Bytes const stored = Save(*edited);
    VoiceDef copy;
    ASSERT_TRUE(Load(copy, stored));
    EXPECT_EQ(Save(copy), stored);
    EXPECT_EQ(copy.modMatrix.GetMap(2)->output, kModSourceModWheel);
    EXPECT_TRUE(copy.modMatrix.GetMap(2)->secondPass);
    EXPECT_EQ(copy.loop.start, 1000.0f);
    EXPECT_TRUE(copy.loop.looping);
    EXPECT_EQ(static_cast<float>(copy.parameters[VoiceDef::kUnisonCount]), 3.0f);
    EXPECT_EQ(copy.lines[VoiceDef::kVoiceLine][1].values[0], 7.0f); // not migrated
}

TEST_F(VoiceDefTest, CustomWaveRoundTripsUpToTheRebuildsRounding)
{
    // A custom wave is rebuilt from its stored cycle, which moves its samples by a rounding
    // error; every other byte is exact.
    auto source = EditedLayer(true);
    Bytes const stored = Save(*source);
    VoiceDef copy;
    ASSERT_TRUE(Load(copy, stored));
    EXPECT_EQ(copy.waveDef.GetKind(1), kWaveCustom);
    Bytes const again = Save(copy);
    ASSERT_EQ(again.size(), stored.size());
    // version, 14 parameters, the matrix (16 rows), wave 0 and wave 1's header.
    const std::size_t first = 4 + 56 + (8 + 16 * 18) + 16 + 16;
    const std::size_t last = first + 4096 * 4;
    EXPECT_TRUE(std::equal(stored.begin(), stored.begin() + first, again.begin()));
    EXPECT_TRUE(std::equal(stored.begin() + last, stored.end(), again.begin() + last));
    for (std::size_t i = first; i < last; i += 4)
    {
        float a, b;
        std::memcpy(&a, &stored[i], 4);
        std::memcpy(&b, &again[i], 4);
        ASSERT_NEAR(a, b, 1e-5f) << i;
    }
}

TEST_F(VoiceDefTest, Version0002MigratesFlagsAndOctaves)
{
    Parts parts(*edited);
    parts.version = 0.002f;
    // Parameters 0-7 and 13 only.
    parts.params = {parts.params[0], parts.params[1], parts.params[2], parts.params[3], parts.params[4],
                    parts.params[5], parts.params[6], parts.params[7], parts.params[13]};
    VoiceDef d;
    d.parameters[VoiceDef::kTimelineInTempo] = 1.0f;
    d.parameters[VoiceDef::kLFO1PositiveOnly] = 1.0f;
    d.parameters[VoiceDef::kLFO2FreeRunning] = 1.0f;
    ASSERT_TRUE(Load(d, parts.Build()));
    for (int i : {8, 9, 10, 11})
        EXPECT_FALSE(d.parameters[i].GetBool()) << i;
    EXPECT_TRUE(d.parameters[VoiceDef::kTimelineInTempo].GetBool()); // kept
    EXPECT_EQ(static_cast<float>(d.parameters[VoiceDef::kLevel]), 0.25f);
    EXPECT_EQ(static_cast<float>(d.parameters[VoiceDef::kUnisonCount]), 3.0f);
    EventEnvelope& voice = d.lines[VoiceDef::kVoiceLine];
    ASSERT_EQ(voice.Size(), 2);
    EXPECT_EQ(voice[1].values[0], 84.0f);
    EXPECT_EQ(voice[1].values[1], 0.5f);
    EXPECT_EQ(d.loop.end, 50000.0f);
}

TEST_F(VoiceDefTest, Version0003ReadsNoPositiveOnlyFlagsButKeepsSemitones)
{
    Parts parts(*edited);
    parts.version = 0.003f;
    auto& p = parts.params;
    parts.params = {p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[13]};
    VoiceDef d;
    ASSERT_TRUE(Load(d, parts.Build()));
    EXPECT_FALSE(d.parameters[VoiceDef::kLFO1PositiveOnly].GetBool());
    EXPECT_EQ(d.lines[VoiceDef::kVoiceLine][1].values[0], 7.0f);
}

TEST_F(VoiceDefTest, Version0004ReadsPositiveOnlyFlags)
{
    Parts parts(*edited);
    parts.version = 0.004f;
    auto& p = parts.params;
    parts.params = {p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[13]};
    VoiceDef d;
    d.parameters[VoiceDef::kLFO1FreeRunning] = 1.0f;
    ASSERT_TRUE(Load(d, parts.Build()));
    EXPECT_TRUE(d.parameters[VoiceDef::kLFO1PositiveOnly].GetBool());
    EXPECT_TRUE(d.parameters[VoiceDef::kLFO2PositiveOnly].GetBool());
    EXPECT_FALSE(d.parameters[VoiceDef::kLFO1FreeRunning].GetBool());
    EXPECT_FALSE(d.parameters[VoiceDef::kTimelineInTempo].GetBool());
}

TEST_F(VoiceDefTest, Version0010ReadsTimelineInTempoButNotFreeRunning)
{
    Parts parts(*edited);
    parts.version = 0.010f;
    auto& p = parts.params;
    parts.params = {p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[12], p[13]};
    VoiceDef d;
    d.parameters[VoiceDef::kLFO1FreeRunning] = 1.0f;
    d.parameters[VoiceDef::kLFO2FreeRunning] = 1.0f;
    ASSERT_TRUE(Load(d, parts.Build()));
    EXPECT_FALSE(d.parameters[VoiceDef::kLFO1FreeRunning].GetBool());
    EXPECT_FALSE(d.parameters[VoiceDef::kLFO2FreeRunning].GetBool());
    EXPECT_TRUE(d.parameters[VoiceDef::kTimelineInTempo].GetBool());
    EXPECT_EQ(static_cast<float>(d.parameters[VoiceDef::kLevel]), 0.25f);
}

TEST_F(VoiceDefTest, Version0011ReadsEverything)
{
    Parts parts(*edited);
    parts.version = 0.011f;
    VoiceDef d;
    ASSERT_TRUE(Load(d, parts.Build()));
    EXPECT_TRUE(d.parameters[VoiceDef::kLFO2FreeRunning].GetBool());
    // Saved again at the current version it is the edited layer's stream.
    EXPECT_EQ(Save(d), Save(*edited));
}

TEST_F(VoiceDefTest, CorruptStreamsAreRefusedAndChangeNothing)
{
    Parts const good(*edited);
    std::vector<Bytes> bad;
    auto add = [&](auto change)
    {
        Parts p = good;
        change(p);
        bad.push_back(p.Build());
    };
    add([](Parts& p) { p.version = kNaN; });
    add([](Parts& p) { p.version = std::numeric_limits<float>::infinity(); });
    add([](Parts& p) { p.params[5] = kNaN; });
    add([](Parts& p) { p.start = kNaN; });
    add([](Parts& p) { p.end = -std::numeric_limits<float>::infinity(); });
    // Matrices of 15, 17 and -1 rows, and a row amount that is not finite.
    for (int rows : {15, 17})
        add(
            [&](Parts& p)
            {
                TModMatrix m;
                m.Init(rows);
                p.matrix = SaveBytes([&](Writer& w) { m.Save(w); });
            });
    add([](Parts& p) { p.matrix = Builder().F(1.0f).I(-1).Get(); });
    add(
        [](Parts& p)
        {
            TModMatrix m;
            m.Init(16);
            m.GetMap(15)->amount = kNaN;
            p.matrix = SaveBytes([&](Writer& w) { m.Save(w); });
        });
    // Waves: an unknown kind, an unsupported length, a custom wave cut short or with a NaN.
    add([](Parts& p) { p.waves[2] = Builder().F(1.0f).I(4096).I(128).I(6).Get(); });
    add([](Parts& p) { p.waves[3] = Builder().F(1.0f).I(1000).I(128).I(kWaveSaw).Get(); });
    add(
        [](Parts& p)
        {
            Builder b;
            b.F(1.0f).I(16).I(128).I(kWaveCustom);
            for (int i = 0; i < 15; ++i)
                b.F(0.5f);
            p.waves[1] = b.Get();
        });
    add(
        [](Parts& p)
        {
            Builder b;
            b.F(1.0f).I(16).I(128).I(kWaveCustom);
            for (int i = 0; i < 16; ++i)
                b.F(i == 9 ? kNaN : 0.5f);
            p.waves[1] = b.Get();
        });
    // Lines: wrong values per point for their line, a value that is not finite.
    for (int line = 0; line < 6; ++line)
        add(
            [&](Parts& p)
            {
                Envelope e(NUM_EVENTS_IN_EVENTTYPE[line] + 1);
                p.lines[line] = SaveBytes([&](Writer& w) { e.Save(w); });
            });
    add([](Parts& p) { p.lines[0] = Builder().F(1.0f).I(1).I(1).F(0.0f).F(kNaN).Get(); });
    add([](Parts& p) { p.lines[5] = Builder().F(1.0f).I(1).I(4).F(kNaN).F(0).F(0).F(0).F(0).Get(); });
    add([](Parts& p) { p.lines[2] = Builder().F(1.0f).I(1 << 28).I(3).Get(); });
    // Every truncation of the whole stream.
    Bytes const whole = good.Build();
    for (std::size_t n = 0; n < whole.size(); ++n)
        bad.emplace_back(whole.begin(), whole.begin() + static_cast<long>(n));

    VoiceDef d;
    d.CopyFrom(defaultLayer.get());
    d.parameters[VoiceDef::kTimelineInTempo] = 1.0f;
    Bytes const before = Save(d);
    for (std::size_t i = 0; i < bad.size(); ++i)
    {
        ASSERT_FALSE(Load(d, bad[i])) << i;
        ASSERT_EQ(Save(d), before) << i;
    }
    // The good stream still loads into it.
    EXPECT_TRUE(Load(d, whole));
}

TEST_F(VoiceDefTest, CopyFromLeavesLayerFlagsLevelAndWaves)
{
    VoiceDef d;
    d.CreateDefault();
    d.parameters[VoiceDef::kLayerOn] = 1.0f;
    d.parameters[VoiceDef::kLFO2PositiveOnly] = 1.0f;
    d.parameters[VoiceDef::kLFO1FreeRunning] = 1.0f;
    d.parameters[VoiceDef::kLevel] = 0.5f;
    d.loop.minLength = 9.0f;
    auto other = EditedLayer(true);
    other->parameters[VoiceDef::kLayerOn] = 0.0f;
    other->loop.minLength = 700.0f;
    other->loop.position = 12.0f;

    d.CopyFrom(other.get());
    EXPECT_TRUE(d.parameters[VoiceDef::kLayerOn].GetBool());
    EXPECT_TRUE(d.parameters[VoiceDef::kLFO2PositiveOnly].GetBool());
    EXPECT_FALSE(d.parameters[VoiceDef::kLFO1PositiveOnly].GetBool());
    EXPECT_TRUE(d.parameters[VoiceDef::kLFO1FreeRunning].GetBool());
    EXPECT_FALSE(d.parameters[VoiceDef::kLFO2FreeRunning].GetBool());
    EXPECT_EQ(static_cast<float>(d.parameters[VoiceDef::kLevel]), 0.5f);
    EXPECT_EQ(d.waveDef.GetKind(1), kWaveSilence);
    for (int i : {1, 2, 3, 4, 5, 6, 7, 12})
        EXPECT_EQ(static_cast<float>(d.parameters[i]), static_cast<float>(other->parameters[i])) << i;
    EXPECT_EQ(d.modMatrix.GetMap(2)->amount, -0.75f);
    EXPECT_EQ(d.loop.minLength, 700.0f);
    EXPECT_EQ(d.loop.position, 12.0f);
    EXPECT_EQ(d.loop.end, 50000.0f);
    ASSERT_EQ(d.lines[VoiceDef::kVoiceLine].Size(), 2);
    EXPECT_EQ(d.lines[VoiceDef::kVoiceLine][1].values[4], 0.25f);
}

TEST_F(VoiceDefTest, ClearLineOutsideTheSixLinesChangesNothing)
{
    auto d = EditedLayer(false);
    Bytes const before = Save(*d);
    d->ClearLine(6);
    d->ClearLine(-1);
    EXPECT_EQ(Save(*d), before);
    d->ClearLine(VoiceDef::kVoiceLine);
    EXPECT_EQ(d->lines[VoiceDef::kVoiceLine].Size(), 1);
}

// ---------------------------------------------------------------------------------------------
// Stored format: streams written out by hand, field by field.

namespace
{
// A layer stream with the given version and stored parameters. The matrix has 16 rows, row 3
// {enabled, source 12, target 5, amount 0.25, depth from the line off}; the waves are silence,
// sine, a custom cycle (4096 samples, sample i = i / 4096 - 0.5) and silence; the loop is
// 300..90000, looping; the Voice line holds one point at 0 whose pitch offset is 2, the
// Amplitude line two points, the Filter line a stored point count of `filterCount` and no points,
// the other lines none.
Bytes HandLayer(float version, std::vector<float> const& params, int filterCount = 0)
{
    Builder b;
    b.F(version);
    for (float p : params)
        b.F(p);
    b.F(1.0f).I(16);
    for (int row = 0; row < 16; ++row)
    {
        if (row == 3)
            b.F(1.0f).B(true).I(12).I(5).F(0.25f).B(false);
        else
            b.F(1.0f).B(false).I(-1).I(-1).F(0.0f).B(true);
    }
    b.F(1.0f).I(4096).I(128).I(4);
    b.F(1.0f).I(4096).I(128).I(1);
    b.F(1.0f).I(4096).I(128).I(5);
    for (int i = 0; i < 4096; ++i)
        b.F(static_cast<float>(i) / 4096.0f - 0.5f);
    b.F(1.0f).I(4096).I(128).I(4);
    b.F(300.0f).F(90000.0f).B(true);
    b.F(1.0f).I(2).I(1).F(0.0f).F(0.5f).F(1000.0f).F(0.25f);               // Amplitude
    b.F(1.0f).I(1).I(5).F(0.0f).F(2.0f).F(0.5f).F(-0.5f).F(1.0f).F(0.75f); // Voice
    b.F(1.0f).I(0).I(3);                                                   // Wave
    b.F(1.0f).I(filterCount).I(3);                                         // Filter
    b.F(1.0f).I(0).I(23);                                                  // Modulation
    b.F(1.0f).I(0).I(4);                                                   // Effects
    return b.Get();
}

std::vector<float> ParameterValues(VoiceDef& d)
{
    std::vector<float> v;
    for (Parameter& p : d.parameters)
        v.push_back(static_cast<float>(p));
    return v;
}
} // namespace

TEST(VoiceDefFormat, CurrentStreamLoadsAndSavesBackByteForByte)
{
    std::vector<float> const params = {1, 3, 0, 1, 1000, 0, 1, 0, 1, 0, 1, 0, 1, 0.5f};
    Bytes const stored = HandLayer(0.012f, params);
    VoiceDef d;
    ASSERT_TRUE(Load(d, stored));
    EXPECT_EQ(ParameterValues(d), params);
    TModMap const* row = d.modMatrix.GetMap(3);
    EXPECT_TRUE(row->enabled);
    EXPECT_EQ(row->output, 12);
    EXPECT_EQ(row->input, 5);
    EXPECT_EQ(row->amount, 0.25f);
    EXPECT_FALSE(row->amountFromLine);
    EXPECT_EQ(d.waveDef.GetKind(0), kWaveSilence);
    EXPECT_EQ(d.waveDef.GetKind(1), kWaveSine);
    EXPECT_EQ(d.waveDef.GetKind(2), kWaveCustom);
    EXPECT_EQ(d.loop.start, 300.0f);
    EXPECT_EQ(d.loop.end, 90000.0f);
    EXPECT_TRUE(d.loop.looping);
    ASSERT_EQ(d.lines[VoiceDef::kAmplitudeLine].Size(), 2);
    EXPECT_EQ(d.lines[VoiceDef::kAmplitudeLine][1].time, 1000.0f);
    EXPECT_EQ(d.lines[VoiceDef::kVoiceLine][0].values[0], 2.0f);
    EXPECT_EQ(Save(d, 0.012f), stored);
}

TEST(VoiceDefFormat, PositiveOnlyFlagsFollowTheStoredVersionNotItsRounding)
{
    // 0.0039 rounds to n = 4 but lies below 0.004: parameters 8 and 9 are not stored.
    std::vector<float> const stored = {1, 2, 0, 1, 1000, 0, 1, 0, /* 13 */ 0.5f};
    VoiceDef d;
    d.parameters[VoiceDef::kLFO1PositiveOnly] = 1.0f;
    d.parameters[VoiceDef::kLFO2PositiveOnly] = 1.0f;
    d.parameters[VoiceDef::kTimelineInTempo] = 1.0f;
    ASSERT_TRUE(Load(d, HandLayer(0.0039f, stored)));
    std::vector<float> const expected = {1, 2, 0, 1, 1000, 0, 1, 0, 0, 0, 0, 0, /* kept */ 1, 0.5f};
    EXPECT_EQ(ParameterValues(d), expected);
    EXPECT_EQ(d.modMatrix.GetMap(3)->output, 12);                // the fields after the parameters line up
    EXPECT_EQ(d.lines[VoiceDef::kVoiceLine][0].values[0], 2.0f); // semitones already
}

TEST(VoiceDefFormat, OctavesBelowVersion0003BecomeSemitones)
{
    // 0.0029 rounds to n = 3 but lies below 0.003: the Voice line's pitch offset is in octaves.
    VoiceDef d;
    ASSERT_TRUE(Load(d, HandLayer(0.0029f, {0, 1, 1, 0, 352800, 1, 0, 0, 0.7f})));
    EventEnvelope& voice = d.lines[VoiceDef::kVoiceLine];
    ASSERT_EQ(voice.Size(), 1);
    EXPECT_EQ(voice[0].values[0], 24.0f);
    EXPECT_EQ(voice[0].values[1], 0.5f);
    EXPECT_EQ(static_cast<float>(d.parameters[VoiceDef::kLevel]), 0.7f);
}

TEST(VoiceDefFormat, TempoAndFreeRunningFlagsFollowTheRoundedVersion)
{
    // 0.0096 rounds to n = 10: parameter 12 is stored, 10 and 11 are not.
    {
        VoiceDef d;
        d.parameters[VoiceDef::kLFO1FreeRunning] = 1.0f;
        ASSERT_TRUE(Load(d, HandLayer(0.0096f, {0, 1, 1, 0, 352800, 1, 0, 0, 1, 1, /* 12 */ 1, 0.25f})));
        std::vector<float> const expected = {0, 1, 1, 0, 352800, 1, 0, 0, 1, 1, 0, 0, 1, 0.25f};
        EXPECT_EQ(ParameterValues(d), expected);
    }
    // 0.0104 also rounds to n = 10, although it lies above 0.010.
    {
        VoiceDef d;
        d.parameters[VoiceDef::kLFO2FreeRunning] = 1.0f;
        ASSERT_TRUE(Load(d, HandLayer(0.0104f, {0, 1, 1, 0, 352800, 1, 0, 0, 1, 1, /* 12 */ 1, 0.25f})));
        std::vector<float> const expected = {0, 1, 1, 0, 352800, 1, 0, 0, 1, 1, 0, 0, 1, 0.25f};
        EXPECT_EQ(ParameterValues(d), expected);
        EXPECT_EQ(d.loop.end, 90000.0f);
    }
    // 0.0086 rounds to n = 9: parameter 12 is not stored and keeps its value.
    {
        VoiceDef d;
        d.parameters[VoiceDef::kTimelineInTempo] = 1.0f;
        ASSERT_TRUE(Load(d, HandLayer(0.0086f, {0, 1, 1, 0, 352800, 1, 0, 0, 1, 1, 0.25f})));
        std::vector<float> const expected = {0, 1, 1, 0, 352800, 1, 0, 0, 1, 1, 0, 0, 1, 0.25f};
        EXPECT_EQ(ParameterValues(d), expected);
    }
}

TEST(VoiceDefFormat, ALineStoredWithANegativePointCountLoadsEmpty)
{
    std::vector<float> const params = {1, 3, 0, 1, 1000, 0, 1, 0, 1, 0, 1, 0, 1, 0.5f};
    VoiceDef d;
    d.CreateDefault();
    ASSERT_EQ(d.lines[VoiceDef::kFilterLine].Size(), 1);
    ASSERT_TRUE(Load(d, HandLayer(0.012f, params, -3)));
    EXPECT_EQ(d.lines[VoiceDef::kFilterLine].Size(), 0);
    EXPECT_EQ(d.lines[VoiceDef::kEffectsLine].numValues, 4); // the lines after it line up
    EXPECT_EQ(Save(d, 0.012f), HandLayer(0.012f, params, 0));
}
