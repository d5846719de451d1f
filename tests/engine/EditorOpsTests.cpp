// The instrument operations the editors call on layer definitions: locked copies of lines,
// loop region and waves, loop and breakpoint changes, wave rebuilds, line and layer copies.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "EditingTestSupport.h"

using namespace editing;
namespace fs = std::filesystem;

namespace
{

constexpr double kTwoPi = 6.283185307179586;

std::vector<float> Cycle(Torvane& t, int layer, int slot)
{
    std::vector<float> out;
    t.CopyWaveCycle(layer, slot, out);
    return out;
}

// Amplitude of harmonic h of one cycle (a plain DFT bin, scaled so a unit sine gives 1).
double Harmonic(std::vector<float> const& cycle, int h)
{
    double re = 0.0;
    double im = 0.0;
    double const n = static_cast<double>(cycle.size());
    for (std::size_t i = 0; i < cycle.size(); ++i)
    {
        double const x = kTwoPi * h * static_cast<double>(i) / n;
        re += cycle[i] * std::cos(x);
        im += cycle[i] * std::sin(x);
    }
    return 2.0 * std::hypot(re, im) / n;
}

// Starts each test from the shared instrument's editing state and puts its patch back after.
class EditorOps : public ::testing::Test
{
protected:
    void SetUp() override
    {
        t = &FreshInstrument();
        int size = 0;
        char const* data = static_cast<char const*>(t->SavePluginState(size));
        saved.assign(data, data + size);
    }
    void TearDown() override
    {
        t->KillAllNotes();
        t->AnimationEnded();
        t->timeFreeze.SetBool(false);
        ASSERT_TRUE(t->RestorePatchState(saved.data(), static_cast<int>(saved.size())));
    }

    Torvane* t = nullptr;
    std::string saved;
};

// ---------------------------------------------------------------------------------------------
// Loop region, timeline copy, breakpoints

TEST_F(EditorOps, LoopFlagAndMarkersKeepTheirOrderAndRefuseBadValues)
{
    t->SetCurrentVoice(2);
    t->SetLoopFlag(-1, true);
    EXPECT_TRUE(t->GetLoopFlag(2));
    EXPECT_FALSE(t->GetLoopFlag(1));
    EXPECT_FALSE(t->GetLoopFlag(7));

    EXPECT_TRUE(t->SetLoopRegion(2, 1000.7f, 5000.0f));
    EXPECT_EQ(t->SetLoopStart(2, 9000.0f), 5000.0f); // stops at the end marker
    EXPECT_EQ(t->SetLoopStart(2, -30.0f), 0.0f);
    EXPECT_EQ(t->SetLoopEnd(2, -30.0f), 0.0f); // stops at the start marker
    EXPECT_EQ(t->SetLoopEnd(2, 7000.9f), 7000.0f);
    EXPECT_EQ(t->SetLoopStart(2, std::nanf("")), 0.0f);
    EXPECT_EQ(t->SetLoopEnd(2, INFINITY), 7000.0f);
    EXPECT_FALSE(t->SetLoopRegion(2, 3000.0f, 2000.0f));
    EXPECT_FALSE(t->SetLoopRegion(2, 0.0f, std::nanf("")));
    EXPECT_FALSE(t->SetLoopRegion(5, 0.0f, 100.0f));

    Torvane::TimelineSnapshot s;
    ASSERT_TRUE(t->CopyTimeline(-1, s));
    EXPECT_EQ(s.layer, 2);
    EXPECT_TRUE(s.looping);
    EXPECT_EQ(s.loopStart, 0.0f);
    EXPECT_EQ(s.loopEnd, 7000.0f);
}

TEST_F(EditorOps, ASoundingVoiceTakesALoopSetWhileItPlays)
{
    HeadlessHost& host = SharedHost();
    host.NoteOn(60, 100);
    host.Render(512);
    ASSERT_TRUE(t->SetLoopRegion(0, 0.0f, 4000.0f));
    t->SetLoopFlag(0, true);
    for (int i = 0; i < 40; ++i)
        host.Render(512);
    float const looped = t->GetAnimationTime();
    EXPECT_GE(looped, 0.0f);
    EXPECT_LE(looped, 4000.0f);

    t->SetLoopFlag(0, false);
    for (int i = 0; i < 20; ++i)
        host.Render(512);
    EXPECT_GT(t->GetAnimationTime(), 4000.0f);
    host.NoteOff(60);
}

TEST_F(EditorOps, TheTimelineCopyHoldsTheLinesAndIsRefilled)
{
    SetPoints(*t, 1, VoiceDef::kFilterLine, {0.0f, 100.0f, 200.0f});
    Torvane::TimelineSnapshot s;
    ASSERT_TRUE(t->CopyTimeline(1, s));
    EXPECT_EQ(s.layer, 1);
    ASSERT_EQ(s.lines.size(), 6u);
    ASSERT_EQ(s.lines[VoiceDef::kFilterLine].Size(), 3);
    EXPECT_EQ(s.lines[VoiceDef::kFilterLine][2].time, 200.0f);
    EXPECT_EQ(Values(s.lines[VoiceDef::kFilterLine][2]), (std::vector<float>{2.5f, 2.5f, 2.5f}));
    EXPECT_EQ(s.lines[VoiceDef::kModulationLine].numValues, 23);

    // Refilled after the layer changed: the copy follows, the layer's own points are not shared.
    SetPoints(*t, 1, VoiceDef::kFilterLine, {0.0f});
    ASSERT_TRUE(t->CopyTimeline(1, s));
    EXPECT_EQ(s.lines[VoiceDef::kFilterLine].Size(), 1);
    s.lines[VoiceDef::kFilterLine][0].values[0] = 99.0f;
    EXPECT_EQ((*t->GetVoiceDef(1)->GetLine(VoiceDef::kFilterLine))[0].values[0], 0.5f);
    EXPECT_FALSE(t->CopyTimeline(4, s));
}

TEST_F(EditorOps, CreateBreakpointReturnsTheIndexOfANewOrExistingPoint)
{
    SetPoints(*t, 0, VoiceDef::kFilterLine, {0.0f, 1000.0f, 2000.0f});
    EventEnvelope& filter = *t->GetVoiceDef(0)->GetLine(VoiceDef::kFilterLine);
    EXPECT_EQ(t->CreateBreakpoint(0, VoiceDef::kFilterLine, 1500.7f), 2);
    ASSERT_EQ(filter.Size(), 4);
    EXPECT_EQ(filter[2].time, 1500.0f);
    EXPECT_EQ(Values(filter[2]), (std::vector<float>{2.0f, 2.0f, 2.0f})); // interpolated
    // At an existing point's time: that point, its first value set.
    EXPECT_EQ(t->CreateBreakpoint(0, VoiceDef::kFilterLine, 1500.0f, 0.25f), 2);
    EXPECT_EQ(filter.Size(), 4);
    EXPECT_EQ(Values(filter[2]), (std::vector<float>{0.25f, 2.0f, 2.0f}));
    EXPECT_EQ(t->CreateBreakpoint(-1, VoiceDef::kAmplitudeLine, 300000.0f, 0.5f), 3);
    EXPECT_EQ((*t->GetVoiceDef(0)->GetLine(0))[3].values[0], 0.5f);

    EXPECT_EQ(t->CreateBreakpoint(0, VoiceDef::kFilterLine, -20.0f), 0);
    EXPECT_EQ(t->CreateBreakpoint(0, VoiceDef::kFilterLine, 500.0f, std::nanf("")), -1);
    EXPECT_EQ(t->CreateBreakpoint(0, VoiceDef::kFilterLine, INFINITY), -1);
    EXPECT_EQ(t->CreateBreakpoint(0, 6, 500.0f), -1);
    EXPECT_EQ(t->CreateBreakpoint(4, VoiceDef::kFilterLine, 500.0f), -1);
    EXPECT_EQ(Times(*t, 0, VoiceDef::kFilterLine), (std::vector<float>{0.0f, 1000.0f, 1500.0f, 2000.0f}));
}

TEST_F(EditorOps, BothSetEventFormsAgreeWhileANoteIsFollowed)
{
    AttachedEditor editor(*t);
    t->animationEnabled.SetBool(true);
    SetPoints(*t, 0, VoiceDef::kFilterLine, {0.0f, 1000.0f});
    HeadlessHost& host = SharedHost();
    host.NoteOn(60, 100);
    host.Render(256);
    ASSERT_GE(t->GetAnimationTime(), 0.0f); // the note is followed

    EventEnvelope& filter = *t->GetVoiceDef(0)->GetLine(VoiceDef::kFilterLine);
    t->SetEvent(0, VoiceDef::kFilterLine, 0, 1, 0.9f);
    EXPECT_FALSE(t->SetEvent(0, VoiceDef::kFilterLine, 0, 0.8f));
    EXPECT_EQ(filter[1].values[0], 1.5f);
    EXPECT_EQ(filter[0].values[0], 0.5f);

    t->timeFreeze.SetBool(true);
    t->SetEvent(0, VoiceDef::kFilterLine, 0, 1, 0.9f);
    t->SetEvent(0, VoiceDef::kFilterLine, 0, 0.8f);
    EXPECT_EQ(filter[1].values[0], 0.9f);
    EXPECT_EQ(filter[0].values[0], 0.8f);
    host.NoteOff(60);
}

// ---------------------------------------------------------------------------------------------
// Waves

class EditorOpsWaves : public EditorOps
{
protected:
    void SetUp() override
    {
        EditorOps::SetUp();
        dir = fs::temp_directory_path() / ("torvane_ops_" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        fs::remove_all(dir);
        EditorOps::TearDown();
    }

    // A mono 16-bit PCM file at 44100 Hz.
    std::string WriteWav(char const* name, std::vector<float> const& values)
    {
        auto le = [](std::string& s, std::uint32_t v, int bytes)
        {
            for (int b = 0; b < bytes; ++b)
                s.push_back(static_cast<char>((v >> (8 * b)) & 0xFF));
        };
        std::string data;
        for (float v : values)
            le(data, static_cast<std::uint32_t>(std::lround(v * 32767.0f)), 2);
        std::string file = "RIFF";
        le(file, static_cast<std::uint32_t>(36 + data.size()), 4);
        file += "WAVEfmt ";
        le(file, 16, 4);
        le(file, 1, 2);     // PCM
        le(file, 1, 2);     // one channel
        le(file, 44100, 4); // rate
        le(file, 88200, 4); // bytes per second
        le(file, 2, 2);     // block align
        le(file, 16, 2);    // bits
        file += "data";
        le(file, static_cast<std::uint32_t>(data.size()), 4);
        file += data;
        std::string const path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << file;
        return path;
    }

    fs::path dir;
};

TEST_F(EditorOpsWaves, TheCycleCopyIsTheSlotsFirstLevel)
{
    t->LoadStandardWaveform(1, 2, 2); // sine
    std::vector<float> cycle{1.0f};
    EXPECT_EQ(t->CopyWaveCycle(1, 2, cycle), 4096);
    ASSERT_EQ(cycle.size(), 4096u);
    VectorMipOscWaveDef const& waves = t->GetVoiceDef(1)->waveDef;
    for (std::size_t i = 0; i < cycle.size(); i += 511)
        EXPECT_EQ(cycle[i], waves.levels[0][4 * i + 2]) << i;
    EXPECT_NEAR(Harmonic(cycle, 1), 1.0, 0.01);
    EXPECT_EQ(t->CopyWaveCycle(1, 4, cycle), 0);
    EXPECT_TRUE(cycle.empty());
    EXPECT_EQ(t->CopyWaveCycle(-2, 0, cycle), 0);
}

TEST_F(EditorOpsWaves, PartialsAndDrawnCyclesRebuildOneSlot)
{
    std::vector<float> const other = Cycle(*t, 0, 0);
    float amps[8] = {1.0f, 0.0f, 0.5f};
    ASSERT_TRUE(t->SetWaveFromPartials(0, 1, 8, amps, nullptr));
    std::vector<float> const rebuilt = Cycle(*t, 0, 1);
    EXPECT_EQ(t->GetVoiceDef(0)->waveDef.GetKind(1), kWaveCustom);
    EXPECT_NEAR(Harmonic(rebuilt, 3) / Harmonic(rebuilt, 1), 0.5, 0.01);
    EXPECT_LT(Harmonic(rebuilt, 2), 1e-3 * Harmonic(rebuilt, 1));
    EXPECT_EQ(Cycle(*t, 0, 0), other);

    // A drawn square: odd harmonics 1/h, no even ones.
    std::vector<float> square(4096);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = i < 2048 ? 0.5f : -0.5f;
    ASSERT_TRUE(t->SetWaveFromCycle(0, 2, square.data(), 4096, 256));
    std::vector<float> const drawn = Cycle(*t, 0, 2);
    EXPECT_NEAR(Harmonic(drawn, 3) / Harmonic(drawn, 1), 1.0 / 3.0, 0.01);
    EXPECT_LT(Harmonic(drawn, 2), 1e-3 * Harmonic(drawn, 1));

    // Refusals leave the slot as it was.
    amps[1] = std::nanf("");
    EXPECT_FALSE(t->SetWaveFromPartials(0, 1, 8, amps, nullptr));
    EXPECT_FALSE(t->SetWaveFromPartials(0, 1, 8, nullptr, nullptr));
    EXPECT_FALSE(t->SetWaveFromPartials(0, 4, 0, amps, nullptr));
    EXPECT_FALSE(t->SetWaveFromCycle(0, 2, square.data(), 2048, 256)); // another length
    square[7] = INFINITY;
    EXPECT_FALSE(t->SetWaveFromCycle(0, 2, square.data(), 4096, 256));
    EXPECT_EQ(Cycle(*t, 0, 1), rebuilt);
    EXPECT_EQ(Cycle(*t, 0, 2), drawn);
}

TEST_F(EditorOpsWaves, AnImportedSineIsAPeakOneCycleLedByItsFundamental)
{
    std::vector<float> sine(32768);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<float>(0.3 * std::sin(kTwoPi * 440.0 * static_cast<double>(i) / 44100.0));
    ASSERT_TRUE(t->ImportWave(-1, 3, WriteWav("a440.wav", sine).c_str()));
    std::vector<float> const cycle = Cycle(*t, 0, 3);
    EXPECT_FLOAT_EQ(*std::max_element(cycle.begin(), cycle.end()), 1.0f);
    double const first = Harmonic(cycle, 1);
    for (int h = 2; h < 20; ++h)
        EXPECT_LT(Harmonic(cycle, h), 0.2 * first) << h;

    // Files that can't be read change nothing.
    std::ofstream(dir / "text.wav") << "not a wave file at all, only some text";
    EXPECT_FALSE(t->ImportWave(0, 3, (dir / "text.wav").string().c_str()));
    EXPECT_FALSE(t->ImportWave(0, 3, (dir / "absent.wav").string().c_str()));
    EXPECT_FALSE(t->ImportWave(0, 3, nullptr));
    EXPECT_EQ(Cycle(*t, 0, 3), cycle);
}

// ---------------------------------------------------------------------------------------------
// Lines and layers

TEST_F(EditorOps, LinesAreCopiedAndClearedPerLayer)
{
    SetPoints(*t, 0, VoiceDef::kFilterLine, {0.0f, 100.0f, 200.0f});
    std::vector<float> const copied{0.0f, 100.0f, 200.0f};
    ASSERT_TRUE(t->CopyLine(0, VoiceDef::kFilterLine, 2));
    EXPECT_EQ(Times(*t, 2, VoiceDef::kFilterLine), copied);
    EXPECT_EQ(Times(*t, 1, VoiceDef::kFilterLine), std::vector<float>{0.0f});
    ASSERT_TRUE(t->CopyLine(-1, VoiceDef::kFilterLine, Torvane::kAllOtherLayers));
    for (int layer : {1, 3})
        EXPECT_EQ(Times(*t, layer, VoiceDef::kFilterLine), copied) << layer;
    EXPECT_EQ(Values((*t->GetVoiceDef(3)->GetLine(VoiceDef::kFilterLine))[2]),
              (std::vector<float>{2.5f, 2.5f, 2.5f}));
    EXPECT_FALSE(t->CopyLine(0, VoiceDef::kFilterLine, 0));
    EXPECT_FALSE(t->CopyLine(0, 6, 1));
    EXPECT_FALSE(t->CopyLine(9, VoiceDef::kFilterLine, 1));

    ASSERT_TRUE(t->ClearLine(3, VoiceDef::kFilterLine));
    EventEnvelope const& cleared = *t->GetVoiceDef(3)->GetLine(VoiceDef::kFilterLine);
    ASSERT_EQ(cleared.Size(), 1);
    EXPECT_EQ(Values(cleared[0]), (std::vector<float>{1.0f, 0.0f, 5.0f}));
    EXPECT_EQ(Times(*t, 0, VoiceDef::kFilterLine), copied);
    EXPECT_FALSE(t->ClearLine(3, -1));
}

TEST_F(EditorOps, ALayerCopyTakesLinesSettingsMatrixAndLoopButNotWaves)
{
    VoiceDef& from = *t->GetVoiceDef(0);
    VoiceDef& to = *t->GetVoiceDef(3);
    SetPoints(*t, 0, VoiceDef::kVoiceLine, {0.0f, 500.0f});
    from.parameters[VoiceDef::kUnisonCount] = 3.0f;
    from.parameters[VoiceDef::kFilterOn].SetBool(false);
    from.parameters[VoiceDef::kReleaseTime] = 1000.0f;
    from.parameters[VoiceDef::kTimelineInTempo].SetBool(true);
    from.parameters[VoiceDef::kLayerOn].SetBool(true);
    from.parameters[VoiceDef::kLevel] = 0.2f;
    from.parameters[VoiceDef::kLFO1PositiveOnly].SetBool(true);
    t->SetModulationSource(2, 3, 0);
    t->SetModulationTarget(2, 4, 0);
    ASSERT_TRUE(t->SetLoopRegion(0, 100.0f, 900.0f));
    t->SetLoopFlag(0, true);
    t->LoadStandardWaveform(0, 1, 2);
    std::vector<float> const targetWave = Cycle(*t, 3, 1);
    float const level = static_cast<float>(to.parameters[VoiceDef::kLevel]);

    ASSERT_TRUE(t->CopyLayer(0, 3));
    EXPECT_EQ(Times(*t, 3, VoiceDef::kVoiceLine), (std::vector<float>{0.0f, 500.0f}));
    EXPECT_EQ(static_cast<float>(to.parameters[VoiceDef::kUnisonCount]), 3.0f);
    EXPECT_FALSE(to.parameters[VoiceDef::kFilterOn].GetBool());
    EXPECT_EQ(static_cast<float>(to.parameters[VoiceDef::kReleaseTime]), 1000.0f);
    EXPECT_TRUE(to.parameters[VoiceDef::kTimelineInTempo].GetBool());
    EXPECT_EQ(t->GetModulationSource(2, 3), 3);
    EXPECT_EQ(t->GetModulationTarget(2, 3), 4);
    EXPECT_TRUE(t->GetLoopFlag(3));
    Torvane::TimelineSnapshot s;
    ASSERT_TRUE(t->CopyTimeline(3, s));
    EXPECT_EQ(s.loopStart, 100.0f);
    EXPECT_EQ(s.loopEnd, 900.0f);
    // Not copied: layer on, level, positive-only, waves.
    EXPECT_FALSE(to.parameters[VoiceDef::kLayerOn].GetBool());
    EXPECT_EQ(static_cast<float>(to.parameters[VoiceDef::kLevel]), level);
    EXPECT_FALSE(to.parameters[VoiceDef::kLFO1PositiveOnly].GetBool());
    EXPECT_EQ(Cycle(*t, 3, 1), targetWave);

    ASSERT_TRUE(t->CopyLayer(-1, Torvane::kAllOtherLayers));
    for (int layer : {1, 2})
        EXPECT_EQ(Times(*t, layer, VoiceDef::kVoiceLine), (std::vector<float>{0.0f, 500.0f})) << layer;
    EXPECT_FALSE(t->CopyLayer(2, 2));
    EXPECT_FALSE(t->CopyLayer(0, 7));
}

// ---------------------------------------------------------------------------------------------
// Threads

TEST_F(EditorOpsWaves, OperationsWhileRenderingKeepTheOutputFinite)
{
    HeadlessHost& host = SharedHost();
    t->GetVoiceDef(1)->parameters[VoiceDef::kLayerOn].SetBool(true);
    std::vector<float> sine(8192);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<float>(0.5 * std::sin(kTwoPi * 220.0 * static_cast<double>(i) / 44100.0));
    std::string const wav = WriteWav("a220.wav", sine);

    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::atomic<bool> finite{true};
    std::thread audio(
        [&]
        {
            int key = 48;
            while (!stop.load())
            {
                if (blocks.load() % 4 == 0)
                {
                    host.NoteOff(key);
                    key = 48 + (key - 47) % 24;
                    host.NoteOn(key, 100);
                }
                host.Render(256);
                if (!host.AllFinite()) finite.store(false);
                blocks.fetch_add(1);
            }
            host.NoteOff(key);
            host.Render(64);
        });

    Torvane::TimelineSnapshot s;
    std::vector<float> cycle;
    float amps[16] = {1.0f, 0.5f, 0.25f, 0.125f};
    for (int i = 0; i < 60; ++i)
    {
        int const layer = i % 2;
        t->CopyTimeline(-1, s);
        t->SetLoopFlag(layer, i % 3 != 0);
        t->SetLoopRegion(layer, static_cast<float>(i * 10), static_cast<float>(2000 + i * 97));
        t->SetLoopStart(layer, static_cast<float>(i * 37));
        t->SetLoopEnd(layer, static_cast<float>(3000 + i * 13));
        t->CreateBreakpoint(layer, 1 + i % 5, static_cast<float>((i * 1237) % 20000), 0.3f);
        t->CreateBreakpoint(layer, VoiceDef::kAmplitudeLine, static_cast<float>((i * 733) % 30000), 0.6f);
        if (t->CopyWaveCycle(layer, i % 4, cycle) > 0 && i % 5 == 0)
            t->SetWaveFromCycle(layer, (i + 1) % 4, cycle.data(), static_cast<long>(cycle.size()), 256);
        if (i % 5 == 1) t->SetWaveFromPartials(layer, i % 4, 16, amps, nullptr);
        if (i % 20 == 2) t->ImportWave(layer, 3, wav.c_str());
        t->CopyLine(layer, i % 6, Torvane::kAllOtherLayers);
        if (i % 7 == 0) t->ClearLine(1 - layer, i % 6);
        if (i % 10 == 0) t->CopyLayer(layer, 1 - layer);
        if (i % 15 == 0) t->SetCurrentVoice(1 - layer);
    }
    int const seen = blocks.load();
    while (blocks.load() < seen + 4)
        std::this_thread::yield();
    stop.store(true);
    audio.join();

    EXPECT_TRUE(finite.load());
    EXPECT_GT(blocks.load(), 4);
}

} // namespace
