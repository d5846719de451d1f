// The Audio Unit instrument base through its component entry, with the probe instrument:
// opening and closing, notes and MIDI, render checks, parameters, rate and tempo, class info.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "AUProbe.h"

namespace
{

struct FailureCase
{
    ProbeFailure failure;
    bool inPostConstructor;
    OSStatus status;
};

class AUOpenFailure : public testing::TestWithParam<FailureCase>
{
};

} // namespace

TEST_P(AUOpenFailure, AnswersItsStatusFreesTheObjectAndSetsNoStorage)
{
    FailureCase const c = GetParam();
    (c.inPostConstructor ? ProbeInstrument::failInPostConstructor : ProbeInstrument::failInConstructor) =
        c.failure;
    int const liveBefore = ProbeInstrument::live;
    AUHost host;
    EXPECT_FALSE(host.Open(&ProbeEntry, ProbeDescription()));
    ProbeInstrument::failInConstructor = ProbeInstrument::failInPostConstructor = ProbeFailure::None;
    EXPECT_EQ(host.GetOpenStatus(), c.status);
    EXPECT_EQ(host.GetUnit()->storage, nullptr);
    EXPECT_EQ(ProbeInstrument::live, liveBefore);
}

INSTANTIATE_TEST_SUITE_P(Probe, AUOpenFailure,
                         testing::Values(FailureCase{ProbeFailure::BadAlloc, false, -108},
                                         FailureCase{ProbeFailure::Status, false, -12345},
                                         FailureCase{ProbeFailure::Text, false, -1},
                                         FailureCase{ProbeFailure::BadAlloc, true, -108},
                                         FailureCase{ProbeFailure::Status, true, -12345},
                                         FailureCase{ProbeFailure::Text, true, -1}));

TEST(AUEntry, NullStorageAndNullInstanceAnswerAnError)
{
    ComponentInstanceRecord record;
    record.entry = &ProbeEntry;
    for (std::int16_t what : {kComponentCloseSelect, kComponentVersionSelect, kAudioUnitInitializeSelect,
                              kAudioUnitRenderSelect, kMusicDeviceMIDIEventSelect})
    {
        ComponentParameters params;
        params.what = what;
        EXPECT_EQ(ProbeEntry(&params, nullptr), badComponentInstance) << what;
    }
    ComponentParameters open;
    open.what = kComponentOpenSelect;
    EXPECT_EQ(ProbeEntry(&open, nullptr), badComponentInstance);
    EXPECT_NE(ProbeEntry(nullptr, nullptr), noErr);
}

TEST(AUEntry, OpenVersionAndClose)
{
    int const liveBefore = ProbeInstrument::live;
    AUHost host;
    OpenProbe(host);
    EXPECT_EQ(ProbeInstrument::live, liveBefore + 1);
    EXPECT_EQ(GetComponentVersion(host.GetUnit()), 0x00020003);
    // An unknown selector is answered, not dispatched anywhere.
    EXPECT_EQ(aucall::Call(host.GetUnit(), 0x7000, {}), badComponentSelector);
    host.Close();
    EXPECT_EQ(ProbeInstrument::live, liveBefore);
}

// ---- notes and MIDI ---------------------------------------------------------------------------

TEST(AUMidi, MessagesReachTheDecoderAsTheTableSays)
{
    AUHost host;
    OpenProbe(host);
    ProbeInstrument& probe = ProbeOf(host);
    struct Row
    {
        UInt32 status, data1, data2, offset;
        std::vector<ProbeMidi> expected;
    };
    std::vector<Row> const rows = {
        {0x90, 60, 100, 5, {{0, 0x90, 60, 100, 5}}},
        {0x93, 61, 90, 0, {{0, 0x90, 61, 90, 0}}}, // channel not passed: the note is on channel 0
        {0x90, 60, 0, 7, {{0, 0x80, 60, 0, 7}}},   // velocity 0 stops the note
        {0x85, 62, 64, 3, {{0, 0x80, 62, 0, 3}}},
        {0xB5, 1, 77, 9, {{0, 0xB0, 1, 77, 9}}}, // control change arrives on channel 0
        {0xB5, 123, 0, 9, {{5, 0xB0, 123, 0, 0}}},
        {0xB5, 120, 0, 0, {}},
        {0xB5, 121, 0, 0, {}},
        {0xE3, 0x11, 0x40, 4, {{3, 0xE0, 0x11, 0x40, 4}}}, // pitch wheel keeps its channel
        {0xC2, 5, 0, 0, {}},
        {0xD2, 5, 0, 0, {}},
        {0xA2, 60, 5, 0, {}},
        {0xF8, 0, 0, 0, {}},
        {0x40, 1, 2, 0, {}},
        {0xBF, 0x1FF, 0x2F0, 1, {{0, 0xB0, 0x7F, 0x70, 1}}}, // data bytes masked to 7 bits
    };
    for (Row const& row : rows)
    {
        probe.midi.clear();
        EXPECT_EQ(host.MIDIEvent(row.status, row.data1, row.data2, row.offset), noErr);
        EXPECT_EQ(probe.midi, row.expected) << std::hex << row.status << " " << row.data1;
    }
    probe.midi.clear();
    EXPECT_EQ(host.SysEx({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}), noErr);
    EXPECT_TRUE(probe.midi.empty());
}

TEST(AUMidi, StartAndStopNoteCheckPitchVelocityAndId)
{
    AUHost host;
    OpenProbe(host);
    ProbeInstrument& probe = ProbeOf(host);
    float const nan = std::numeric_limits<float>::quiet_NaN();
    float const inf = std::numeric_limits<float>::infinity();
    struct Row
    {
        float pitch, velocity;
        OSStatus status;
        int data1, data2;
    };
    for (Row const& row :
         {Row{60.7f, 100.9f, noErr, 60, 100}, Row{0.0f, 127.0f, noErr, 0, 127},
          Row{127.99f, 1.0f, noErr, 127, 1}, Row{-0.5f, 10.0f, noErr, 0, 10},
          Row{128.0f, 100.0f, -10878, 0, 0}, Row{-1.0f, 100.0f, -10878, 0, 0}, Row{nan, 100.0f, -10878, 0, 0},
          Row{inf, 100.0f, -10878, 0, 0}, Row{60.0f, 200.0f, -10878, 0, 0}, Row{60.0f, nan, -10878, 0, 0},
          Row{60.0f, -2.0f, -10878, 0, 0}})
    {
        probe.midi.clear();
        EXPECT_EQ(host.StartNote(row.pitch, row.velocity, 11), row.status)
            << row.pitch << " " << row.velocity;
        if (row.status == noErr)
            EXPECT_EQ(probe.midi, (std::vector<ProbeMidi>{{0, 0x90, row.data1, row.data2, 11}}));
        else
            EXPECT_TRUE(probe.midi.empty());
    }
    probe.midi.clear();
    EXPECT_EQ(host.StopNote(64, 2), noErr);
    EXPECT_EQ(host.StopNote(128, 2), -10878);
    EXPECT_EQ(host.StopNote(0xFFFFFFFFu, 2), -10878);
    EXPECT_EQ(probe.midi, (std::vector<ProbeMidi>{{0, 0x80, 64, 0, 2}}));
    // A missing note record is refused.
    NoteInstanceID id = 0;
    EXPECT_EQ(MusicDeviceStartNote(host.GetUnit(), 0, 0, &id, 0, nullptr), -10878);
}

TEST(AUMidi, EventsForLaterPiecesOfALongBlockWaitForTheirPiece)
{
    AUHost host(44100.0, 20000);
    OpenProbe(host);
    ProbeInstrument& probe = ProbeOf(host);
    host.MIDIEvent(0x90, 60, 100, 100);
    host.MIDIEvent(0x90, 61, 100, 8192 + 5);
    host.MIDIEvent(0x90, 62, 100, 2 * 8192 + 1);
    host.MIDIEvent(0x90, 63, 100, 50000); // beyond the block: the last piece takes it
    EXPECT_EQ(probe.midi.size(), 1u);
    std::vector<float> left(20000), right(20000);
    ASSERT_EQ(host.RenderBlock(20000, left.data(), right.data()), noErr);
    EXPECT_EQ(probe.renderFrames, (std::vector<long>{8192, 8192, 20000 - 2 * 8192}));
    EXPECT_EQ(probe.midi, (std::vector<ProbeMidi>{{0, 0x90, 60, 100, 100},
                                                  {0, 0x90, 61, 100, 5},
                                                  {0, 0x90, 62, 100, 1},
                                                  {0, 0x90, 63, 100, 20000 - 2 * 8192 - 1}}));
    EXPECT_EQ(probe.nextBuffers, 3);
    EXPECT_EQ(probe.postRenders, 3);
}

// ---- render -------------------------------------------------------------------------------------

TEST(AURender, RefusedCallsWriteNothing)
{
    AUHost host(44100.0, 256);
    OpenProbe(host, false);
    ProbeInstrument& probe = ProbeOf(host);
    {
        CanaryList l(2, 64, 64);
        EXPECT_EQ(host.RenderList(64, &l.list), -10867);
        EXPECT_TRUE(l.Untouched());
    }
    ASSERT_EQ(host.Initialize(), noErr);
    struct Row
    {
        UInt32 buffers, frames, bytesFrames;
        OSStatus status;
    };
    for (Row const& row : {Row{2, 257, 257, -10874}, Row{1, 64, 64, -10868}, Row{3, 64, 64, -10868},
                           Row{2, 64, 63, -10868}, Row{0, 64, 64, -10868}})
    {
        CanaryList l(row.buffers, row.bytesFrames, 300);
        EXPECT_EQ(host.RenderList(row.frames, &l.list), row.status) << row.buffers << " " << row.bytesFrames;
        EXPECT_TRUE(l.Untouched());
    }
    // Two channels in one buffer is not the format either.
    CanaryList interleaved(2, 64, 300);
    interleaved.list.mBuffers[0].mNumberChannels = 2;
    EXPECT_EQ(host.RenderList(64, &interleaved.list), -10868);
    EXPECT_TRUE(interleaved.Untouched());
    EXPECT_EQ(host.RenderList(64, nullptr), -10878);
    EXPECT_TRUE(probe.renderFrames.empty());
    EXPECT_EQ(probe.nextBuffers, 0);
}

TEST(AURender, NullDataRendersIntoTheUnitsOwnBuffers)
{
    AUHost host(44100.0, 512);
    OpenProbe(host);
    AudioBufferList list;
    list.mNumberBuffers = 2;
    for (UInt32 c = 0; c < 2; ++c)
        list.mBuffers[c].mNumberChannels = 1;
    ASSERT_EQ(host.RenderList(300, &list), noErr);
    for (UInt32 c = 0; c < 2; ++c)
    {
        ASSERT_NE(list.mBuffers[c].mData, nullptr);
        EXPECT_EQ(list.mBuffers[c].mDataByteSize, 300u * sizeof(float));
        auto const* samples = static_cast<float const*>(list.mBuffers[c].mData);
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(samples[i], c == 0 ? ProbeInstrument::kLevel : -ProbeInstrument::kLevel);
    }
}

TEST(AURender, EveryBlockSizeUpToTheMaximumIsClearedAndRendered)
{
    AUHost host(44100.0, 20000);
    OpenProbe(host);
    ProbeInstrument& probe = ProbeOf(host);
    for (UInt32 frames : {1u, 2u, 63u, 512u, 8191u, 8192u, 8193u, 16384u, 20000u})
    {
        std::vector<float> left(frames, 9.0f), right(frames, 9.0f);
        probe.renderFrames.clear();
        ASSERT_EQ(host.RenderBlock(frames, left.data(), right.data()), noErr) << frames;
        long total = 0;
        for (long n : probe.renderFrames)
        {
            EXPECT_LE(n, 8192);
            total += n;
        }
        EXPECT_EQ(total, static_cast<long>(frames));
        for (UInt32 i = 0; i < frames; ++i)
        {
            ASSERT_EQ(left[i], ProbeInstrument::kLevel) << frames << " " << i;
            ASSERT_EQ(right[i], -ProbeInstrument::kLevel);
        }
    }
}

TEST(AURender, FormatAndMaximumFramesChangeOnlyWhileUninitialised)
{
    AUHost host;
    OpenProbe(host, false);
    AudioStreamBasicDescription format = CanonicalStereoFormat(48000.0);
    EXPECT_EQ(AudioUnitSetProperty(host.GetUnit(), kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                                   &format, sizeof format),
              noErr);
    for (double rate : {0.0, 0.5, -44100.0, std::nan(""), double(INFINITY)})
        EXPECT_EQ(host.SetStreamRate(rate), -10868) << rate;
    AudioStreamBasicDescription interleaved = CanonicalStereoFormat(44100.0);
    interleaved.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved;
    EXPECT_EQ(AudioUnitSetProperty(host.GetUnit(), kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                                   &interleaved, sizeof interleaved),
              -10868);
    EXPECT_EQ(host.SetStreamRate(1.0), noErr);
    EXPECT_EQ(host.SetStreamRate(96000.0), noErr);
    EXPECT_EQ(host.SetMaximumFrames(0), -10851);
    Boolean writable = false;
    UInt32 size = 0;
    EXPECT_EQ(AudioUnitGetPropertyInfo(host.GetUnit(), kAudioUnitProperty_StreamFormat,
                                       kAudioUnitScope_Output, 0, &size, &writable),
              noErr);
    EXPECT_TRUE(writable);
    EXPECT_EQ(size, sizeof(AudioStreamBasicDescription));

    ASSERT_EQ(host.Initialize(), noErr);
    EXPECT_EQ(host.SetStreamRate(44100.0), -10865);
    EXPECT_EQ(host.SetMaximumFrames(4096), -10849);
    AudioUnitGetPropertyInfo(host.GetUnit(), kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                             &size, &writable);
    EXPECT_FALSE(writable);
    AudioStreamBasicDescription read;
    size = sizeof read;
    ASSERT_EQ(AudioUnitGetProperty(host.GetUnit(), kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0,
                                   &read, &size),
              noErr);
    EXPECT_EQ(read.mSampleRate, 96000.0);
}

TEST(AURender, RateIsPushedInWholeHertzAndTempoOnlyWhenReported)
{
    AUHost host(44100.5, 256);
    OpenProbe(host);
    ProbeInstrument& probe = ProbeOf(host);
    std::vector<float> left(256), right(256);

    ASSERT_EQ(host.SetTempoCallback(false), noErr);
    host.RenderBlock(256, left.data(), right.data());
    EXPECT_EQ(probe.GetSourceSampleRate(), 44100.0f);
    EXPECT_EQ(probe.GetSourceTempo(), 120.0f);

    ASSERT_EQ(host.SetTempoCallback(true), noErr);
    host.SetTempo(140.0);
    host.RenderBlock(256, left.data(), right.data());
    EXPECT_EQ(probe.GetSourceTempo(), 140.0f);
    for (double tempo : {0.0, -5.0, std::nan(""), double(INFINITY)})
    {
        host.SetTempo(tempo);
        host.RenderBlock(256, left.data(), right.data());
        EXPECT_EQ(probe.GetSourceTempo(), 140.0f) << tempo;
    }
    EXPECT_GT(host.GetTempoRequests(), 0);
}

// ---- parameters ---------------------------------------------------------------------------------

TEST(AUParameters, InfoDescribesEachParameter)
{
    AUHost host;
    OpenProbe(host);
    EXPECT_EQ(host.GetParameterList(), (std::vector<UInt32>{0, 1, 2, 3}));
    char const* const names[] = {"Gain", "Mode", "Tune",
                                 "A parameter whose name is longer than the C name field of a host"};
    for (UInt32 id = 0; id < 4; ++id)
    {
        AUParameterFacts const facts = host.DescribeParameter(id);
        ASSERT_EQ(facts.status, noErr);
        EXPECT_EQ(facts.cfName, names[id]);
        EXPECT_EQ(facts.name, std::string(names[id]).substr(0, 51));
        EXPECT_EQ(facts.flags, kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable |
                                   kAudioUnitParameterFlag_HasCFNameString |
                                   kAudioUnitParameterFlag_CFNameRelease);
        EXPECT_EQ(facts.unit, kAudioUnitParameterUnit_LinearGain);
        EXPECT_EQ(facts.minValue, 0.0f);
        EXPECT_EQ(facts.maxValue, 1.0f);
        EXPECT_EQ(facts.defaultValue, host.GetParameter(id)) << id;
    }
    EXPECT_NEAR(host.DescribeParameter(0).defaultValue, 0.8f, 1e-6f);
    EXPECT_NEAR(host.DescribeParameter(2).defaultValue, 0.5f, 1e-6f);
    EXPECT_EQ(host.DescribeParameter(4).status, -10878);
    EXPECT_EQ(host.DescribeParameter(0, kAudioUnitScope_Output).status, -10878);
    EXPECT_EQ(host.DescribeParameter(0, kAudioUnitScope_Input).status, -10878);
    EXPECT_TRUE(std::isnan(host.GetParameter(4)));
}

TEST(AUParameters, HostChangesApplyOnceAtTheNextRenderWithoutEcho)
{
    AUHost host(44100.0, 64);
    OpenProbe(host);
    ProbeInstrument& probe = ProbeOf(host);
    std::vector<float> left(64), right(64);
    host.ClearNotifications();

    EXPECT_EQ(host.SetParameter(0, 0.25f), noErr);
    EXPECT_NEAR(static_cast<float>(probe.gain), 0.8f, 1e-6f); // not before the render
    host.RenderBlock(64, left.data(), right.data());
    EXPECT_EQ(static_cast<float>(probe.gain), 0.25f);
    EXPECT_TRUE(host.GetNotifications().empty());

    // Out of range is held to 0..1; not finite is refused.
    EXPECT_EQ(host.SetParameter(2, 1.5f), noErr);
    EXPECT_EQ(host.GetParameter(2), 1.0f);
    EXPECT_EQ(host.SetParameter(2, std::nanf("")), -10878);
    EXPECT_EQ(host.SetParameter(2, -INFINITY), -10878);
    EXPECT_EQ(host.SetParameter(4, 0.5f), -10878);
    EXPECT_EQ(host.GetParameter(2), 1.0f);
    host.RenderBlock(64, left.data(), right.data());
    EXPECT_EQ(static_cast<float>(probe.tune), 12.0f);

    // Off the grid: the discrete value lands on its step once, and the host reads the step.
    EXPECT_EQ(host.SetParameter(1, 0.3f), noErr);
    host.RenderBlock(64, left.data(), right.data());
    EXPECT_EQ(static_cast<float>(probe.mode), 1.0f);
    EXPECT_NEAR(host.GetParameter(1), 1.0f / 3.0f, 1e-6f);
    EXPECT_TRUE(host.GetNotifications().empty());
}

TEST(AUParameters, InsideChangesReachTheListenerAndSurviveTheNextRender)
{
    AUHost host(44100.0, 64);
    OpenProbe(host);
    ProbeInstrument& probe = ProbeOf(host);
    std::vector<float> left(64), right(64);
    host.SetParameter(0, 0.1f); // a host value not yet applied
    host.ClearNotifications();

    probe.gain = 0.6f;
    auto const notes = host.GetNotifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].mAudioUnit, host.GetUnit());
    EXPECT_EQ(notes[0].mParameterID, 0u);
    EXPECT_EQ(notes[0].mScope, kAudioUnitScope_Global);
    EXPECT_EQ(notes[0].mElement, 0u);
    EXPECT_NEAR(host.GetParameter(0), 0.6f, 1e-6f);
    // The host's older value does not overwrite the change.
    host.RenderBlock(64, left.data(), right.data());
    host.RenderBlock(64, left.data(), right.data());
    EXPECT_NEAR(static_cast<float>(probe.gain), 0.6f, 1e-6f);
}

// ---- class info ---------------------------------------------------------------------------------

TEST(AUClassInfo, SaveHoldsIdentityAndStateAndRestoresElsewhere)
{
    AUHost a;
    AUHost b;
    OpenProbe(a);
    OpenProbe(b);
    ProbeOf(a).stateByte = 42;
    CFPropertyListRef info = nullptr;
    ASSERT_EQ(a.SaveClassInfo(info), noErr);
    ASSERT_NE(info, nullptr);
    auto const dictionary = static_cast<CFDictionaryRef>(info);
    EXPECT_EQ(CFDictionaryGetCount(dictionary), 5);
    auto number = [&](char const* key)
    {
        SInt32 n = -1;
        CFNumberGetValue(
            static_cast<CFNumberRef>(CFDictionaryGetValue(dictionary, CFStringMakeConstant(key))),
            kCFNumberSInt32Type, &n);
        return static_cast<std::uint32_t>(n);
    };
    EXPECT_EQ(number("version"), 0u);
    EXPECT_EQ(number("type"), ComponentCode("aumu"));
    EXPECT_EQ(number("subtype"), ComponentCode("Prb1"));
    EXPECT_EQ(number("manufacturer"), ComponentCode("Test"));
    EXPECT_EQ(b.RestoreClassInfo(info), noErr);
    EXPECT_EQ(ProbeOf(b).stateByte, 42);
    CFRelease(info);
}

TEST(AUClassInfo, BadClassInfoIsRefusedAndTheStateKept)
{
    AUHost host;
    OpenProbe(host);
    ProbeInstrument& probe = ProbeOf(host);
    long const liveObjects = CFLiveObjectCount();

    auto make = [&](std::uint32_t subtype, CFTypeRef state)
    {
        CFMutableDictionaryRef d = CFDictionaryCreateMutable(
            kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        auto put = [d](char const* key, std::uint32_t value)
        {
            auto const v = static_cast<SInt32>(value);
            CFNumberRef n = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &v);
            CFDictionarySetValue(d, CFStringMakeConstant(key), n);
            CFRelease(n);
        };
        put("version", 0);
        put("type", ComponentCode("aumu"));
        put("subtype", subtype);
        put("manufacturer", ComponentCode("Test"));
        if (state != nullptr) CFDictionarySetValue(d, CFSTR("Torvane_State"), state);
        return d;
    };
    std::uint8_t const good[] = {'P', 'R', 'B', 9};
    std::uint8_t const garbage[] = {'X', 'Y', 'Z', 1, 2};
    CFDataRef goodData = CFDataCreate(kCFAllocatorDefault, good, 4);
    CFDataRef badData = CFDataCreate(kCFAllocatorDefault, garbage, 5);
    CFStringRef text = CFStringCreateWithCString(kCFAllocatorDefault, "PRB9", kCFStringEncodingASCII);

    CFMutableDictionaryRef missing = make(ComponentCode("Prb1"), nullptr);
    CFMutableDictionaryRef stringValue = make(ComponentCode("Prb1"), text);
    CFMutableDictionaryRef wrongSubtype = make(ComponentCode("Trv1"), goodData);
    CFMutableDictionaryRef refused = make(ComponentCode("Prb1"), badData);
    CFDataRef notADictionary = goodData;
    for (CFTypeRef info : {static_cast<CFTypeRef>(missing), static_cast<CFTypeRef>(stringValue),
                           static_cast<CFTypeRef>(wrongSubtype), static_cast<CFTypeRef>(notADictionary),
                           static_cast<CFTypeRef>(nullptr), static_cast<CFTypeRef>(refused)})
    {
        EXPECT_EQ(host.RestoreClassInfo(info), -10851);
        EXPECT_EQ(probe.stateByte, 7);
    }
    EXPECT_EQ(probe.restores, 1); // only the refused bytes reached the plug-in

    CFDataRef empty = CFDataCreate(kCFAllocatorDefault, nullptr, 0);
    CFMutableDictionaryRef emptyState = make(ComponentCode("Prb1"), empty);
    EXPECT_EQ(host.RestoreClassInfo(emptyState), noErr);
    EXPECT_EQ(probe.restores, 1);
    EXPECT_EQ(probe.stateByte, 7);

    for (CFTypeRef object :
         {static_cast<CFTypeRef>(missing), static_cast<CFTypeRef>(stringValue),
          static_cast<CFTypeRef>(wrongSubtype), static_cast<CFTypeRef>(refused),
          static_cast<CFTypeRef>(emptyState), static_cast<CFTypeRef>(goodData),
          static_cast<CFTypeRef>(badData), static_cast<CFTypeRef>(text), static_cast<CFTypeRef>(empty)})
        CFRelease(object);
    EXPECT_EQ(CFLiveObjectCount(), liveObjects);
}

TEST(AUClassInfo, SavingWithoutStateAnswersMinusOneAndLeaksNothing)
{
    AUHost host;
    OpenProbe(host);
    ProbeOf(host).haveState = false;
    long const liveObjects = CFLiveObjectCount();
    CFPropertyListRef info = reinterpret_cast<CFPropertyListRef>(1);
    EXPECT_EQ(host.SaveClassInfo(info), -1);
    EXPECT_EQ(CFLiveObjectCount(), liveObjects);
}

TEST(AUProperties, UnknownAndReadOnlyPropertiesAndTheView)
{
    AUHost host;
    OpenProbe(host);
    UInt32 size = 0;
    EXPECT_EQ(AudioUnitGetPropertyInfo(host.GetUnit(), kAudioUnitProperty_GetUIComponentList,
                                       kAudioUnitScope_Global, 0, &size, nullptr),
              noErr);
    EXPECT_EQ(size, sizeof(ComponentDescription));
    EXPECT_EQ(AudioUnitGetPropertyInfo(host.GetUnit(), 9999, kAudioUnitScope_Global, 0, &size, nullptr),
              kAudioUnitErr_InvalidProperty);
    UInt32 ids[4];
    EXPECT_EQ(AudioUnitSetProperty(host.GetUnit(), kAudioUnitProperty_ParameterList, kAudioUnitScope_Global,
                                   0, ids, sizeof ids),
              kAudioUnitErr_PropertyNotWritable);
    // The view description it would give.
    ComponentDescription view;
    ProbeOf(host).GetUIComponentDescs(&view);
    EXPECT_EQ(view.componentType, ComponentCode("auvw"));
    EXPECT_EQ(view.componentSubType, ComponentCode("Prb1"));
    EXPECT_EQ(view.componentManufacturer, ComponentCode("Test"));
    EXPECT_EQ(view.componentFlags, 0u);
    EXPECT_EQ(view.componentFlagsMask, 0u);
    UInt32 count = 0;
    size = sizeof count;
    EXPECT_EQ(AudioUnitGetProperty(host.GetUnit(), kAudioUnitProperty_ElementCount, kAudioUnitScope_Output, 0,
                                   &count, &size),
              noErr);
    EXPECT_EQ(count, 1u);
}
