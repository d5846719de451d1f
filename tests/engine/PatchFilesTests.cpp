// Patch, waveform and timeline-preset files in the instrument's preset folders.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "EditingTestSupport.h"
#include "framework/ParameterFile.h"
#include "framework/Streams.h"

using namespace editing;
namespace fs = std::filesystem;

namespace
{

std::string Bytes(std::initializer_list<unsigned char> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string AsText(String const& s)
{
    return std::string(static_cast<char const*>(s), static_cast<std::size_t>(s.GetLength()));
}

// Every file below a folder, as paths relative to it.
std::vector<std::string> FilesBelow(fs::path const& root)
{
    std::vector<std::string> files;
    std::error_code error;
    for (auto const& entry : fs::recursive_directory_iterator(root, error))
    {
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Each test starts with empty preset folders.
class PatchFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        t = &FreshInstrument();
        for (PresetManager* m :
             {t->GetPatchPresetManager(), t->GetWaveformPresetManager(), t->GetTimelinePresetManager()})
        {
            std::error_code error;
            fs::remove_all(m->GetRoot().ToStdString(), error);
            fs::create_directories(m->GetRoot().ToStdString(), error);
            m->Refresh();
        }
    }

    fs::path PatchRoot() { return t->GetPatchPresetManager()->GetRoot().ToStdString(); }
    fs::path WaveRoot() { return t->GetWaveformPresetManager()->GetRoot().ToStdString(); }
    fs::path TimelineRoot() { return t->GetTimelinePresetManager()->GetRoot().ToStdString(); }

    Torvane* t = nullptr;
};

bool SameSlot(MipWaveTable const& a, int slotA, MipWaveTable const& b, int slotB)
{
    if (a.length != b.length || a.numLevels != b.numLevels || a.GetKind(slotA) != b.GetKind(slotB))
        return false;
    std::size_t const wa = static_cast<std::size_t>(a.NumWaves());
    std::size_t const wb = static_cast<std::size_t>(b.NumWaves());
    for (int m = 0; m < a.numLevels; ++m)
    {
        for (long i = 0; i < a.length; ++i)
        {
            if (a.levels[m][static_cast<std::size_t>(i) * wa + static_cast<std::size_t>(slotA)] !=
                b.levels[m][static_cast<std::size_t>(i) * wb + static_cast<std::size_t>(slotB)])
                return false;
        }
    }
    return true;
}

std::vector<float> SlotSamples(MipWaveTable const& w, int slot, int level)
{
    std::vector<float> out;
    for (long i = 0; i < w.length; ++i)
        out.push_back(w.levels[level][static_cast<std::size_t>(i) * 4 + static_cast<std::size_t>(slot)]);
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Patches

TEST_F(PatchFiles, SavingBassWritesTheUserFileInItsCategory)
{
    RecordingMessageSink messages;
    ASSERT_EQ(t->SavePatch("Leads", "Bass"), 1);
    EXPECT_STREQ(t->GetPatchName(), "Bass(User)");
    EXPECT_STREQ(t->GetPatchCategory(), "Leads");
    EXPECT_EQ(FilesBelow(PatchRoot()), std::vector<std::string>{"Leads/Bass(User).trv"});

    std::string const file = ReadFile(PatchRoot() / "Leads" / "Bass(User).trv");
    std::string const start = "TorvanePatch\r" + Bytes({0x00, 0x00, 0x80, 0x3F}) +
                              Bytes({0xA6, 0x9B, 0x44, 0x3C}) + "TORVANE_STATE\r" + Bytes({0x00}) +
                              "Bass(User)\r";
    EXPECT_EQ(file.substr(0, start.size()), start);
    EXPECT_EQ(file.substr(file.size() - 6), "Leads\r");

    // The same name with its suffix writes the same file.
    ASSERT_EQ(t->SavePatch("Leads", "Bass(User)"), 1);
    EXPECT_EQ(FilesBelow(PatchRoot()), std::vector<std::string>{"Leads/Bass(User).trv"});
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(PatchFiles, LoadingAPatchRestoresItAndTellsTheEditor)
{
    t->masterVolume = 0.25f;
    SetPoints(*t, 1, VoiceDef::kFilterLine, {0.0f, 777.0f});
    ASSERT_EQ(t->SavePatch("Keys", "Soft"), 1);
    t->masterVolume = 0.9f;
    SetPoints(*t, 1, VoiceDef::kFilterLine, {0.0f});
    t->SetPatchName("Other");

    RecordingMessageSink messages;
    AttachedEditor editor(*t);
    ASSERT_EQ(t->LoadPatch("Keys", "Soft(User)"), 1);
    EXPECT_FLOAT_EQ(static_cast<float>(t->masterVolume), 0.25f);
    EXPECT_EQ(Times(*t, 1, VoiceDef::kFilterLine), (std::vector<float>{0.0f, 777.0f}));
    EXPECT_STREQ(t->GetPatchName(), "Soft(User)");
    EXPECT_STREQ(t->GetPatchCategory(), "Keys");
    EXPECT_EQ(editor.gui.patchLoaded.load(), 0); // asked for, applied on the editor's drain
    editor.Drain();
    EXPECT_EQ(editor.gui.patchLoaded.load(), 1);

    // A patch that isn't there: 0, nothing shown, nothing changed.
    EXPECT_EQ(t->LoadPatch("Keys", "Missing"), 0);
    EXPECT_EQ(t->LoadPatch("..", "Soft(User)"), 0);
    EXPECT_STREQ(t->GetPatchName(), "Soft(User)");
    EXPECT_TRUE(messages.Messages().empty());
    t->masterVolume = 1.0f;
}

TEST_F(PatchFiles, NextAndPreviousWrapAroundTheList)
{
    ASSERT_EQ(t->SavePatch("Cycle", "A"), 1);
    ASSERT_EQ(t->SavePatch("Cycle", "B"), 1);
    ASSERT_EQ(t->SavePatch("Cycle", "C"), 1);
    ASSERT_STREQ(t->GetPatchName(), "C(User)");
    t->NextPatch();
    EXPECT_STREQ(t->GetPatchName(), "A(User)");
    t->NextPatch();
    EXPECT_STREQ(t->GetPatchName(), "B(User)");
    t->PreviousPatch();
    t->PreviousPatch();
    EXPECT_STREQ(t->GetPatchName(), "C(User)");
    EXPECT_STREQ(t->GetPatchCategory(), "Cycle");

    // No patches at all: nothing happens.
    std::error_code error;
    fs::remove_all(PatchRoot() / "Cycle", error);
    t->GetPatchPresetManager()->Refresh();
    t->NextPatch();
    t->PreviousPatch();
    EXPECT_STREQ(t->GetPatchName(), "C(User)");
}

TEST_F(PatchFiles, StepsGoOnPastABrokenPatchInBothDirections)
{
    ASSERT_EQ(t->SavePatch("Cycle", "A"), 1);
    ASSERT_EQ(t->SavePatch("Cycle", "B"), 1);
    ASSERT_EQ(t->SavePatch("Cycle", "C"), 1);
    // B keeps its header but loses most of its body.
    fs::path const b = PatchRoot() / "Cycle" / "B(User).trv";
    std::string const whole = ReadFile(b);
    std::ofstream(b, std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() / 3);
    ASSERT_EQ(t->LoadPatch("Cycle", "A(User)"), 1);

    RecordingMessageSink messages;
    t->NextPatch(); // B is refused and passed over: C, one message naming B
    EXPECT_STREQ(t->GetPatchName(), "C(User)");
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Error: Could not load patch: B(User)");
    EXPECT_EQ(messages.Messages()[0].caption, "Patch Load Error");
    t->PreviousPatch(); // B again: A
    EXPECT_STREQ(t->GetPatchName(), "A(User)");
    EXPECT_EQ(messages.Messages().size(), 2u);
    t->PreviousPatch(); // wraps round to C, nothing refused on the way
    EXPECT_STREQ(t->GetPatchName(), "C(User)");
    EXPECT_EQ(messages.Messages().size(), 2u);

    // Nothing else loads: the patch stays, one message, and the current patch isn't reloaded.
    for (char const* other : {"A(User)", "C(User)"})
        std::ofstream(PatchRoot() / "Cycle" / (std::string(other) + ".trv"),
                      std::ios::binary | std::ios::trunc)
            << "rubbish";
    t->masterVolume = 0.5f;
    t->NextPatch();
    EXPECT_STREQ(t->GetPatchName(), "C(User)");
    EXPECT_FLOAT_EQ(static_cast<float>(t->masterVolume), 0.5f);
    ASSERT_EQ(messages.Messages().size(), 3u);
    EXPECT_EQ(messages.Messages()[2].text, "Error: Could not load patches: A(User), B(User)");
    t->masterVolume = 1.0f;
}

TEST_F(PatchFiles, AFailedSaveIsReturnedAndChangesNothing)
{
    ASSERT_EQ(t->SavePatch("Pads", "Warm"), 1);
    std::string const before = ReadFile(PatchRoot() / "Pads" / "Warm(User).trv");

    RecordingMessageSink messages;
    // A category that can't be a folder, a refused name, and a file name taken by a folder.
    std::ofstream(PatchRoot() / "Blocked") << "x";
    fs::create_directories(PatchRoot() / "Pads" / "Dir(User).trv");
    EXPECT_EQ(t->SavePatch("Blocked", "Warm"), 0);
    EXPECT_EQ(t->SavePatch("..", "Warm"), 0);
    EXPECT_EQ(t->SavePatch("Pads", "a/b"), 0);
    EXPECT_EQ(t->SavePatch("Pads", "Dir"), 0);
    EXPECT_EQ(t->SavePatch(nullptr, nullptr), 0);
    // The editor shows the failure; the instrument only returns it.
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_STREQ(t->GetPatchName(), "Warm(User)");
    EXPECT_STREQ(t->GetPatchCategory(), "Pads");
    EXPECT_EQ(ReadFile(PatchRoot() / "Pads" / "Warm(User).trv"), before);
    EXPECT_EQ(FilesBelow(PatchRoot()), (std::vector<std::string>{"Blocked", "Pads/Warm(User).trv"}));
}

// ---------------------------------------------------------------------------------------------
// Timeline presets

TEST(TimelinePresetStream, HoldsTheFlagsThenTheChosenLines)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, VoiceDef::kAmplitudeLine, {0.0f, 400.0f});
    SetPoints(t, 0, VoiceDef::kFilterLine, {0.0f, 100.0f, 900.0f});

    String saved;
    StringWriter w;
    w.Open(&saved);
    EXPECT_TRUE(t.SaveTimelinePreset({true, false, false, true, false, false}, w));
    w.Close();

    String expected;
    StringWriter e;
    e.Open(&expected);
    for (bool flag : {true, false, false, true, false, false})
        e.Write(flag);
    t.GetVoiceDef(0)->GetLine(VoiceDef::kAmplitudeLine)->Save(e);
    t.GetVoiceDef(0)->GetLine(VoiceDef::kFilterLine)->Save(e);
    e.Close();
    EXPECT_EQ(AsText(saved), AsText(expected));

    // Loading only the Filter line, into the current layer.
    t.SetCurrentVoice(2);
    SetPoints(t, 2, VoiceDef::kAmplitudeLine, {0.0f, 50.0f, 60.0f});
    AttachedEditor editor(t);
    StringReader r;
    r.Open(saved, static_cast<std::size_t>(saved.GetLength()));
    EXPECT_TRUE(t.LoadTimelinePreset({false, false, false, true, false, false}, r));
    EXPECT_EQ(Times(t, 2, VoiceDef::kFilterLine), (std::vector<float>{0.0f, 100.0f, 900.0f}));
    EXPECT_EQ(Values((*t.GetVoiceDef(2)->GetLine(VoiceDef::kFilterLine))[2]),
              (std::vector<float>{2.5f, 2.5f, 2.5f}));
    EXPECT_EQ(Times(t, 2, VoiceDef::kAmplitudeLine), (std::vector<float>{0.0f, 50.0f, 60.0f}));
    for (int line : {1, 2, 4, 5})
        EXPECT_EQ(Times(t, 2, line), std::vector<float>{0.0f}) << line;
    editor.Drain();
    EXPECT_EQ(editor.gui.updateAll.load(), 1);

    // The available lines, read from the start of the same stream.
    std::vector<bool> available{true};
    r.Open(saved, static_cast<std::size_t>(saved.GetLength()));
    EXPECT_TRUE(t.TimelineLoadAvailableEnvelopes(available, r));
    EXPECT_EQ(available, (std::vector<bool>{true, false, false, true, false, false}));
}

TEST(TimelinePresetStream, ShortFlagVectorsCountTheMissingAsFalse)
{
    Torvane& t = FreshInstrument();
    String saved;
    StringWriter w;
    w.Open(&saved);
    EXPECT_TRUE(t.SaveTimelinePreset({true}, w));
    w.Close();
    StringReader r;
    r.Open(saved, static_cast<std::size_t>(saved.GetLength()));
    std::vector<bool> available;
    EXPECT_TRUE(t.TimelineLoadAvailableEnvelopes(available, r));
    EXPECT_EQ(available, (std::vector<bool>{true, false, false, false, false, false}));

    SetPoints(t, 0, VoiceDef::kAmplitudeLine, {0.0f, 5.0f});
    r.Open(saved, static_cast<std::size_t>(saved.GetLength()));
    EXPECT_TRUE(t.LoadTimelinePreset({}, r)); // nothing wanted
    EXPECT_EQ(Times(t, 0, VoiceDef::kAmplitudeLine), (std::vector<float>{0.0f, 5.0f}));
    r.Open(saved, static_cast<std::size_t>(saved.GetLength()));
    EXPECT_TRUE(t.LoadTimelinePreset({true}, r));
    EXPECT_EQ(Times(t, 0, VoiceDef::kAmplitudeLine), (std::vector<float>{0.0f, 220500.0f, 264600.0f}));
}

TEST(TimelinePresetStream, LoadsAllWantedLinesOrNone)
{
    Torvane& t = FreshInstrument();
    // Stored: a good Filter line, and an Effects line with the Filter line's value count.
    Envelope filter(3);
    filter.AddBreakpoint()->time = 0.0f;
    filter.AddBreakpoint()->time = 300.0f;
    for (long i = 0; i < filter.Size(); ++i)
        filter[i].SetYs(0.5f);
    auto stream = [&](Envelope const& effects, bool truncate)
    {
        String s;
        StringWriter w;
        w.Open(&s);
        for (bool flag : {false, false, false, true, false, true})
            w.Write(flag);
        filter.Save(w);
        effects.Save(w);
        w.Close();
        return std::string(static_cast<char const*>(s),
                           static_cast<std::size_t>(s.GetLength()) - (truncate ? 3 : 0));
    };
    auto load = [&](std::string const& bytes, std::vector<bool> const& wanted)
    {
        StringReader r;
        r.Open(bytes.data(), bytes.size());
        return t.LoadTimelinePreset(wanted, r);
    };
    std::vector<bool> const both{false, false, false, true, false, true};

    EXPECT_FALSE(load(stream(filter, false), both));
    EXPECT_EQ(Times(t, 0, VoiceDef::kFilterLine), std::vector<float>{0.0f});
    // Unwanted, the odd line is only read past.
    EXPECT_TRUE(load(stream(filter, false), {false, false, false, true, false, false}));
    EXPECT_EQ(Times(t, 0, VoiceDef::kFilterLine), (std::vector<float>{0.0f, 300.0f}));

    t.GetVoiceDef(0)->ClearLine(VoiceDef::kFilterLine);
    Envelope effects(4);
    effects.AddBreakpoint()->time = 0.0f;
    effects[0].SetYs(0.25f);
    EXPECT_FALSE(load(stream(effects, true), both)); // cut short
    // Out of order times are refused as well.
    Envelope backwards(4);
    backwards.AddBreakpoint()->time = 500.0f;
    backwards.AddBreakpoint()->time = 100.0f;
    backwards[0].SetYs(0.0f);
    backwards[1].SetYs(0.0f);
    EXPECT_FALSE(load(stream(backwards, false), both));
    EXPECT_FALSE(load(std::string(3, '\1'), both));
    EXPECT_EQ(Times(t, 0, VoiceDef::kFilterLine), std::vector<float>{0.0f});
    EXPECT_EQ(Times(t, 0, VoiceDef::kEffectsLine), std::vector<float>{0.0f});

    EXPECT_TRUE(load(stream(effects, false), both));
    EXPECT_EQ(Times(t, 0, VoiceDef::kFilterLine), (std::vector<float>{0.0f, 300.0f}));
    EXPECT_EQ(Values((*t.GetVoiceDef(0)->GetLine(VoiceDef::kEffectsLine))[0]), std::vector<float>(4, 0.25f));

    std::vector<bool> available{true, true};
    StringReader r;
    r.Open("\1\0", 2);
    EXPECT_FALSE(t.TimelineLoadAvailableEnvelopes(available, r));
    EXPECT_EQ(available, std::vector<bool>(6, false));
}

TEST_F(PatchFiles, TimelinePresetFilesAreSavedWholeOrReported)
{
    SetPoints(*t, 0, VoiceDef::kWaveLine, {0.0f, 10.0f});
    RecordingMessageSink messages;
    std::vector<bool> const flags{false, false, true, false, false, false};
    ASSERT_TRUE(t->SaveTimelinePreset("Mine", "Sweep", flags));
    EXPECT_EQ(FilesBelow(TimelineRoot()), std::vector<std::string>{"Mine/Sweep(User).tvl"});
    std::string const file = ReadFile(TimelineRoot() / "Mine" / "Sweep(User).tvl");
    EXPECT_EQ(file.substr(0, 19), "Timeline\r" + Bytes({0x00, 0x00, 0x80, 0x3F}) + Bytes({0, 0, 1, 0, 0, 0}));

    t->GetVoiceDef(0)->ClearLine(VoiceDef::kWaveLine);
    ParameterFileReader reader;
    ASSERT_TRUE(t->GetTimelinePresetManager()->LoadStart("Mine", "Sweep(User)", reader));
    EXPECT_TRUE(t->LoadTimelinePreset(flags, reader));
    EXPECT_EQ(Times(*t, 0, VoiceDef::kWaveLine), (std::vector<float>{0.0f, 10.0f}));

    EXPECT_FALSE(t->SaveTimelinePreset("..", "Sweep", flags));
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(FilesBelow(TimelineRoot()), std::vector<std::string>{"Mine/Sweep(User).tvl"});
}

// ---------------------------------------------------------------------------------------------
// Waves

TEST_F(PatchFiles, AWaveSavedAndLoadedIsBuiltAsALoadWouldBuildIt)
{
    VectorMipOscWaveDef& source = t->GetVoiceDef(0)->waveDef;
    float amps[40];
    for (int h = 0; h < 40; ++h)
        amps[h] = 1.0f / static_cast<float>((h + 1) * (h + 1));
    ASSERT_TRUE(source.CreateWithIFFT(1, 40, amps, nullptr));

    RecordingMessageSink messages;
    ASSERT_TRUE(t->SaveWaveform(&source, 1, "Custom", "Soft"));
    EXPECT_EQ(FilesBelow(WaveRoot()), std::vector<std::string>{"Custom/Soft(User).wfm"});
    EXPECT_EQ(ReadFile(WaveRoot() / "Custom" / "Soft(User).wfm").substr(0, 13),
              "Waveform\r" + Bytes({0x00, 0x00, 0x80, 0x3F}));

    VectorMipOscWaveDef& target = t->GetVoiceDef(2)->waveDef;
    std::vector<float> const slot0 = SlotSamples(target, 0, 20);
    ParameterFileReader reader;
    ASSERT_TRUE(t->GetWaveformPresetManager()->LoadStart("Custom", "Soft(User)", reader));
    bool took = false;
    EXPECT_EQ(t->LoadWaveform(2, 3, reader, &took), &target);
    EXPECT_TRUE(took);

    // What loading the file straight into a slot would build.
    VectorMipOscWaveDef reference;
    ParameterFileReader again;
    ASSERT_TRUE(t->GetWaveformPresetManager()->LoadStart("Custom", "Soft(User)", again));
    ASSERT_TRUE(reference.Load(3, again));
    EXPECT_EQ(target.GetKind(3), kWaveCustom);
    EXPECT_TRUE(SameSlot(target, 3, reference, 3));
    EXPECT_EQ(SlotSamples(target, 0, 20), slot0);
    // The stored cycle is the source's first level.
    std::vector<float> const loaded = SlotSamples(target, 3, 0);
    std::vector<float> const original = SlotSamples(source, 1, 0);
    for (std::size_t i = 0; i < loaded.size(); i += 97)
        EXPECT_NEAR(loaded[i], original[i], 1e-4f) << i;
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(PatchFiles, RefusedWavesChangeNothing)
{
    VectorMipOscWaveDef& waves = t->GetVoiceDef(1)->waveDef;
    std::vector<float> const before = SlotSamples(waves, 2, 3);
    int const kind = waves.GetKind(2);

    char const truncated[] = {0, 0, (char)0x80, 0x3F, 0, 0x10, 0, 0};
    StringReader r;
    r.Open(truncated, sizeof truncated);
    bool loaded = true;
    EXPECT_EQ(t->LoadWaveform(1, 2, r, &loaded), &waves);
    EXPECT_FALSE(loaded);
    r.Open(truncated, sizeof truncated);
    EXPECT_EQ(t->LoadWaveform(1, 9, r), &waves);
    r.Open(truncated, sizeof truncated);
    EXPECT_EQ(t->LoadWaveform(4, 2, r), nullptr);
    EXPECT_EQ(t->LoadStandardWaveform(4, 2, 0), nullptr);
    t->SetCurrentVoice(1);
    EXPECT_EQ(t->LoadStandardWaveform(-1, 2, 5), &waves);
    EXPECT_EQ(t->LoadStandardWaveform(-1, 2, -1), &waves);
    EXPECT_EQ(t->LoadStandardWaveform(-1, 4, 0), &waves);
    EXPECT_EQ(waves.GetKind(2), kind);
    EXPECT_EQ(SlotSamples(waves, 2, 3), before);

    RecordingMessageSink messages;
    EXPECT_FALSE(t->SaveWaveform(nullptr, 0, "Custom", "X"));
    EXPECT_FALSE(t->SaveWaveform(&waves, 4, "Custom", "X"));
    EXPECT_FALSE(t->SaveWaveform(&waves, 0, "..", "X"));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_TRUE(FilesBelow(WaveRoot()).empty());
}

TEST_F(PatchFiles, StandardWavesMatchTheirDirectBuild)
{
    VectorMipOscWaveDef reference;
    ASSERT_TRUE(reference.InitArray(4096, 128));
    ASSERT_TRUE(reference.CreateSine(1, 4096));
    ASSERT_TRUE(reference.CreateSquare(2, 4096));

    VectorMipOscWaveDef& waves = t->GetVoiceDef(3)->waveDef;
    std::vector<float> const slot0 = SlotSamples(waves, 0, 7);
    EXPECT_EQ(t->LoadStandardWaveform(3, 1, 2), &waves);
    EXPECT_EQ(t->LoadStandardWaveform(3, 2, 1), &waves);
    EXPECT_TRUE(SameSlot(waves, 1, reference, 1));
    EXPECT_TRUE(SameSlot(waves, 2, reference, 2));
    EXPECT_EQ(SlotSamples(waves, 0, 7), slot0);

    // Back to the layer's defaults: saw, silence, square, silence.
    EXPECT_EQ(t->LoadStandardWaveform(3, 1, 3), &waves);
    EXPECT_EQ(t->LoadStandardWaveform(3, 2, 1), &waves);
    EXPECT_EQ(waves.GetKind(1), kWaveSilence);
    EXPECT_EQ(SlotSamples(waves, 1, 0), std::vector<float>(4096, 0.0f));
}

TEST_F(PatchFiles, TimingAPatchLoadsItFirst)
{
    t->masterVolume = 0.5f;
    ASSERT_EQ(t->SavePatch("Timing", "Probe"), 1);
    t->masterVolume = 1.0f;
    t->SetPatchName("Other");
    EXPECT_EQ(t->Performance_MeasurePatch("Timing", "Probe(User)", 2, 2, 64), 0);
    EXPECT_STREQ(t->GetPatchName(), "Probe(User)");
    EXPECT_FLOAT_EQ(static_cast<float>(t->masterVolume), 0.5f);
    t->masterVolume = 1.0f;
    t->polyphony = 8.0f;
    t->KillAllNotes();
}
