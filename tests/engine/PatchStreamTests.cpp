#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "engine/Torvane.h"
#include "framework/StandardMaths.h"
#include "framework/Streams.h"
#include "support/RecordingMessageSink.h"
#include "support/engine/HeadlessHost.h"
#include "support/engine/RecordingInstrumentEditor.h"

namespace
{

using Bytes = std::vector<unsigned char>;

// Little-endian fields, written independently of the stream classes.
void PutU32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void PutFloat(Bytes& b, float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    PutU32(b, u);
}
void PutInt(Bytes& b, int v)
{
    PutU32(b, static_cast<std::uint32_t>(v));
}
void PutBool(Bytes& b, bool v)
{
    b.push_back(v ? 1 : 0);
}
// The memory form of a text: length counting the zero, the characters, the zero.
void PutText(Bytes& b, char const* s)
{
    std::size_t const n = std::strlen(s) + 1;
    PutU32(b, static_cast<std::uint32_t>(n));
    b.insert(b.end(), s, s + n);
}
void PutBytes(Bytes& b, Bytes const& more)
{
    b.insert(b.end(), more.begin(), more.end());
}

template <class Save> Bytes Capture(Save save)
{
    String block;
    StringWriter w;
    w.Open(&block);
    save(w);
    w.Close();
    auto const* data = reinterpret_cast<unsigned char const*>(static_cast<char const*>(block));
    return Bytes(data, data + block.GetLength());
}

float Value(Parameter& p)
{
    return static_cast<float>(p);
}

std::string Hex(Bytes const& b, std::size_t from, std::size_t n)
{
    std::string s;
    char cell[4];
    for (std::size_t i = from; i < from + n && i < b.size(); ++i)
    {
        std::snprintf(cell, sizeof cell, "%02X ", b[i]);
        s += cell;
    }
    return s;
}

// A, edited by the tests; B, the instrument states are restored into.
class PatchStream : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        home = new TemporaryDataHome();
        a = new HeadlessHost(true);
        b = new HeadlessHost(true);
        defaultState = new Bytes(b->GetState());
    }
    static void TearDownTestSuite()
    {
        delete defaultState;
        delete b;
        delete a;
        delete home;
    }

    // Every kind of field away from its default, many breakpoints on every layer.
    static void EditPatch(Torvane& t)
    {
        t.keyMode = 2.0f;
        t.portamentoTime = 0.3f;
        t.polyphony = 5.0f;
        t.timeFreeze.SetBool(true);
        t.masterVolume = 0.8f;
        t.pitchBendRange = 7.0f;
        t.SetPatchName("Glass Pad");
        t.SetPatchCategory("Pads");

        PerformMods& pads = *t.GetPerformMods();
        pads.GetSource(0)->X = 0.4f;
        pads.GetSource(3)->Y = -0.25f;
        pads.GetSource(1)->SetMapping(true, 0, 4, kModTargetVectorX);
        pads.GetSource(2)->SetMapping(true, 1, 2, kModTargetPitch);

        t.GetDelayEffect()->enabled.SetBool(true);
        t.GetDelayEffect()->time = 3.0f;
        t.GetDelayEffect()->feedback = 0.7f;
        t.GetReverbEffect()->enabled.SetBool(true);
        t.GetReverbEffect()->mixParam = 0.3f;
        t.GetDistortionEffect()->enabled.SetBool(true);
        t.GetDistortionEffect()->drive = 2.0f;
        t.GetGlobalLowFilter()->enabled.SetBool(true);
        t.GetGlobalLowFilter()->cutoff = 200.0f;
        t.GetGlobalHighFilter()->enabled.SetBool(true);
        t.GetGlobalHighFilter()->cutoff = 8000.0f;

        t.GetVoiceDef(2)->parameters[VoiceDef::kLayerOn].SetBool(true);
        t.GetVoiceDef(2)->parameters[VoiceDef::kLevel] = 0.5f;
        t.GetVoiceDef(1)->parameters[VoiceDef::kTimelineInTempo].SetBool(true);
        t.SetModulationSource(1, kModSourceLFO2, 0);
        t.SetModulationTarget(1, kModTargetFilterFreq, 0);
        for (int layer = 0; layer < 4; ++layer)
        {
            for (int k = 1; k <= 24; ++k)
            {
                t.SetEditTime(static_cast<float>(k * 1000 + layer * 7));
                int const line = k % 6;
                t.SetEvent(layer, line, k % NUM_EVENTS_IN_EVENTTYPE[line], 0.01f * static_cast<float>(k));
            }
        }
        t.SetEditTime(0.0f);
    }

    static TemporaryDataHome* home;
    static HeadlessHost* a;
    static HeadlessHost* b;
    static Bytes* defaultState;
};

TemporaryDataHome* PatchStream::home = nullptr;
HeadlessHost* PatchStream::a = nullptr;
HeadlessHost* PatchStream::b = nullptr;
Bytes* PatchStream::defaultState = nullptr;

} // namespace

// The state of a new instrument: its constructed defaults, field by field.
TEST_F(PatchStream, DefaultStateBlockIsByteExact)
{
    Bytes expected;
    PutFloat(expected, 0.012f);
    PutText(expected, "TORVANE_STATE");
    PutBool(expected, false);
    PutText(expected, "<untitled>");
    PutFloat(expected, 0.0f); // Time Freeze
    PutFloat(expected, 0.0f); // KeyMode
    PutFloat(expected, 8.0f); // Polyphony
    PutFloat(expected, 0.0f); // PortamentoTime
    PutFloat(expected, 1.0f); // the pads
    for (int pad = 0; pad < 6; ++pad)
    {
        PutFloat(expected, 1.0f);
        PutFloat(expected, 1.0f);
        PutFloat(expected, 0.0f);
        PutFloat(expected, 0.0f);
        for (int axis = 0; axis < 2; ++axis)
        {
            PutBool(expected, false);
            PutInt(expected, 0);
            PutInt(expected, -1);
        }
    }
    // Layer 0: version, the fourteen settings, the matrix.
    PutFloat(expected, 0.012f);
    for (float v : {1.0f, 1.0f, 1.0f, 0.0f, 256.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.7f})
        PutFloat(expected, v);
    PutFloat(expected, 1.0f);
    PutInt(expected, 16);
    for (int row = 0; row < 16; ++row)
    {
        PutFloat(expected, 1.0f);
        PutBool(expected, row < 5);
        PutInt(expected, -1);
        PutInt(expected, -1);
        PutFloat(expected, 0.0f);
        PutBool(expected, true);
    }

    Bytes const& state = *defaultState;
    ASSERT_GT(state.size(), expected.size());
    EXPECT_EQ(Hex(state, 0, 4), "A6 9B 44 3C ");
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(state[i], expected[i]) << "byte " << i << ": " << Hex(state, i, 8);

    // The end: "MasterVolume" 1, "PitchBendRange" 2, the empty category.
    Bytes tail;
    PutFloat(tail, 1.0f);
    PutFloat(tail, 2.0f);
    PutText(tail, "");
    ASSERT_EQ(Bytes(state.end() - static_cast<long>(tail.size()), state.end()), tail);

    // The block handed to the host is exactly the bytes written.
    int size = 0;
    void* block = b->Instrument().SavePluginState(size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<std::size_t>(size), state.size());
    Bytes const direct = Capture([](Writer& w) { b->Instrument().SavePreset(w, 0.012f); });
    EXPECT_EQ(direct, state);
}

TEST_F(PatchStream, EditedPatchSurvivesSaveRestoreSaveByteForByte)
{
    Torvane& source = a->Instrument();
    EditPatch(source);
    Bytes const state = a->GetState();
    ASSERT_NE(state, *defaultState);

    RecordingMessageSink messages;
    RecordingInstrumentEditor gui;
    Torvane& target = b->Instrument();
    target.SetGUI(&gui);
    b->SetState(state);
    target.ProcessGUINotifications();
    target.SetGUI(nullptr);
    EXPECT_EQ(gui.patchLoaded.load(), 1);
    EXPECT_TRUE(messages.Messages().empty());

    EXPECT_EQ(b->GetState(), state);
    EXPECT_STREQ(target.GetPatchName(), "Glass Pad");
    EXPECT_STREQ(target.GetPatchCategory(), "Pads");
    EXPECT_EQ(Value(target.keyMode), 2.0f);
    EXPECT_EQ(Value(target.polyphony), 5.0f);
    EXPECT_TRUE(target.timeFreeze.GetBool());
    EXPECT_EQ(Value(target.pitchBendRange), 7.0f);
    EXPECT_TRUE(target.DelayEnabled());
    EXPECT_EQ(Value(target.GetGlobalHighFilter()->cutoff), 8000.0f);
    EXPECT_TRUE(target.GetPerformMods()->GetSource(1)->GetMapping(0).enabled);
    EXPECT_EQ(target.GetModulationSource(7, 3), kModSourcePadX + 1);
    EXPECT_EQ(target.GetModulationSource(1, 0), kModSourceLFO2);
    EXPECT_TRUE(target.enabled.GetBool());
    EXPECT_EQ(target.GetVoiceDef(3)->lines[3].Size(), source.GetVoiceDef(3)->lines[3].Size());

    // And plays.
    b->NoteOn(60, 100);
    b->Render(256);
    EXPECT_TRUE(b->AllFinite());
    b->Instrument().KillAllNotes();
}

TEST_F(PatchStream, BrokenBlocksChangeNothingAndAreReported)
{
    // The default block has every kind of field; restoring it whole into B puts B in a known state.
    Torvane& target = b->Instrument();
    Bytes const good = *defaultState;
    ASSERT_TRUE(target.RestorePatchState(good.data(), static_cast<int>(good.size())));
    Bytes const baseline = b->GetState();
    ASSERT_EQ(baseline, good);

    RecordingMessageSink messages;
    std::size_t failures = 0;
    auto expectRefused = [&](Bytes const& block, int size, char const* what)
    {
        RecordingInstrumentEditor gui;
        target.SetGUI(&gui);
        bool const restored = target.RestorePatchState(block.empty() ? nullptr : block.data(), size);
        target.ProcessGUINotifications();
        target.SetGUI(nullptr);
        ++failures;
        EXPECT_FALSE(restored) << what;
        EXPECT_EQ(gui.patchLoaded.load(), 0) << what;
        EXPECT_TRUE(target.enabled.GetBool()) << what;
        ASSERT_EQ(b->GetState(), baseline) << what;
    };

    // Every truncation.
    for (std::size_t n = 1; n < good.size(); ++n)
        expectRefused(good, static_cast<int>(n), ("truncated to " + std::to_string(n)).c_str());
    // A missing block.
    expectRefused(Bytes(), 12, "no data");
    // A text length beyond the data: the key's and the name's.
    for (std::size_t at : {std::size_t{4}, std::size_t{23}})
    {
        Bytes hostile = good;
        for (std::size_t i = 0; i < 4; ++i)
            hostile[at + i] = 0xFF;
        expectRefused(hostile, static_cast<int>(hostile.size()), "length prefix 0xFFFFFFFF");
    }
    // A newer version, another key.
    Bytes newer = good;
    float const v13 = 0.013f;
    std::memcpy(newer.data(), &v13, 4);
    expectRefused(newer, static_cast<int>(newer.size()), "version 0.013");
    Bytes otherKey = good;
    otherKey[4 + 4 + 12] = 'F';
    expectRefused(otherKey, static_cast<int>(otherKey.size()), "key TORVANE_STATF");

    auto const shown = messages.Messages();
    ASSERT_EQ(shown.size(), failures);
    for (auto const& m : shown)
    {
        EXPECT_EQ(m.text, "Torvane Error: Could not restore plug-in state");
        EXPECT_EQ(m.caption, "");
    }
}

TEST_F(PatchStream, RandomByteFlipsNeverCrashAndFailuresChangeNothing)
{
    Torvane& target = b->Instrument();
    Bytes const good = a->GetState();
    ASSERT_TRUE(target.RestorePatchState(good.data(), static_cast<int>(good.size())));
    Bytes const baseline = b->GetState();

    RecordingMessageSink messages;
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<std::size_t> position(0, good.size() - 1);
    std::uniform_int_distribution<int> flip(1, 255);
    int refused = 0;
    for (int round = 0; round < 300; ++round)
    {
        Bytes block = good;
        int const flips = 1 + round % 3;
        for (int k = 0; k < flips; ++k)
            block[position(random)] ^= static_cast<unsigned char>(flip(random));
        if (!target.RestorePatchState(block.data(), static_cast<int>(block.size())))
        {
            ++refused;
            ASSERT_EQ(b->GetState(), baseline) << "round " << round;
            continue;
        }
        // Accepted: whatever it holds renders finite sound; then back to the baseline.
        b->NoteOn(48 + round % 24, 100);
        b->Render(128);
        ASSERT_TRUE(b->AllFinite()) << "round " << round;
        target.KillAllNotes();
        ASSERT_TRUE(target.RestorePatchState(baseline.data(), static_cast<int>(baseline.size())));
    }
    EXPECT_GT(refused, 0);
    EXPECT_EQ(messages.Messages().size(), static_cast<std::size_t>(refused));
}

namespace
{
// Tries the instrument's mutex from another thread while the message is up.
class MutexProbeSink : public MessageSink
{
public:
    explicit MutexProbeSink(AudioAPI::Mutex& m) : mutex(m) {}
    void Show(char const* text, char const*) override
    {
        texts.push_back(text);
        freeWhileShown.push_back(std::async(std::launch::async,
                                            [this]
                                            {
                                                bool const got = mutex.TryClaim();
                                                if (got) mutex.Release();
                                                return got;
                                            })
                                     .get());
    }
    bool AskYesNo(char const*, char const*) override { return false; }

    AudioAPI::Mutex& mutex;
    std::vector<std::string> texts;
    std::vector<bool> freeWhileShown;
};
} // namespace

TEST_F(PatchStream, FailuresAreShownWithThePluginMutexFree)
{
    Torvane& target = b->Instrument();
    Bytes const good = b->GetState();
    auto sink = std::make_shared<MutexProbeSink>(target.GetMutex());
    auto previous = SetMessageSink(sink);

    target.RestorePatchState(good.data(), static_cast<int>(good.size() / 2));
    // A patch load of a broken stream: its own message, the patch put back.
    StringReader r;
    r.Open(reinterpret_cast<char const*>(good.data()), good.size() - 3);
    EXPECT_FALSE(target.LoadPreset(r, 0.012f));

    SetMessageSink(previous);
    ASSERT_EQ(sink->texts.size(), 2u);
    EXPECT_EQ(sink->texts[0], "Torvane Error: Could not restore plug-in state");
    EXPECT_EQ(sink->texts[1], "Error while loading patch. Aborting");
    EXPECT_TRUE(sink->freeWhileShown[0]);
    EXPECT_TRUE(sink->freeWhileShown[1]);
    EXPECT_EQ(b->GetState(), good);

    // A refused stream is not an error: no message.
    Bytes newer = good;
    float const v13 = 0.013f;
    std::memcpy(newer.data(), &v13, 4);
    RecordingMessageSink quiet;
    StringReader refused;
    refused.Open(reinterpret_cast<char const*>(newer.data()), newer.size());
    EXPECT_FALSE(target.LoadPreset(refused, 0.012f));
    EXPECT_TRUE(quiet.Messages().empty());
    EXPECT_TRUE(target.enabled.GetBool());
}

namespace
{

// A layer saved now and cut back to what a stream of version v held: settings 8-9 from 0.004,
// 10-11 from 0.011, 12 from 0.010.
Bytes OldLayer(VoiceDef& def, float v)
{
    Bytes block = Capture([&](Writer& w) { def.Save(w, v); });
    int const n = static_cast<int>(Round(1000.0f * v));
    auto eraseSettings = [&](int first, int count)
    {
        auto const at = block.begin() + 4 + 4 * first;
        block.erase(at, at + 4 * count);
    };
    if (n <= 9) eraseSettings(12, 1);
    if (n <= 10) eraseSettings(10, 2);
    if (v < 0.004f) eraseSettings(8, 2);
    return block;
}

// The head of an old stream up to the layers.
Bytes OldHead(Torvane& t, float v, char const* name, float tempoFlag)
{
    int const n = static_cast<int>(Round(1000.0f * v));
    Bytes s;
    PutFloat(s, v);
    PutText(s, "TORVANE_STATE");
    if (n > 11) PutBool(s, false);
    PutText(s, name);
    PutFloat(s, 0.0f); // Time Freeze
    if (n <= 9) PutFloat(s, tempoFlag);
    PutFloat(s, 1.0f); // KeyMode
    PutFloat(s, 6.0f); // Polyphony
    PutFloat(s, 0.0f); // PortamentoTime
    PutBytes(s, Capture([&](Writer& w) { t.GetPerformMods()->Save(w); }));
    for (int layer = 0; layer < 4; ++layer)
        PutBytes(s, OldLayer(*t.GetVoiceDef(layer), v));
    return s;
}

void PutDelaySix(Bytes& s)
{
    for (float f : {1.0f, 1.0f, 3.0f, 0.25f, 0.75f, 0.5f}) // bypass, on, time, feedback, mix, amplitude
        PutFloat(s, f);
}
void PutReverb(Bytes& s)
{
    for (float f : {1.0f, 1.0f, 0.2f, 0.4f, 0.6f}) // bypass, on, time, size, mix
        PutFloat(s, f);
}
void PutDistortion(Bytes& s, float crunch)
{
    for (float f : {1.0f, 1.0f, 2.5f, crunch, 0.5f, 0.3f}) // bypass, on, drive, crunch, output, high cut
        PutFloat(s, f);
}
void PutFilter(Bytes& s, float cutoff)
{
    for (float f : {1.0f, cutoff, 9.0f, 1.0f, 1.0f}) // on, cutoff, resonance, type, bypass
        PutFloat(s, f);
}

} // namespace

TEST_F(PatchStream, OlderVersionsLoadWithTheirDefaults)
{
    Torvane& t = b->Instrument();
    ASSERT_TRUE(t.RestorePatchState(defaultState->data(), static_cast<int>(defaultState->size())));
    // Away from every default an old stream leaves to the loader.
    auto disturb = [&]
    {
        t.masterVolume = 0.3f;
        t.pitchBendRange = 9.0f;
        t.SetPatchCategory("Old");
        t.GetDelayEffect()->stereo.SetBool(false);
        t.GetDelayEffect()->syncToHost.SetBool(false);
        t.GetDistortionEffect()->enabled.SetBool(true);
        t.GetDistortionEffect()->drive = 0.5f;
        t.GetGlobalLowFilter()->enabled.SetBool(true);
        t.GetGlobalLowFilter()->cutoff = 500.0f;
        t.GetGlobalHighFilter()->enabled.SetBool(true);
        t.GetGlobalHighFilter()->cutoff = 900.0f;
        for (int layer = 0; layer < 4; ++layer)
            t.GetVoiceDef(layer)->parameters[VoiceDef::kTimelineInTempo].SetBool(false);
    };
    auto load = [&](Bytes const& s)
    {
        StringReader r;
        r.Open(reinterpret_cast<char const*>(s.data()), s.size());
        return t.LoadPreset(r, 0.012f);
    };
    DelayEffect& delay = *t.GetDelayEffect();
    TDistortionEffect& distortion = *t.GetDistortionEffect();

    // 0.004: delay as six values (then stereo), no distortion, filters, volume, bend or category.
    disturb();
    Bytes s = OldHead(t, 0.004f, "Four", 0.7f);
    PutDelaySix(s);
    PutReverb(s);
    for (int i = 0; i < 6; ++i)
        PutFloat(s, 99.0f);
    ASSERT_TRUE(load(s));
    EXPECT_STREQ(t.GetPatchName(), "Four");
    EXPECT_EQ(Value(t.keyMode), 1.0f);
    EXPECT_EQ(Value(t.polyphony), 6.0f);
    for (int layer = 0; layer < 4; ++layer)
        EXPECT_TRUE(t.GetVoiceDef(layer)->parameters[VoiceDef::kTimelineInTempo].GetBool());
    EXPECT_TRUE(delay.enabled.GetBool());
    EXPECT_EQ(Value(delay.time), 3.0f);
    EXPECT_EQ(Value(delay.feedback), 0.25f);
    EXPECT_EQ(Value(delay.mix), 0.75f);
    EXPECT_EQ(Value(delay.amplitude), 0.5f);
    EXPECT_TRUE(delay.stereo.GetBool());
    EXPECT_FALSE(delay.syncToHost.GetBool());
    EXPECT_EQ(Value(t.GetReverbEffect()->sizeParam), 0.4f);
    EXPECT_FALSE(distortion.enabled.GetBool());
    EXPECT_EQ(Value(distortion.drive), 1.0f);
    EXPECT_FALSE(t.GetGlobalLowFilter()->enabled.GetBool());
    EXPECT_EQ(Value(t.GetGlobalLowFilter()->cutoff), t.GetGlobalLowFilter()->cutoff.GetMinValue());
    EXPECT_EQ(Value(t.GetGlobalHighFilter()->cutoff), 22000.0f);
    EXPECT_EQ(Value(t.masterVolume), 1.0f);
    EXPECT_EQ(Value(t.pitchBendRange), 2.0f);
    EXPECT_STREQ(t.GetPatchCategory(), "<untitled>");

    // 0.006: seven delay values (then host sync), distortion present, filters still defaulted, no
    // bend.
    disturb();
    s = OldHead(t, 0.006f, "Six", 0.2f);
    PutDelaySix(s);
    PutFloat(s, 0.0f); // stereo off
    PutReverb(s);
    for (int i = 0; i < 6; ++i)
        PutFloat(s, 99.0f);
    PutDistortion(s, 0.2f);
    PutFloat(s, 0.64f); // MasterVolume
    PutText(s, "Strings");
    ASSERT_TRUE(load(s));
    for (int layer = 0; layer < 4; ++layer)
        EXPECT_FALSE(t.GetVoiceDef(layer)->parameters[VoiceDef::kTimelineInTempo].GetBool());
    EXPECT_FALSE(delay.stereo.GetBool());
    EXPECT_TRUE(delay.syncToHost.GetBool());
    EXPECT_EQ(Value(distortion.crunch), 0.2f);
    EXPECT_EQ(Value(distortion.drive), 2.5f);
    EXPECT_FALSE(t.GetGlobalHighFilter()->enabled.GetBool());
    EXPECT_EQ(Value(t.masterVolume), 0.64f);
    EXPECT_EQ(Value(t.pitchBendRange), 2.0f);
    EXPECT_STREQ(t.GetPatchCategory(), "Strings");

    // 0.008: crunch forced to 0.7, filters, bend and category present.
    disturb();
    s = OldHead(t, 0.008f, "Eight", 0.0f);
    PutDelaySix(s);
    PutFloat(s, 1.0f);
    PutReverb(s);
    PutDistortion(s, 0.2f);
    PutFilter(s, 300.0f);
    PutFilter(s, 5000.0f);
    PutFloat(s, 0.64f);
    PutFloat(s, 5.0f);
    PutText(s, "Keys");
    ASSERT_TRUE(load(s));
    EXPECT_EQ(Value(distortion.crunch), 0.7f);
    EXPECT_EQ(Value(t.GetGlobalLowFilter()->cutoff), 300.0f);
    EXPECT_EQ(Value(t.GetGlobalHighFilter()->cutoff), 5000.0f);
    EXPECT_EQ(Value(t.GetGlobalHighFilter()->resonance), 9.0f);
    EXPECT_EQ(Value(t.pitchBendRange), 5.0f);
    EXPECT_STREQ(t.GetPatchCategory(), "Keys");
    EXPECT_STREQ(t.GetPatchName(), "Eight");

    // 0.011: no reserved bool (the name follows the key), the delay's own block.
    disturb();
    t.GetVoiceDef(2)->parameters[VoiceDef::kTimelineInTempo].SetBool(true);
    s = OldHead(t, 0.011f, "Eleven", 0.0f);
    t.GetVoiceDef(2)->parameters[VoiceDef::kTimelineInTempo].SetBool(false);
    DelayEffect& saved = *a->Instrument().GetDelayEffect();
    saved.time = 3.0f;
    saved.feedback = 0.7f;
    PutBytes(s, Capture([&](Writer& w) { saved.Save(w); }));
    PutReverb(s);
    PutDistortion(s, 0.2f);
    PutFilter(s, 300.0f);
    PutFilter(s, 5000.0f);
    PutFloat(s, 0.64f);
    PutFloat(s, 5.0f);
    PutText(s, "Keys");
    ASSERT_TRUE(load(s));
    EXPECT_STREQ(t.GetPatchName(), "Eleven");
    EXPECT_TRUE(t.GetVoiceDef(2)->parameters[VoiceDef::kTimelineInTempo].GetBool());
    EXPECT_EQ(Value(delay.time), 3.0f);
    EXPECT_EQ(Value(delay.feedback), 0.7f);
    EXPECT_EQ(Value(distortion.crunch), 0.2f);

    // 0.001: no effect section at all: the effects keep what they had.
    disturb();
    s = OldHead(t, 0.001f, "One", 0.0f);
    ASSERT_TRUE(load(s));
    EXPECT_FALSE(delay.stereo.GetBool());
    EXPECT_EQ(Value(distortion.drive), 0.5f);
    EXPECT_EQ(Value(t.GetGlobalHighFilter()->cutoff), 900.0f);
    EXPECT_EQ(Value(t.masterVolume), 1.0f);
    EXPECT_EQ(Value(t.pitchBendRange), 2.0f);
    EXPECT_STREQ(t.GetPatchCategory(), "<untitled>");
}
