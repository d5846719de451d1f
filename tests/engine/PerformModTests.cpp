#include "ModulationTestSupport.h"
#include "engine/PerformMod.h"
#include "framework/MidiLearn.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>
#include <vector>

using namespace modtest;

namespace
{
// Records the row setter calls, and whether the plug-in mutex was held during each.
class FakeInstrument : public TModRowSetter
{
public:
    explicit FakeInstrument(AudioAPI::Mutex* m = nullptr) : mutex(m) {}

    void SetModulationEnabled(int row, bool on, int voice) override
    {
        Record("enabled", row, on ? 1 : 0, voice);
    }
    void SetModulationSource(int row, int id, int voice) override { Record("source", row, id, voice); }
    void SetModulationTarget(int row, int id, int voice) override { Record("target", row, id, voice); }

    std::vector<std::string> calls;
    bool alwaysLocked = true;

private:
    void Record(char const* what, int row, int value, int voice)
    {
        calls.push_back(std::string(what) + " " + std::to_string(row) + " " + std::to_string(value) + " " +
                        std::to_string(voice));
        if (mutex)
        {
            bool claimed = false;
            std::thread other(
                [&]
                {
                    claimed = mutex->TryClaim();
                    if (claimed) mutex->Release();
                });
            other.join();
            alwaysLocked = alwaysLocked && !claimed;
        }
    }
    AudioAPI::Mutex* mutex;
};

std::vector<std::string> Expected(char const* what, int row, int value, std::initializer_list<int> voices)
{
    std::vector<std::string> out;
    for (int v : voices)
        out.push_back(std::string(what) + " " + std::to_string(row) + " " + std::to_string(value) + " " +
                      std::to_string(v));
    return out;
}

Points Curve(PerformModSource& pad, int output, long length)
{
    Envelope out(1);
    pad.CreateModEnvelope(&out, length, output);
    Points points;
    for (long i = 0; i < out.Size(); ++i)
        points.emplace_back(out[i].time, out[i].values[0]);
    return points;
}

struct Pads
{
    MidiLearnManager learn;
    AudioAPI::Mutex mutex;
    FakeInstrument instrument{&mutex};
    PerformMods mods;
    Pads() { mods.Create(&instrument, &learn, &mutex); }
    PerformModSource& operator[](int i) { return *mods.GetSource(i); }
};

Bytes SaveMods(PerformMods& m)
{
    return SaveBytes([&](Writer& w) { m.Save(w); });
}

bool LoadMods(PerformMods& m, Bytes const& b)
{
    StringReader r;
    Open(r, b);
    return m.Load(r);
}
} // namespace

TEST(PerformModSource, SmoothsHalfwayPerBlock)
{
    Pads p;
    PerformModSource& pad = p[0];
    pad.X = 1.0f;
    const float expected[] = {0.5f, 0.75f, 0.875f};
    for (float e : expected)
    {
        pad.NextBuffer();
        EXPECT_EQ(pad.GetCurrentX(), e);
    }
    EXPECT_EQ(Curve(pad, 0, 128), (Points{{0.0f, 0.75f}, {128.0f, 0.875f}}));
    // Y did not move: its output is flat at its value.
    EXPECT_EQ(Curve(pad, 1, 128), (Points{{0.0f, 0.0f}, {128.0f, 0.0f}}));
    pad.Y = -0.5f;
    for (int i = 0; i < 60; ++i)
        pad.NextBuffer();
    EXPECT_EQ(Curve(pad, 1, 64), (Points{{0.0f, -0.5f}, {64.0f, -0.5f}}));
    EXPECT_EQ(Curve(pad, 7, 64), Curve(pad, 1, 64)); // any output but 0 is Y
}

TEST(PerformModSource, NamesAndMidiLearnRegistration)
{
    Pads p;
    for (int i = 0; i < PerformMods::kNumPads; ++i)
    {
        const std::string instance = std::to_string(i + 1);
        EXPECT_STREQ(p[i].X.GetName(), "X");
        EXPECT_STREQ(p[i].Y.GetInstanceName(), instance.c_str());
        EXPECT_EQ(p[i].X.GetScope(), Parameter::Internal);
        EXPECT_EQ(p[i].X.GetMinValue(), -1.0f);
        EXPECT_EQ(static_cast<float>(p[i].X), 0.0f);
        EXPECT_EQ(p[i].X.GetMidiLearnManager(), &p.learn);
        EXPECT_EQ(p.learn.FindGlobalParameter("X", instance.c_str()), &p[i].X);
        EXPECT_EQ(p.learn.FindGlobalParameter("Y", instance.c_str()), &p[i].Y);
        EXPECT_EQ(p[i].FindParameter("Y", false), &p[i].Y);
    }
    EXPECT_EQ(p.mods.GetSource(6), nullptr);
    EXPECT_EQ(p.mods.GetSource(-1), nullptr);
}

TEST(PerformModMapping, AllLayersThenDisableUnderTheMutex)
{
    Pads p;
    p[1].SetMapping(true, 0, 4, 3);
    std::vector<std::string> expected;
    for (int layer = 0; layer < 4; ++layer)
    {
        expected.push_back("enabled 7 1 " + std::to_string(layer));
        expected.push_back("source 7 3 " + std::to_string(layer));
        expected.push_back("target 7 3 " + std::to_string(layer));
    }
    EXPECT_EQ(p.instrument.calls, expected);
    EXPECT_TRUE(p.instrument.alwaysLocked);
    EXPECT_TRUE(p[1].GetMapping(0).enabled);
    EXPECT_EQ(p[1].GetMapping(0).voice, 4);

    p.instrument.calls.clear();
    p[1].SetMapping(false, 0, 0, -1);
    EXPECT_EQ(p.instrument.calls, Expected("enabled", 7, 0, {0, 1, 2, 3}));
    EXPECT_FALSE(p[1].GetMapping(0).enabled);
    EXPECT_EQ(p[1].GetMapping(0).target, -1);
}

TEST(PerformModMapping, YAxisOfOneLayerMovesToAnother)
{
    Pads p;
    p[3].SetMapping(true, 1, 2, 5);
    EXPECT_EQ(p.instrument.calls,
              (std::vector<std::string>{"enabled 12 1 2", "source 12 9 2", "target 12 5 2"}));
    p.instrument.calls.clear();
    p[3].SetMapping(true, 1, 0, 6);
    EXPECT_EQ(p.instrument.calls, (std::vector<std::string>{"enabled 12 0 2", "enabled 12 1 0",
                                                            "source 12 9 0", "target 12 6 0"}));
    EXPECT_EQ(p[3].GetMapping(1).target, 6);
    EXPECT_FALSE(p[3].GetMapping(0).enabled);
}

TEST(PerformModMapping, PadsFourAndFiveOnlyStoreTheirMapping)
{
    Pads p;
    p[4].SetMapping(true, 0, 4, 1);
    p[5].SetMapping(true, 1, 3, 2);
    p[5].SetMapping(false, 1, 3, 2);
    EXPECT_TRUE(p.instrument.calls.empty());
    EXPECT_TRUE(p[4].GetMapping(0).enabled);
    EXPECT_EQ(p[4].GetMapping(0).target, 1);
    EXPECT_FALSE(p[5].GetMapping(1).enabled);
    EXPECT_EQ(p[5].GetMapping(1).voice, 3);
}

TEST(PerformModMapping, BadAxisOrLayerIsIgnored)
{
    Pads p;
    p[0].SetMapping(true, 2, 0, 1);
    p[0].SetMapping(true, 0, 5, 1);
    p[0].SetMapping(true, 1, -1, 1);
    EXPECT_TRUE(p.instrument.calls.empty());
    EXPECT_FALSE(p[0].GetMapping(0).enabled);
    EXPECT_FALSE(p[0].GetMapping(1).enabled);

    // Without an instrument a mapping is only stored.
    PerformModSource alone;
    alone.SetMapping(true, 0, 1, 4);
    EXPECT_TRUE(alone.GetMapping(0).enabled);
}

TEST(PerformModMapping, ResetClearsMappingsWithoutTouchingRows)
{
    Pads p;
    p[2].SetMapping(true, 0, 1, 0);
    p[2].X = 0.5f;
    p[2].NextBuffer();
    p.instrument.calls.clear();
    p.mods.Reset();
    EXPECT_TRUE(p.instrument.calls.empty());
    EXPECT_FALSE(p[2].GetMapping(0).enabled);
    EXPECT_EQ(p[2].GetMapping(0).target, -1);
    EXPECT_EQ(static_cast<float>(p[2].X), 0.0f);
    EXPECT_EQ(p[2].GetCurrentX(), 0.0f);
    EXPECT_EQ(Curve(p[2], 0, 10), (Points{{0.0f, 0.0f}, {10.0f, 0.0f}}));
}

TEST(PerformModsStream, LayoutFieldByFieldAndRoundTrip)
{
    Pads p;
    p[0].X = 0.25f;
    p[5].Y = -1.0f;
    p[1].SetMapping(true, 1, 4, 6);
    p[5].SetMapping(true, 0, 2, 3);
    Builder b;
    b.F(1.0f);
    for (int i = 0; i < 6; ++i)
    {
        b.F(1.0f).F(1.0f).F(i == 0 ? 0.25f : 0.0f).F(i == 5 ? -1.0f : 0.0f);
        if (i == 5)
            b.B(true).I(2).I(3);
        else
            b.B(false).I(0).I(-1);
        if (i == 1)
            b.B(true).I(4).I(6);
        else
            b.B(false).I(0).I(-1);
    }
    Bytes const stored = SaveMods(p.mods);
    EXPECT_EQ(stored, b.Get());

    // Loading restores values and mappings, and applies no mapping to the rows.
    Pads q;
    ASSERT_TRUE(LoadMods(q.mods, stored));
    EXPECT_TRUE(q.instrument.calls.empty());
    EXPECT_EQ(SaveMods(q.mods), stored);
    EXPECT_EQ(static_cast<float>(q[0].X), 0.25f);
    EXPECT_TRUE(q[1].GetMapping(1).enabled);
    EXPECT_EQ(q[1].GetMapping(1).voice, 4);
}

TEST(PerformModsStream, ScalesScaleThePadPosition)
{
    Builder b;
    b.F(7.0f); // the version is not read
    for (int i = 0; i < 6; ++i)
        b.F(0.5f).F(-2.0f).F(1.0f).F(0.25f).B(false).I(0).I(-1).B(false).I(0).I(-1);
    Pads p;
    ASSERT_TRUE(LoadMods(p.mods, b.Get()));
    EXPECT_EQ(p[3].GetXScale(), 0.5f);
    p.mods.NextBuffer();
    EXPECT_EQ(p[3].GetCurrentX(), 0.25f);
    EXPECT_EQ(p[3].GetCurrentY(), -0.25f);
}

TEST(PerformModsStream, RefusedStreamsChangeNoPad)
{
    Pads p;
    p[2].X = 0.5f;
    p[4].SetMapping(true, 1, 1, 2);
    Bytes const before = SaveMods(p.mods);

    Pads other;
    other[0].SetMapping(true, 0, 3, 5);
    Bytes const good = SaveMods(other.mods);
    std::vector<Bytes> bad;
    for (std::size_t n = 0; n < good.size(); ++n)
        bad.emplace_back(good.begin(), good.begin() + static_cast<long>(n));
    auto patchFloat = [&](std::size_t at, float v)
    {
        Bytes b = good;
        Builder f;
        f.F(v);
        std::copy(f.Get().begin(), f.Get().end(), b.begin() + static_cast<long>(at));
        bad.push_back(b);
    };
    const std::size_t pad = 4 * 4 + 2 * 9;                                // bytes per pad
    patchFloat(4, std::numeric_limits<float>::quiet_NaN());               // pad 0 X scale
    patchFloat(4 + pad * 3 + 12, std::numeric_limits<float>::infinity()); // pad 3 Y
    {
        Bytes b = good;
        b[4 + pad * 5 + 16 + 1] = 5; // pad 5 X mapping: layer 5
        bad.push_back(b);
    }
    {
        Bytes b = good;
        b[4 + pad * 2 + 16 + 9 + 1 + 3] = 0x80; // pad 2 Y mapping: a negative layer
        bad.push_back(b);
    }
    for (Bytes const& b : bad)
    {
        EXPECT_FALSE(LoadMods(p.mods, b));
        EXPECT_EQ(SaveMods(p.mods), before);
    }
    EXPECT_TRUE(p.instrument.calls.size() == 0);
}
