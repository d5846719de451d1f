// The instrument operations the editors call on layer definitions: locked copies of lines,
// loop region and waves, loop and breakpoint changes, wave rebuilds, line and layer copies.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
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

// Amplitude of harmonic h of one cycle (a plain DFT bin; a unit sine gives 1).
double Harmonic(std::vector<float> const& cycle, int h)
{
    double re = 0.0;
    double im = 0.0;
    for (std::size_t i = 0; i < cycle.size(); ++i)
    {
        double const x = kTwoPi * h * static_cast<double>(i) / static_cast<double>(cycle.size());
        re += cycle[i] * std::cos(x);
        im += cycle[i] * std::sin(x);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(cycle.size());
}

// The shared instrument in its editing state; its patch is put back after each test. Wave files
// go to a folder of the test's own.
class EditorOps : public ::testing::Test
{
protected:
    void SetUp() override
    {
        t = &FreshInstrument();
        int size = 0;
        char const* data = static_cast<char const*>(t->SavePluginState(size));
        saved.assign(data, data + size);
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        fs::remove_all(dir);
        t->KillAllNotes();
        t->AnimationEnded();
        t->timeFreeze.SetBool(false);
        ASSERT_TRUE(t->RestorePatchState(saved.data(), static_cast<int>(saved.size())));
    }

    // A mono 16-bit PCM file at 44100 Hz.
    std::string WriteWav(char const* name, std::vector<float> const& values)
    {
        std::string file;
        auto le = [&file](std::uint32_t v, int bytes)
        {
            for (int b = 0; b < bytes; ++b)
                file.push_back(static_cast<char>((v >> (8 * b)) & 0xFF));
        };
        std::uint32_t const bytes = static_cast<std::uint32_t>(2 * values.size());
        file = "RIFF";
        le(36 + bytes, 4);
        file += "WAVEfmt ";
        // Format chunk: size, PCM, one channel, rate, bytes per second, block align, bits.
        for (auto [v, n] : std::initializer_list<std::pair<std::uint32_t, int>>{
                 {16, 4}, {1, 2}, {1, 2}, {44100, 4}, {88200, 4}, {2, 2}, {16, 2}})
            le(v, n);
        file += "data";
        le(bytes, 4);
        for (float v : values)
            le(static_cast<std::uint32_t>(std::lround(v * 32767.0f)), 2);
        std::string const path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << file;
        return path;
    }

    Torvane* t = nullptr;
    std::string saved;
    fs::path dir = fs::temp_directory_path() / ("torvane_ops_" + std::to_string(::getpid()));
};

TEST_F(EditorOps, LoopMarkersKeepTheirOrderAndASoundingVoiceTakesTheLoop)
{
    EXPECT_TRUE(t->SetLoopRegion(0, 1000.7f, 5000.0f));
    EXPECT_EQ(t->SetLoopStart(0, 9000.0f), 5000.0f); // stops at the end marker
    EXPECT_EQ(t->SetLoopEnd(0, -30.0f), 5000.0f);    // stops at the start marker
    EXPECT_EQ(t->SetLoopEnd(0, std::nanf("")), 5000.0f);
    EXPECT_FALSE(t->SetLoopRegion(0, 3000.0f, 2000.0f));
    EXPECT_FALSE(t->SetLoopRegion(0, 0.0f, INFINITY));
    ASSERT_TRUE(t->SetLoopRegion(-1, 0.0f, 4000.0f));
    EXPECT_FALSE(t->GetLoopFlag(1));

    // Set while the note plays: its time stays in the loop, and runs on once the loop is off.
    HeadlessHost& host = SharedHost();
    host.NoteOn(60, 100);
    host.Render(512);
    t->SetLoopFlag(-1, true);
    EXPECT_TRUE(t->GetLoopFlag(0));
    for (int i = 0; i < 40; ++i)
        host.Render(512);
    EXPECT_LE(t->GetAnimationTime(), 4000.0f);
    t->SetLoopFlag(0, false);
    for (int i = 0; i < 20; ++i)
        host.Render(512);
    EXPECT_GT(t->GetAnimationTime(), 4000.0f);
    host.NoteOff(60);
}

TEST_F(EditorOps, TimelineCopyAndBreakpointsCreatedByIndex)
{
    SetPoints(*t, 1, VoiceDef::kFilterLine, {0.0f, 1000.0f, 2000.0f});
    EXPECT_EQ(t->CreateBreakpoint(1, VoiceDef::kFilterLine, 1500.7f), 2);
    EXPECT_EQ(t->CreateBreakpoint(1, VoiceDef::kFilterLine, 1500.0f, 0.25f), 2); // the same point
    EXPECT_EQ(t->CreateBreakpoint(1, VoiceDef::kFilterLine, 500.0f, std::nanf("")), -1);
    EXPECT_EQ(t->CreateBreakpoint(1, 6, 500.0f), -1);
    ASSERT_TRUE(t->SetLoopRegion(1, 10.0f, 20.0f));

    t->SetCurrentVoice(1);
    Torvane::TimelineSnapshot s;
    ASSERT_TRUE(t->CopyTimeline(-1, s));
    EXPECT_EQ(s.layer, 1);
    EXPECT_EQ(s.loopEnd, 20.0f);
    Envelope const& filter = s.lines[VoiceDef::kFilterLine];
    ASSERT_EQ(filter.Size(), 4);
    EXPECT_EQ(filter[2].time, 1500.0f);
    EXPECT_EQ(Values(filter[2]), (std::vector<float>{0.25f, 2.0f, 2.0f})); // the rest interpolated
    // Refilled after the layer changed; the copy shares nothing with it.
    SetPoints(*t, 1, VoiceDef::kFilterLine, {0.0f});
    ASSERT_TRUE(t->CopyTimeline(1, s));
    EXPECT_EQ(s.lines[VoiceDef::kFilterLine].Size(), 1);
    s.lines[VoiceDef::kFilterLine][0].values[0] = 99.0f;
    EXPECT_EQ((*t->GetVoiceDef(1)->GetLine(VoiceDef::kFilterLine))[0].values[0], 0.5f);
    EXPECT_FALSE(t->CopyTimeline(4, s));
}

TEST_F(EditorOps, BothSetEventFormsAgreeWhileANoteIsFollowed)
{
    AttachedEditor editor(*t);
    SetPoints(*t, 0, VoiceDef::kFilterLine, {0.0f, 1000.0f});
    EventEnvelope& filter = *t->GetVoiceDef(0)->GetLine(VoiceDef::kFilterLine);
    SharedHost().NoteOn(60, 100);
    SharedHost().Render(256);
    ASSERT_GE(t->GetAnimationTime(), 0.0f); // the note is followed

    t->SetEvent(0, VoiceDef::kFilterLine, 0, 1, 0.9f);
    t->SetEvent(0, VoiceDef::kFilterLine, 0, 0.8f);
    EXPECT_EQ(filter[1].values[0], 1.5f);
    EXPECT_EQ(filter[0].values[0], 0.5f);
    t->timeFreeze.SetBool(true);
    t->SetEvent(0, VoiceDef::kFilterLine, 0, 1, 0.9f);
    t->SetEvent(0, VoiceDef::kFilterLine, 0, 0.8f);
    EXPECT_EQ(filter[1].values[0], 0.9f);
    EXPECT_EQ(filter[0].values[0], 0.8f);
}

TEST_F(EditorOps, WavesRebuiltFromPartialsCyclesAndFilesOrLeftAlone)
{
    std::vector<float> const saw = Cycle(*t, 0, 0);
    ASSERT_EQ(saw.size(), 4096u);
    EXPECT_EQ(saw[100], t->GetVoiceDef(0)->waveDef.levels[0][400]);
    std::vector<float> none(3);
    EXPECT_EQ(t->CopyWaveCycle(0, 4, none), 0);
    EXPECT_TRUE(none.empty());

    float amps[8] = {1.0f, 0.0f, 0.5f};
    ASSERT_TRUE(t->SetWaveFromPartials(0, 1, 8, amps, nullptr));
    std::vector<float> const partials = Cycle(*t, 0, 1);
    EXPECT_NEAR(Harmonic(partials, 3) / Harmonic(partials, 1), 0.5, 0.01);
    EXPECT_EQ(Cycle(*t, 0, 0), saw);

    std::vector<float> square(4096, 0.5f);
    std::fill(square.begin() + 2048, square.end(), -0.5f);
    ASSERT_TRUE(t->SetWaveFromCycle(0, 2, square.data(), 4096, 256));
    std::vector<float> const drawn = Cycle(*t, 0, 2);
    EXPECT_NEAR(Harmonic(drawn, 3) / Harmonic(drawn, 1), 1.0 / 3.0, 0.01);
    EXPECT_LT(Harmonic(drawn, 2), 1e-3 * Harmonic(drawn, 1));

    std::vector<float> sine(32768);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<float>(0.3 * std::sin(kTwoPi * 440.0 * static_cast<double>(i) / 44100.0));
    ASSERT_TRUE(t->ImportWave(0, 3, WriteWav("a440.wav", sine).c_str()));
    std::vector<float> const imported = Cycle(*t, 0, 3);
    EXPECT_FLOAT_EQ(*std::max_element(imported.begin(), imported.end()), 1.0f);
    for (int h = 2; h < 20; ++h)
        EXPECT_LT(Harmonic(imported, h), 0.2 * Harmonic(imported, 1)) << h;

    // Refusals leave every slot as it was.
    amps[1] = std::nanf("");
    EXPECT_FALSE(t->SetWaveFromPartials(0, 1, 8, amps, nullptr));
    EXPECT_FALSE(t->SetWaveFromCycle(0, 2, square.data(), 2048, 256)); // not the table's length
    std::ofstream(dir / "text.wav") << "only some text";
    EXPECT_FALSE(t->ImportWave(0, 3, (dir / "text.wav").string().c_str()));
    EXPECT_FALSE(t->ImportWave(0, 3, (dir / "absent.wav").string().c_str()));
    EXPECT_EQ(Cycle(*t, 0, 1), partials);
    EXPECT_EQ(Cycle(*t, 0, 2), drawn);
    EXPECT_EQ(Cycle(*t, 0, 3), imported);
}

// Every file either gives a sounding wave or is refused with its reason, the slot as it was; a
// silent file imports as silence.
TEST_F(EditorOps, ShortOrCycleLessImportsAreRefused)
{
    auto const cycle = [](char shape, int frames, double hz)
    {
        std::vector<float> v(static_cast<std::size_t>(frames));
        for (std::size_t i = 0; i < v.size(); ++i)
        {
            double const phase = hz > 0.0 ? std::fmod(hz * static_cast<double>(i) / 44100.0, 1.0)
                                          : (static_cast<double>(i) + 0.5) / frames;
            v[i] = static_cast<float>(shape == 's'   ? 0.5 * std::sin(kTwoPi * phase)
                                      : shape == 'q' ? (phase < 0.5 ? 0.5 : -0.5)
                                      : shape == 'w' ? phase - 0.5
                                                     : 0.0);
        }
        return v;
    };
    char const* const kShort = "it is too short to hold a cycle the import can find";
    char const* const kNone = "no cycle was found in it";
    struct Row
    {
        char shape; // sine, square, saw or silence
        int frames;
        double hz;          // 0: one cycle over the file
        char const* whyNot; // null: imported
    };
    std::vector<Row> const rows = {
        {'s', 2, 0, kShort},     {'s', 4, 0, kShort},      {'s', 8, 0, kShort},     {'s', 16, 0, kShort},
        {'s', 32, 0, kShort},    {'s', 64, 0, kShort},     {'s', 128, 0, nullptr},  {'s', 600, 0, nullptr},
        {'s', 2048, 0, nullptr}, {'q', 2, 0, kShort},      {'q', 4, 0, kShort},     {'q', 8, 0, kShort},
        {'q', 16, 0, kShort},    {'q', 32, 0, kShort},     {'q', 64, 0, nullptr},   {'q', 128, 0, nullptr},
        {'q', 600, 0, nullptr},  {'q', 2048, 0, nullptr},  {'w', 2, 0, kShort},     {'w', 4, 0, kShort},
        {'w', 8, 0, kShort},     {'w', 16, 0, kShort},     {'w', 32, 0, kShort},    {'w', 64, 0, kShort},
        {'w', 128, 0, nullptr},  {'w', 600, 0, nullptr},   {'w', 2048, 0, nullptr}, {'s', 8, 441, kShort},
        {'s', 32, 441, kShort},  {'s', 128, 441, nullptr}, {'s', 32768, 1, kNone},  {'0', 4096, 0, nullptr},
    };
    for (Row const& row : rows)
    {
        std::string const name = std::string(1, row.shape) + std::to_string(row.frames) + "_" +
                                 std::to_string(static_cast<int>(row.hz)) + ".wav";
        ASSERT_NE(t->LoadStandardWaveform(0, 3, 0), nullptr);
        std::vector<float> const before = Cycle(*t, 0, 3);
        std::string whyNot;
        bool const imported = t->ImportWave(
            0, 3, WriteWav(name.c_str(), cycle(row.shape, row.frames, row.hz)).c_str(), &whyNot);
        std::vector<float> const after = Cycle(*t, 0, 3);
        float const peak = *std::max_element(after.begin(), after.end());
        EXPECT_EQ(imported, row.whyNot == nullptr) << name;
        EXPECT_EQ(whyNot, row.whyNot != nullptr ? row.whyNot : "") << name;
        if (!imported)
            EXPECT_EQ(after, before) << name;
        else
            EXPECT_FLOAT_EQ(peak, row.shape == '0' ? 0.0f : 1.0f) << name;
    }

    // A file whose format names no channels.
    std::string const none = WriteWav("none.wav", cycle('s', 600, 0));
    std::fstream(none, std::ios::in | std::ios::out | std::ios::binary).seekp(22).put('\0');
    std::string whyNot;
    EXPECT_FALSE(t->ImportWave(0, 3, none.c_str(), &whyNot));
    EXPECT_EQ(whyNot, "it has no channels");
}

TEST_F(EditorOps, LinesAndLayersAreCopiedAndCleared)
{
    std::vector<float> const times{0.0f, 100.0f, 200.0f};
    SetPoints(*t, 0, VoiceDef::kFilterLine, {0.0f, 100.0f, 200.0f});
    ASSERT_TRUE(t->CopyLine(0, VoiceDef::kFilterLine, 2));
    EXPECT_EQ(Times(*t, 1, VoiceDef::kFilterLine), std::vector<float>{0.0f});
    ASSERT_TRUE(t->CopyLine(-1, VoiceDef::kFilterLine, Torvane::kAllOtherLayers));
    for (int layer : {1, 2, 3})
        EXPECT_EQ(Times(*t, layer, VoiceDef::kFilterLine), times) << layer;
    EXPECT_FALSE(t->CopyLine(0, VoiceDef::kFilterLine, 0));
    ASSERT_TRUE(t->ClearLine(3, VoiceDef::kFilterLine));
    EXPECT_EQ(Values((*t->GetVoiceDef(3)->GetLine(VoiceDef::kFilterLine))[0]),
              (std::vector<float>{1.0f, 0.0f, 5.0f}));
    EXPECT_EQ(Times(*t, 0, VoiceDef::kFilterLine), times);

    VoiceDef& from = *t->GetVoiceDef(0);
    VoiceDef& to = *t->GetVoiceDef(3);
    from.parameters[VoiceDef::kUnisonCount] = 3.0f;
    from.parameters[VoiceDef::kTimelineInTempo].SetBool(true);
    from.parameters[VoiceDef::kLayerOn].SetBool(true);
    from.parameters[VoiceDef::kLevel] = 0.2f;
    t->SetModulationSource(2, 3, 0);
    ASSERT_TRUE(t->SetLoopRegion(0, 100.0f, 900.0f));
    t->LoadStandardWaveform(0, 1, 2);
    std::vector<float> const wave = Cycle(*t, 3, 1);
    float const level = static_cast<float>(to.parameters[VoiceDef::kLevel]);
    ASSERT_TRUE(t->CopyLayer(0, 3));
    EXPECT_EQ(Times(*t, 3, VoiceDef::kFilterLine), times);
    EXPECT_EQ(static_cast<float>(to.parameters[VoiceDef::kUnisonCount]), 3.0f);
    EXPECT_TRUE(to.parameters[VoiceDef::kTimelineInTempo].GetBool());
    EXPECT_EQ(t->GetModulationSource(2, 3), 3);
    EXPECT_EQ(to.loop.end, 900.0f);
    // Not copied: the layer switch, the level and the waves.
    EXPECT_FALSE(to.parameters[VoiceDef::kLayerOn].GetBool());
    EXPECT_EQ(static_cast<float>(to.parameters[VoiceDef::kLevel]), level);
    EXPECT_EQ(Cycle(*t, 3, 1), wave);
    EXPECT_FALSE(t->CopyLayer(0, 7));
}

TEST_F(EditorOps, OperationsWhileRenderingKeepTheOutputFinite)
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
            for (int key = 48; !stop.load(); blocks.fetch_add(1))
            {
                if (blocks.load() % 4 == 0)
                {
                    host.NoteOff(key);
                    key = 48 + (key - 47) % 24;
                    host.NoteOn(key, 100);
                }
                host.Render(256);
                if (!host.AllFinite()) finite.store(false);
            }
        });

    // Another thread replaces waves of the same layers meanwhile: a command whose waves changed
    // while it built builds again.
    std::thread shapes(
        [&]
        {
            for (int j = 0; j < 24; ++j)
                t->LoadStandardWaveform(j % 2, j % 4, (j / 4) % 4);
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
        t->CreateBreakpoint(layer, i % 6, static_cast<float>((i * 1237) % 20000), 0.3f);
        if (t->CopyWaveCycle(layer, i % 4, cycle) > 0 && i % 5 == 0)
            t->SetWaveFromCycle(layer, (i + 1) % 4, cycle.data(), static_cast<long>(cycle.size()), 256);
        if (i % 5 == 1) t->SetWaveFromPartials(layer, i % 4, 16, amps, nullptr);
        if (i % 20 == 2) t->ImportWave(layer, 3, wav.c_str());
        if (i % 12 == 3) t->ResetVoice(layer);
        t->CopyLine(layer, i % 6, Torvane::kAllOtherLayers);
        if (i % 7 == 0) t->ClearLine(1 - layer, i % 6);
        if (i % 10 == 0) t->CopyLayer(layer, 1 - layer);
        if (i % 15 == 0) t->SetCurrentVoice(1 - layer);
    }
    shapes.join();
    int const seen = blocks.load();
    while (blocks.load() < seen + 4)
        std::this_thread::yield();
    stop.store(true);
    audio.join();
    EXPECT_TRUE(finite.load());
}

} // namespace
