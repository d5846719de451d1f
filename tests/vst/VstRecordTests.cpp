// The entry and the effect record of a plug-in library, seen from a host: fields, names,
// capability answers and the dispatcher's defaults.

#include "PluginFixture.h"

namespace
{

// Answers 0 to everything, the version query included.
VstIntPtr NotVst2Host(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float)
{
    return 0;
}

int hostCallsWithoutEffect = 0;
VstIntPtr CountingHost(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    if (effect == nullptr) ++hostCallsWithoutEffect;
    return opcode == audioMasterVersion ? 2400 : 0;
}

} // namespace

TEST(VstRecord, FieldsOfTheRecord)
{
    VstHost host;
    OpenTestSynth(host);
    AEffect* e = host.GetEffect();
    EXPECT_EQ(e->magic, FourCharCode("VstP"));
    EXPECT_EQ(e->magic, 0x56737450);
    EXPECT_EQ(e->numInputs, 0);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->numPrograms, 0);
    EXPECT_EQ(e->numParams, 6);
    EXPECT_EQ(e->uniqueID, FourCharCode("TsT1"));
    EXPECT_EQ(e->version, 1);
    // Has an editor, can replace, program chunks, synth.
    EXPECT_EQ(e->flags, 305);
    EXPECT_NE(e->object, nullptr);
    EXPECT_NE(e->processReplacing, nullptr);
    EXPECT_EQ(host.Dispatch(effGetPlugCategory), kPlugCategSynth);
    EXPECT_EQ(host.Dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(host.GetEffectName(), "TestSynth");
    EXPECT_EQ(host.GetProductString(), "TestSynth");
    EXPECT_EQ(host.GetVendorString(), "Torvane Tests");
    // Asking for MIDI on resume.
    EXPECT_GE(host.GetWantMidiCalls(), 1);
}

TEST(VstRecord, EntryRefusesHostsWithoutVst2)
{
    std::string error;
    auto library = VstLibrary::Load(TestSynthPath(), error);
    ASSERT_NE(library, nullptr) << error;
    ASSERT_NE(library->GetEntry(), nullptr);
    EXPECT_EQ(library->GetEntry()(NotVst2Host), nullptr);
    EXPECT_EQ(library->GetEntry()(nullptr), nullptr);
}

TEST(VstRecord, OldEntryNameGivesAnInstanceToo)
{
    std::string error;
    auto library = VstLibrary::Load(TestSynthPath(), error);
    ASSERT_NE(library, nullptr) << error;
    ASSERT_NE(library->GetOldEntry(), nullptr);
    hostCallsWithoutEffect = 0;
    AEffect* e = library->GetOldEntry()(CountingHost);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->magic, kEffectMagic);
    // Only the version query comes before the host has the record.
    EXPECT_EQ(hostCallsWithoutEffect, 1);
    EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
}

TEST(VstRecord, FailedConstructionGivesNoInstance)
{
    VstHost host;
    host.AddHostCanDo("testSynthFailConstruction");
    EXPECT_FALSE(host.Open(TestSynthPath()));
    EXPECT_FALSE(host.IsOpen());
}

TEST(VstRecord, CanDoAnswersOnlyTheWholeMidiTexts)
{
    VstHost host;
    OpenTestSynth(host);
    EXPECT_EQ(host.CanDo("receiveVstEvents"), 1);
    EXPECT_EQ(host.CanDo("receiveVstMidiEvent"), 1);
    EXPECT_EQ(host.CanDo("receiveVstMidiEventX"), -1);
    EXPECT_EQ(host.CanDo("receiveVst"), -1);
    EXPECT_EQ(host.CanDo("sendVstMidiEvent"), -1);
    EXPECT_EQ(host.CanDo(""), -1);
    EXPECT_EQ(host.Dispatch(effCanDo, 0, 0, nullptr), -1);
}

TEST(VstRecord, TextsStayWithinTheirBounds)
{
    VstHost host;
    OpenTestSynth(host);
    EXPECT_EQ(GuardedText(kVstMaxEffectNameLen, [&](char* t) { host.Dispatch(effGetEffectName, 0, 0, t); }),
              "TestSynth");
    EXPECT_EQ(GuardedText(kVstMaxVendorStrLen, [&](char* t) { host.Dispatch(effGetVendorString, 0, 0, t); }),
              "Torvane Tests");
    EXPECT_EQ(
        GuardedText(kVstMaxProductStrLen, [&](char* t) { host.Dispatch(effGetProductString, 0, 0, t); }),
        "TestSynth");
    EXPECT_EQ(GuardedText(kVstMaxParamStrLen, [&](char* t) { host.Dispatch(effGetParamLabel, 0, 0, t); }),
              "");
    EXPECT_EQ(GuardedText(kVstMaxParamStrLen, [&](char* t) { host.Dispatch(effGetParamDisplay, 0, 0, t); }),
              "");
    EXPECT_EQ(GuardedText(kVstMaxProgNameLen, [&](char* t) { host.Dispatch(effGetProgramName, 0, 0, t); }),
              "");

    // Null text pointers are not written through.
    for (VstInt32 opcode : {effGetEffectName, effGetVendorString, effGetProductString, effGetParamName,
                            effGetParamLabel, effGetParamDisplay, effGetProgramName, effSetProgramName})
        EXPECT_EQ(host.Dispatch(opcode, 0, 0, nullptr), 0) << opcode;
}

TEST(VstRecord, ParameterNamesIntoGuardedBuffers)
{
    VstHost host;
    OpenTestSynth(host);
    constexpr std::size_t kBound = 32;
    auto name = [&](int index)
    { return GuardedText(kBound, [&](char* t) { host.Dispatch(effGetParamName, index, 0, t); }); };
    EXPECT_EQ(name(0), "Gain");
    EXPECT_EQ(name(2), "Osc : Level");
    EXPECT_EQ(name(3), "Osc : Mode");
    // Cut to the bound, terminated.
    EXPECT_EQ(name(4),
              std::string("A parameter whose name is longer than any host shows").substr(0, kBound - 1));
    EXPECT_EQ(name(-1), "");
    EXPECT_EQ(name(6), "");
    EXPECT_EQ(name(1 << 30), "");
}

TEST(VstRecord, OutputPins)
{
    VstHost host;
    OpenTestSynth(host);
    VstPinProperties pin{};
    ASSERT_EQ(host.Dispatch(effGetOutputProperties, 0, 0, &pin), 1);
    EXPECT_STREQ(pin.label, "Vst1");
    EXPECT_EQ(pin.flags, kVstPinIsActive | kVstPinIsStereo);
    ASSERT_EQ(host.Dispatch(effGetOutputProperties, 1, 0, &pin), 1);
    EXPECT_STREQ(pin.label, "Vst2");
    VstPinProperties untouched{};
    untouched.flags = 77;
    EXPECT_EQ(host.Dispatch(effGetOutputProperties, 2, 0, &untouched), 0);
    EXPECT_EQ(host.Dispatch(effGetOutputProperties, -1, 0, &untouched), 0);
    EXPECT_EQ(untouched.flags, 77);
    EXPECT_EQ(host.Dispatch(effGetOutputProperties, 0, 0, nullptr), 0);
    EXPECT_EQ(host.Dispatch(effGetInputProperties, 0, 0, &pin), 0);
}

TEST(VstRecord, DispatcherDefaults)
{
    VstHost host;
    OpenTestSynth(host);
    // The editor's rectangle without any window; no window opens nothing.
    ERect* rect = nullptr;
    ASSERT_EQ(host.Dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 120);
    EXPECT_EQ(rect->right, 320);
    EXPECT_EQ(host.Dispatch(effEditOpen, 0, 0, nullptr), 0);
    EXPECT_EQ(host.Dispatch(effEditClose), 0);
    EXPECT_EQ(host.Dispatch(effEditKeyDown, 'a', 0, nullptr, 1e30f), 0);
    EXPECT_EQ(host.Dispatch(effIdentify), FourCharCode("NvEf"));
    EXPECT_EQ(host.Dispatch(effCanBeAutomated, 3), 1);
    EXPECT_EQ(host.Dispatch(effGetTailSize), 0);
    EXPECT_EQ(host.Dispatch(effGetVendorVersion), 0);
    EXPECT_EQ(host.Dispatch(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(host.Dispatch(effSetTotalSampleToProcess, 0, 4096), 4096);
    EXPECT_EQ(host.Dispatch(effGetNumMidiInputChannels), 0);
    EXPECT_EQ(host.Dispatch(80), 0);
    EXPECT_EQ(host.Dispatch(-5), 0);
    EXPECT_EQ(host.Dispatch(100000), 0);

    VstSpeakerArrangement* in = reinterpret_cast<VstSpeakerArrangement*>(0x10);
    VstSpeakerArrangement* out = reinterpret_cast<VstSpeakerArrangement*>(0x20);
    EXPECT_EQ(host.Dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out), 0);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(host.Dispatch(effGetSpeakerArrangement, 0, 0, nullptr), 0);
}

TEST(VstRecord, ProgramsNeedAValidIndex)
{
    VstHost host;
    OpenTestSynth(host);
    for (VstIntPtr program : {VstIntPtr(0), VstIntPtr(-1), VstIntPtr(1), VstIntPtr(1) << 40})
    {
        host.Dispatch(effSetProgram, 0, program);
        EXPECT_EQ(host.Dispatch(effGetProgram), 0) << program;
    }
}

TEST(VstRecord, ExceptionsStayInsideThePlugin)
{
    VstHost host;
    OpenTestSynth(host);
    TestSynthProbe probe;
    EXPECT_EQ(host.Dispatch(effVendorSpecific, kTestSynthProbe, kProbeThrowNow, &probe), 0);
    // Still answering.
    EXPECT_EQ(host.Dispatch(effGetVstVersion), 2400);
}
