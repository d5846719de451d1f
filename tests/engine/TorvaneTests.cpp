#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/TNote.h"
#include "engine/Torvane.h"
#include "framework/Paths.h"
#include "support/RecordingMessageSink.h"
#include "support/engine/HeadlessHost.h"
#include "support/engine/RecordingInstrumentEditor.h"
#include "vst/VstPluginLists.h"

namespace
{

// One instrument for the checks that only read its state after construction.
class TorvaneConstructed : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        home = new TemporaryDataHome();
        host = new HeadlessHost(true);
    }
    static void TearDownTestSuite()
    {
        delete host;
        host = nullptr;
        delete home;
        home = nullptr;
    }

    static Torvane& Instrument() { return host->Instrument(); }

    static TemporaryDataHome* home;
    static HeadlessHost* host;
};

TemporaryDataHome* TorvaneConstructed::home = nullptr;
HeadlessHost* TorvaneConstructed::host = nullptr;

float Value(Parameter& p)
{
    return static_cast<float>(p);
}

} // namespace

// The stored defaults (key mode, polyphony, glide, time freeze, volume, bend range, patch name
// and category, the pads, layer 0) are pinned byte by byte by
// PatchStream.DefaultStateBlockIsByteExact; here only what the state does not hold.
TEST_F(TorvaneConstructed, InstrumentParametersHoldTheDefaultPatch)
{
    Torvane& t = Instrument();
    EXPECT_EQ(Value(t.freezePosition), 0.0f);
    EXPECT_TRUE(t.enabled.GetBool());
    EXPECT_TRUE(t.animationEnabled.GetBool());
    EXPECT_EQ(Value(t.multipleSelectionMode), 0.0f);
    EXPECT_EQ(t.GetCurrentVoice(), 0);
    EXPECT_EQ(t.GetEditTime(), 0.0f);
    EXPECT_FALSE(t.GetSustainState());
    // Key mode 0 leaves as many notes in play as "Polyphony" allows.
    EXPECT_EQ(t.GetActiveNoteCount(), 8);
    EXPECT_STREQ(t.keyMode.GetName(), "KeyMode");
    EXPECT_STREQ(t.timeFreeze.GetName(), "");
    EXPECT_EQ(t.portamentoTime.GetCurveType(), Parameter::CubeLaw);
    EXPECT_EQ(t.masterVolume.GetCurveType(), Parameter::CubeLaw);
    EXPECT_EQ(t.distortionSendParam.GetCurveType(), Parameter::CubeLaw);
}

TEST_F(TorvaneConstructed, LayersHoldTheDefaultPatch)
{
    Torvane& t = Instrument();
    EXPECT_EQ(t.GetVoiceDef(-1), t.GetVoiceDef(0));
    EXPECT_EQ(t.GetVoiceDef(4), nullptr);
    EXPECT_EQ(t.GetVoiceDef(-2), nullptr);
    for (int layer = 0; layer < 4; ++layer)
    {
        VoiceDef& def = *t.GetVoiceDef(layer);
        EXPECT_EQ(def.parameters[VoiceDef::kLayerOn].GetBool(), layer == 0) << layer;
        EXPECT_FLOAT_EQ(Value(def.parameters[VoiceDef::kLevel]), 0.7f);
        EXPECT_FALSE(def.parameters[VoiceDef::kTimelineInTempo].GetBool());
        EXPECT_EQ(def.GetDuration(), 264600.0f);
        for (int row = 0; row < 5; ++row)
        {
            EXPECT_TRUE(t.GetModulationEnabled(row, layer));
            EXPECT_EQ(t.GetModulationSource(row, layer), -1);
            EXPECT_EQ(t.GetModulationTarget(row, layer), -1);
        }
    }
    // The release set through the bridge reaches only the current layer, at its shortest.
    EXPECT_EQ(Value(t.GetVoiceDef(0)->parameters[VoiceDef::kReleaseTime]), 256.0f);
    EXPECT_EQ(Value(t.GetVoiceDef(1)->parameters[VoiceDef::kReleaseTime]), 352800.0f);
    EXPECT_EQ(t.releaseBridge.GetBridgeParameter(), &t.GetVoiceDef(0)->parameters[VoiceDef::kReleaseTime]);
    EXPECT_EQ(t.tempoBridge.GetBridgeParameter(), &t.GetVoiceDef(0)->parameters[VoiceDef::kTimelineInTempo]);
    for (int i = 0; i < t.GetPoolSize(); ++i)
    {
        ASSERT_NE(dynamic_cast<TNote*>(t.GetNote(i)), nullptr);
        EXPECT_TRUE(t.GetNote(i)->IsAvailable());
    }
}

TEST_F(TorvaneConstructed, EffectsHoldTheirResetValuesAndBuffersAreFull)
{
    Torvane& t = Instrument();
    DelayEffect& delay = *t.GetDelayEffect();
    EXPECT_FALSE(t.DelayEnabled());
    EXPECT_EQ(Value(delay.time), 0.0f);
    EXPECT_EQ(Value(delay.mix), 0.5f);
    EXPECT_EQ(Value(delay.feedback), 0.5f);
    EXPECT_EQ(Value(delay.amplitude), 1.0f);
    EXPECT_TRUE(delay.stereo.GetBool());
    EXPECT_TRUE(delay.syncToHost.GetBool());
    ReverbEffect& reverb = *t.GetReverbEffect();
    EXPECT_FALSE(t.ReverbEnabled());
    EXPECT_EQ(Value(reverb.timeParam), 0.5f);
    EXPECT_EQ(Value(reverb.sizeParam), 0.5f);
    EXPECT_EQ(Value(reverb.mixParam), 0.5f);
    TDistortionEffect& distortion = *t.GetDistortionEffect();
    EXPECT_FALSE(t.DistortionEnabled());
    EXPECT_EQ(Value(distortion.crunch), 0.5f);
    EXPECT_EQ(Value(distortion.drive), 1.0f);
    EXPECT_EQ(Value(distortion.output), 1.0f);
    EXPECT_EQ(Value(distortion.highCut), 1.0f);

    StereoFilter& low = *t.GetGlobalLowFilter();
    StereoFilter& high = *t.GetGlobalHighFilter();
    EXPECT_FALSE(low.enabled.GetBool());
    EXPECT_EQ(Value(low.cutoff), low.cutoff.GetMinValue());
    EXPECT_EQ(Value(low.type), 2.0f);
    EXPECT_EQ(Value(low.resonance), 7.0f);
    EXPECT_FALSE(high.enabled.GetBool());
    EXPECT_EQ(Value(high.cutoff), 22000.0f);
    EXPECT_EQ(Value(high.type), 0.0f);
    EXPECT_EQ(Value(high.resonance), 7.0f);

    EXPECT_EQ(t.GetDelayBuffer()->frames, 8192);
    EXPECT_EQ(t.GetReverbBuffer()->frames, 8192);
    EXPECT_EQ(t.GetDistortionBuffer()->frames, 8192);
    EXPECT_EQ(t.GetEffectWorkBuffer()->frames, 8192);
}

TEST_F(TorvaneConstructed, HostSeesFortyParametersInTheirOrder)
{
    Torvane& t = Instrument();
    std::vector<std::string> expected;
    for (int pad = 1; pad <= 6; ++pad)
    {
        expected.push_back(std::to_string(pad) + " : X");
        expected.push_back(std::to_string(pad) + " : Y");
    }
    for (char const* name : {"Freeze Position",
                             "MasterVolume",
                             "PitchBendRange",
                             "DELAY_ENABLED",
                             "DELAY_TIME",
                             "DELAY_FEEDBACK",
                             "DELAY_MIX",
                             "DELAY_STEREO",
                             "REVERB_ENABLED",
                             "REVERB_TIME",
                             "REVERB_SIZE",
                             "REVERB_MIX",
                             "DISTORTION_ENABLED",
                             "DISTORTION_CRUNCH",
                             "DISTORTION_DRIVE",
                             "DISTORTION_OUTPUT",
                             "DISTORTION_HIGHCUT",
                             "STEREOFILTER_ENABLED",
                             "STEREOFILTER_CUTOFF",
                             "STEREOFILTER_ENABLED",
                             "STEREOFILTER_CUTOFF",
                             "",
                             "",
                             "",
                             "",
                             "KeyMode",
                             "Polyphony",
                             "PortamentoTime"})
        expected.push_back(name);

    ASSERT_EQ(t.GetNumAutomatableParameters(), 40);
    EXPECT_EQ(t.GetNumParameters(), 40);
    EXPECT_EQ(host->Effect()->numParams, 40);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(host->GetParameterName(i), expected[static_cast<std::size_t>(i)]) << "index " << i;
    EXPECT_EQ(host->GetParameterName(40), "");

    Parameter* const byIndex[] = {&t.GetPerformMods()->GetSource(0)->X,
                                  &t.GetPerformMods()->GetSource(5)->Y,
                                  &t.freezePosition,
                                  &t.masterVolume,
                                  &t.GetGlobalLowFilter()->cutoff,
                                  &t.GetGlobalHighFilter()->enabled,
                                  &t.GetVoiceDef(0)->parameters[VoiceDef::kLevel],
                                  &t.GetVoiceDef(3)->parameters[VoiceDef::kLevel],
                                  &t.portamentoTime};
    int const indices[] = {0, 11, 12, 13, 30, 31, 33, 36, 39};
    for (std::size_t k = 0; k < std::size(indices); ++k)
        EXPECT_EQ(t.GetAutomatableParameter(indices[k]), byIndex[k]) << "index " << indices[k];
}

TEST_F(TorvaneConstructed, FoldersLieBelowTheApplicationSupportFolder)
{
    Torvane& t = Instrument();
    std::string const root = home->RootFolder();
    EXPECT_EQ(std::string(GetRootPath()), root);
    EXPECT_EQ(std::string(GetImagePath()), root + "Data/Images/");
    EXPECT_EQ(std::string(GetPresetsPath()), root + "Patches");
    EXPECT_EQ(t.GetPatchPresetManager()->GetRoot().ToStdString(), root + "Patches");
    EXPECT_EQ(t.GetWaveformPresetManager()->GetRoot().ToStdString(), root + "Waveforms");
    EXPECT_EQ(t.GetTimelinePresetManager()->GetRoot().ToStdString(), root + "Timeline");
    EXPECT_STREQ(t.GetPatchPresetManager()->GetFormat().formatName, "TorvanePatch");
    EXPECT_STREQ(t.GetPatchPresetManager()->GetFormat().extension, "trv");
    EXPECT_STREQ(t.GetWaveformPresetManager()->GetFormat().extension, "wfm");
    EXPECT_STREQ(t.GetTimelinePresetManager()->GetFormat().extension, "tvl");
    EXPECT_EQ(t.GetTimelinePresetManager()->GetFormat().acceptMax, 1.0f);
}

TEST_F(TorvaneConstructed, NoteOnThroughTheHostSounds)
{
    host->NoteOn(60, 100);
    host->Render(512);
    EXPECT_TRUE(host->AllFinite());
    EXPECT_GT(host->Peak(), 1e-3f);

    host->ControlChange(123, 0);
    host->Render(64);
    Instrument().KillAllNotes();
    host->Render(64);
    EXPECT_EQ(host->Peak(), 0.0f);
}

TEST(TorvaneTest, HostAutomationFollowsCurvesAndIsNotEchoed)
{
    TemporaryDataHome home;
    int const early = HeadlessHost::EarlyAutomationCalls();
    HeadlessHost host(true);
    Torvane& t = host.Instrument();
    // Construction sets host-automatable parameters before any host has the record.
    EXPECT_EQ(HeadlessHost::EarlyAutomationCalls(), early);
    EXPECT_TRUE(host.TakeAutomations().empty());

    host.SetParameter(13, 0.5f);
    EXPECT_EQ(Value(t.masterVolume), 0.125f);
    EXPECT_NEAR(host.GetParameter(13), 0.5f, 1e-6f);
    host.SetParameter(38, 0.5f);
    EXPECT_EQ(Value(t.polyphony), 9.0f);
    EXPECT_EQ(t.GetActiveNoteCount(), 9);
    host.SetParameter(37, 1.0f);
    EXPECT_EQ(Value(t.keyMode), 2.0f);
    EXPECT_EQ(t.GetActiveNoteCount(), 1);
    host.SetParameter(39, 0.5f);
    EXPECT_EQ(Value(t.portamentoTime), 0.125f);
    host.SetParameter(33, 1.0f);
    EXPECT_EQ(Value(t.GetVoiceDef(0)->parameters[VoiceDef::kLevel]), 1.0f);
    host.SetParameter(40, 0.5f);
    host.SetParameter(-1, 0.5f);
    EXPECT_EQ(host.GetParameter(40), 0.0f);
    EXPECT_TRUE(host.TakeAutomations().empty());

    // A change the user makes inside the plug-in goes to the host, normalised; the same change
    // made by nobody's input does not.
    t.masterVolume = 0.5f;
    EXPECT_TRUE(host.TakeAutomations().empty());
    {
        EditorInput::Scope user(&t);
        t.masterVolume = 0.216f;
        t.GetPerformMods()->GetSource(2)->Y = 1.0f;
    }
    auto const reports = host.TakeAutomations();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].index, 13);
    EXPECT_NEAR(reports[0].value, 0.6f, 1e-6f);
    EXPECT_EQ(reports[1].index, 5);
    EXPECT_EQ(reports[1].value, 1.0f);
}

TEST(TorvaneTest, TwoInstrumentsFindTheirOwnEntries)
{
    TemporaryDataHome home;
    auto a = std::make_unique<HeadlessHost>(false);
    auto b = std::make_unique<HeadlessHost>(false);
    AudioEffect* handleA = &a->Instrument();
    AudioEffect* handleB = &b->Instrument();
    EXPECT_EQ(FindVstInstrument(handleA), static_cast<InstrumentBase*>(&a->Instrument()));
    EXPECT_EQ(FindVstInstrument(handleB), static_cast<InstrumentBase*>(&b->Instrument()));

    a->Instrument().masterVolume = 0.5f;
    EXPECT_EQ(Value(b->Instrument().masterVolume), 1.0f);
    a->NoteOn(64, 100);
    a->Render(256);
    b->Render(256);
    EXPECT_GT(a->Peak(), 0.0f);
    EXPECT_EQ(b->Peak(), 0.0f);

    // Only the address is looked up, never the object behind it.
    std::uintptr_t volatile addressB = reinterpret_cast<std::uintptr_t>(handleB);
    b.reset();
    EXPECT_EQ(FindVstInstrument(reinterpret_cast<AudioEffect*>(addressB)), nullptr);
    EXPECT_EQ(FindVstInstrument(handleA), static_cast<InstrumentBase*>(&a->Instrument()));
}

TEST(TorvaneTest, MissingOrBlockedFoldersDontStopConstruction)
{
    TemporaryDataHome home;
    // A file where the folders would go: nothing can be created below it.
    std::string const blocker = home.Path() + "/blocker";
    std::ofstream(blocker) << "x";
    std::string const previous = std::getenv("XDG_DATA_HOME");
    setenv("XDG_DATA_HOME", (blocker + "/deeper").c_str(), 1);
    {
        HeadlessHost host(false);
        EXPECT_EQ(host.Instrument().GetPatchPresetManager()->GetList().NumItems(), 0);
        host.NoteOn(60, 100);
        host.Render(128);
        EXPECT_TRUE(host.AllFinite());
    }
    setenv("XDG_DATA_HOME", previous.c_str(), 1);
}

TEST(TorvaneTest, EditTimeTParamsAndLayerSwitch)
{
    TemporaryDataHome home;
    RecordingInstrumentEditor gui;
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    gui.Watch(&t.GetMutex());
    t.SetGUI(&gui);

    t.SetEditTime(-5.0f);
    EXPECT_EQ(t.GetEditTime(), 0.0f);
    t.ProcessGUINotifications();
    t.SetEditTime(1234.9f);
    EXPECT_EQ(t.GetEditTime(), 1234.0f);
    EXPECT_FLOAT_EQ(Value(t.freezePosition), 1234.0f / 264600.0f);
    t.ProcessGUINotifications();
    EXPECT_EQ(gui.updatedEditTime.load(), 2);

    // A TParam writes the current layer's line at the edit time.
    int const lines = gui.updateEventLines.load();
    t.pitchParam = 7.0f;
    EXPECT_EQ(t.GetEvent(0, VoiceDef::kVoiceLine, 0), 7.0f);
    EXPECT_EQ(t.GetVoiceDef(0)->lines[VoiceDef::kVoiceLine].Size(), 2);
    t.ProcessGUINotifications();
    EXPECT_EQ(gui.updateEventLines.load(), lines + 1);
    EXPECT_FLOAT_EQ(t.pitchParam.ControllerGet(), (7.0f + 36.0f) / 72.0f);
    // A second write at the same time changes the same breakpoint.
    EXPECT_FALSE(t.SetEvent(0, VoiceDef::kVoiceLine, 0, -3.0f));
    EXPECT_EQ(t.GetVoiceDef(0)->lines[VoiceDef::kVoiceLine].Size(), 2);
    EXPECT_EQ(t.GetEvent(0, VoiceDef::kVoiceLine, 0), -3.0f);
    // Out of range: nothing read or written.
    EXPECT_EQ(t.GetEvent(0, 6, 0), 0.0f);
    EXPECT_EQ(t.GetEvent(0, VoiceDef::kVoiceLine, 5), 0.0f);
    EXPECT_FALSE(t.SetEvent(4, VoiceDef::kVoiceLine, 0, 1.0f));
    EXPECT_EQ(t.CreateEventBreakpoint(0.0f, 0, 7, nullptr, false), nullptr);

    // Forced: a new point after the equal one, with its values.
    bool created = false;
    Breakpoint* forced = t.CreateEventBreakpoint(1234.0f, 0, VoiceDef::kVoiceLine, &created, true);
    ASSERT_NE(forced, nullptr);
    EXPECT_TRUE(created);
    EventEnvelope& voiceLine = t.GetVoiceDef(0)->lines[VoiceDef::kVoiceLine];
    ASSERT_EQ(voiceLine.Size(), 3);
    EXPECT_EQ(forced, &voiceLine[2]);
    EXPECT_EQ(voiceLine[2].values[0], -3.0f);
    // Between two points: interpolated values.
    Breakpoint* between = t.CreateEventBreakpoint(617.0f, 0, VoiceDef::kVoiceLine, &created, false);
    EXPECT_TRUE(created);
    EXPECT_FLOAT_EQ(between->values[0], -1.5f);

    // Relative selection mode with nothing moved: every continuous control sits in the middle.
    t.multipleSelectionMode = 1.0f;
    EXPECT_FLOAT_EQ(t.finePitchParam.ControllerGet(), 0.5f);
    EXPECT_FLOAT_EQ(t.filterResonanceParam.ControllerGet(), 0.5f);
    t.multipleSelectionMode = 0.0f;

    // The layer switch rebinds the bridges and clears the editor's selection.
    t.GetVoiceDef(2)->parameters[VoiceDef::kFilterOn].SetBool(false);
    t.SetCurrentVoice(2);
    EXPECT_EQ(t.GetCurrentVoice(), 2);
    t.ProcessGUINotifications();
    EXPECT_EQ(gui.deselectBreakpoints.load(), 1);
    EXPECT_FALSE(t.layerOnBridge.GetBool());
    EXPECT_FALSE(t.filterOnBridge.GetBool());
    t.layerOnBridge = 1.0f;
    EXPECT_TRUE(t.GetVoiceDef(2)->parameters[VoiceDef::kLayerOn].GetBool());
    EXPECT_TRUE(t.GetVoiceDef(0)->parameters[VoiceDef::kLayerOn].GetBool());
    EXPECT_FALSE(t.GetVoiceDef(1)->parameters[VoiceDef::kLayerOn].GetBool());
    t.SetCurrentVoice(7);
    EXPECT_EQ(t.GetCurrentVoice(), 2);

    // The reset touches the current layer only.
    t.pitchParam = 12.0f;
    ASSERT_EQ(t.GetEvent(2, VoiceDef::kVoiceLine, 0), 12.0f);
    t.ResetVoice(-1);
    EXPECT_EQ(t.GetEvent(2, VoiceDef::kVoiceLine, 0), 0.0f);
    EXPECT_EQ(t.GetVoiceDef(0)->lines[VoiceDef::kVoiceLine].Size(), 4);

    t.ProcessGUINotifications();
    EXPECT_EQ(gui.violations.load(), 0);
    t.SetGUI(nullptr);
}

TEST(TorvaneTest, ModulationRowSettersStoreAndCheckTheirRange)
{
    TemporaryDataHome home;
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    t.SetModulationSource(3, kModSourceModWheel, 1);
    t.SetModulationTarget(3, kModTargetFilterFreq, 1);
    t.SetModulationEnabled(3, false, 1);
    EXPECT_EQ(t.GetModulationSource(3, 1), kModSourceModWheel);
    EXPECT_EQ(t.GetModulationTarget(3, 1), kModTargetFilterFreq);
    EXPECT_FALSE(t.GetModulationEnabled(3, 1));
    EXPECT_EQ(t.GetModulationSource(3, 0), -1);

    // Rows and layers out of range are ignored.
    t.SetModulationSource(16, 2, 0);
    t.SetModulationEnabled(-1, true, 0);
    t.SetModulationTarget(0, 1, 4);
    EXPECT_EQ(t.GetModulationSource(16, 0), -1);
    EXPECT_FALSE(t.GetModulationEnabled(16, 0));

    // The amount lives in the modulation line at the edit time.
    t.SetEditTime(500.0f);
    EXPECT_TRUE(t.SetModulationAmount(2, 0.25f, -1));
    EXPECT_EQ(t.GetModulationAmount(2, 0), 0.25f);
    EXPECT_EQ(t.GetEvent(0, VoiceDef::kModulationLine, 8), 0.25f);
    EXPECT_FALSE(t.SetModulationAmount(2, 0.5f, 0));
    EXPECT_FALSE(t.SetModulationAmount(17, 0.5f, 0));
    EXPECT_TRUE(t.GetModulationMatrixEnabled(0));
}
