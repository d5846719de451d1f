// TorvaneAU.so as a host sees it through authost: identity, parameters both ways, class info,
// rendering, and the same samples as Torvane.so for the same events and blocks.

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "authost/AUHost.h"
#include "vsthost/MidiFile.h"
#include "vsthost/VstHost.h"

#ifdef TORVANE_AU_PLUGIN_PATH

namespace
{

// Every instrument of this binary keeps its folders below a temporary data folder.
class TemporaryDataFolder : public testing::Environment
{
public:
    void SetUp() override
    {
        folder = std::filesystem::temp_directory_path() / ("torvane-au-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        setenv("XDG_DATA_HOME", folder.c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

private:
    std::filesystem::path folder;
};

testing::Environment* const dataFolder = testing::AddGlobalTestEnvironment(new TemporaryDataFolder);

void Open(AUHost& host)
{
    ASSERT_TRUE(host.Open(TORVANE_AU_PLUGIN_PATH)) << host.GetError();
}

void Open(VstHost& host)
{
    ASSERT_TRUE(host.Open(TORVANE_PLUGIN_PATH)) << host.GetError();
}

bool AllFinite(std::vector<float> const& samples)
{
    return std::all_of(samples.begin(), samples.end(), [](float s) { return std::isfinite(s); });
}

float Peak(std::vector<float> const& samples)
{
    float peak = 0.0f;
    for (float s : samples)
        peak = std::max(peak, std::fabs(s));
    return peak;
}

// Renders `blocks` blocks of `frames` through the unit and answers the last one's left channel.
std::vector<float> RenderBlocks(AUHost& host, UInt32 frames, int blocks)
{
    std::vector<float> left(frames), right(frames);
    for (int i = 0; i < blocks; ++i)
        EXPECT_EQ(host.RenderBlock(frames, left.data(), right.data()), noErr);
    return left;
}

} // namespace

TEST(TorvaneAU, IdentityAndItsView)
{
    AUHost host;
    Open(host);
    EXPECT_EQ(GetComponentVersion(host.GetUnit()), 0x00010000);
    AURegistration const& r = host.GetLibrary()->GetRegistration();
    EXPECT_EQ(r.description.componentSubType, ComponentCode("Trv1"));
    EXPECT_EQ(r.description.componentManufacturer, ComponentCode("CvlA"));
    EXPECT_EQ(r.version, 0x00010000u);
    // The registration's view agrees with the unit's own list of views.
    EXPECT_EQ(r.viewDescription.componentType, ComponentCode("auvw"));
    EXPECT_EQ(r.viewDescription.componentSubType, ComponentCode("Trv1"));
    EXPECT_EQ(r.viewDescription.componentManufacturer, ComponentCode("CvlA"));
    EXPECT_EQ(r.viewEntry, "TorvaneMacAUViewEntry");
    UInt32 size = 0;
    ASSERT_EQ(AudioUnitGetPropertyInfo(host.GetUnit(), kAudioUnitProperty_GetUIComponentList,
                                       kAudioUnitScope_Global, 0, &size, nullptr),
              noErr);
    ASSERT_EQ(size, sizeof(ComponentDescription));
    ComponentDescription listed;
    ASSERT_EQ(AudioUnitGetProperty(host.GetUnit(), kAudioUnitProperty_GetUIComponentList,
                                   kAudioUnitScope_Global, 0, &listed, &size),
              noErr);
    EXPECT_EQ(listed.componentType, r.viewDescription.componentType);
    EXPECT_EQ(listed.componentSubType, r.viewDescription.componentSubType);
    EXPECT_EQ(listed.componentManufacturer, r.viewDescription.componentManufacturer);
    EXPECT_EQ(listed.componentFlags, 0u);
    EXPECT_EQ(listed.componentFlagsMask, 0u);
}

TEST(TorvaneAU, ParameterInfoMatchesTheVstNamesAndCurrentValues)
{
    AUHost au;
    VstHost vst;
    Open(au);
    Open(vst);
    std::vector<UInt32> const ids = au.GetParameterList();
    ASSERT_EQ(ids.size(), 40u);
    for (UInt32 id = 0; id < 40; ++id)
    {
        AUParameterFacts const facts = au.DescribeParameter(id);
        ASSERT_EQ(facts.status, noErr) << id;
        EXPECT_EQ(facts.cfName, vst.GetParameterName(static_cast<int>(id))) << id;
        EXPECT_EQ(facts.name, facts.cfName);
        EXPECT_EQ(facts.defaultValue, au.GetParameter(id)) << id;
        EXPECT_EQ(facts.defaultValue, vst.GetParameter(static_cast<int>(id))) << id;
        EXPECT_GE(facts.defaultValue, 0.0f);
        EXPECT_LE(facts.defaultValue, 1.0f);
        EXPECT_NE(facts.flags & kAudioUnitParameterFlag_CFNameRelease, 0u);
    }
    EXPECT_EQ(au.DescribeParameter(40).status, -10878);
    EXPECT_EQ(au.DescribeParameter(0, kAudioUnitScope_Output).status, -10878);
    EXPECT_EQ(au.SetParameter(40, 0.5f), -10878);
}

TEST(TorvaneAU, HostChangesApplyOnceAndKeyModeSettlesWithANoteHeld)
{
    AUHost host(44100.0, 256);
    Open(host);
    host.ClearNotifications();
    ASSERT_EQ(host.SetParameter(13, 0.5f), noErr);
    RenderBlocks(host, 256, 1);
    EXPECT_FLOAT_EQ(host.GetParameter(13), 0.5f);

    ASSERT_EQ(host.SetParameter(37, 0.3f), noErr); // KeyMode, off its grid
    RenderBlocks(host, 256, 1);
    float const settled = host.GetParameter(37);
    // Applied again at every render, a key-mode change would end the note.
    host.StartNote(60, 100);
    EXPECT_NE(settled, 0.3f);
    std::vector<float> last;
    for (int i = 0; i < 20; ++i)
    {
        last = RenderBlocks(host, 256, 1);
        EXPECT_EQ(host.GetParameter(37), settled);
    }
    EXPECT_GT(Peak(last), 0.001f); // the held note still sounds
    EXPECT_TRUE(host.GetNotifications().empty());
}

TEST(TorvaneAU, ClassInfoRoundTripsAndEqualsTheVstChunk)
{
    AUHost a;
    AUHost b;
    VstHost vst;
    Open(a);
    Open(b);
    Open(vst);
    a.SetParameter(13, 0.25f);
    a.SetParameter(38, 1.0f);
    RenderBlocks(a, 64, 1);
    vst.SetParameter(13, 0.25f);
    vst.SetParameter(38, 1.0f);

    std::vector<std::uint8_t> const state = a.GetState();
    ASSERT_FALSE(state.empty());
    EXPECT_EQ(state, vst.GetChunk());

    b.ClearNotifications();
    CFPropertyListRef info = nullptr;
    ASSERT_EQ(a.SaveClassInfo(info), noErr);
    ASSERT_EQ(b.RestoreClassInfo(info), noErr);
    CFRelease(info);
    EXPECT_EQ(b.GetState(), state);
    // The restored values reach b's listener and survive its next render.
    bool sawVolume = false;
    for (AudioUnitParameter const& p : b.GetNotifications())
    {
        EXPECT_EQ(p.mAudioUnit, b.GetUnit());
        EXPECT_EQ(p.mScope, kAudioUnitScope_Global);
        EXPECT_EQ(p.mElement, 0u);
        sawVolume = sawVolume || p.mParameterID == 13;
    }
    EXPECT_TRUE(sawVolume);
    RenderBlocks(b, 64, 2);
    EXPECT_FLOAT_EQ(b.GetParameter(13), 0.25f);
}

TEST(TorvaneAU, AClassInfoRestoreTellsTheListenersOfEachChangedParameterOnce)
{
    AUHost a;
    AUHost b;
    Open(a);
    Open(b);
    a.SetParameter(13, 0.25f);
    a.SetParameter(38, 1.0f);
    RenderBlocks(a, 64, 1);
    CFPropertyListRef info = nullptr;
    ASSERT_EQ(a.SaveClassInfo(info), noErr);

    // Only the two parameters that differ, once each.
    b.ClearNotifications();
    ASSERT_EQ(b.RestoreClassInfo(info), noErr);
    std::vector<AudioUnitParameterID> ids;
    for (AudioUnitParameter const& p : b.GetNotifications())
        ids.push_back(p.mParameterID);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<AudioUnitParameterID>{13, 38}));

    // The state already held: nothing changes, nobody is told.
    b.ClearNotifications();
    ASSERT_EQ(b.RestoreClassInfo(info), noErr);
    EXPECT_TRUE(b.GetNotifications().empty());
    CFRelease(info);
}

TEST(TorvaneAU, TruncatedAndGarbageStatesAreRefusedAndTheStateKept)
{
    AUHost host(44100.0, 512);
    Open(host);
    host.SetParameter(13, 0.75f);
    RenderBlocks(host, 64, 1);
    std::vector<std::uint8_t> const good = host.GetState();
    ASSERT_FALSE(good.empty());
    for (std::size_t n : {std::size_t(1), std::size_t(9), good.size() / 2, good.size() - 1})
        EXPECT_EQ(host.SetState(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(n))),
                  -10851)
            << n;
    std::vector<std::uint8_t> garbage(good.size());
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 131 + 7);
    EXPECT_EQ(host.SetState(garbage), -10851);
    EXPECT_EQ(host.GetState(), good);
    host.StartNote(64, 100);
    std::vector<float> const block = RenderBlocks(host, 512, 8);
    EXPECT_TRUE(AllFinite(block));
    EXPECT_GT(Peak(block), 0.001f);
}

TEST(TorvaneAU, PlaysFiniteAudioInEveryBlockSize)
{
    for (UInt32 frames : {1u, 64u, 512u, 8192u, 8193u, 20000u})
    {
        AUHost host(44100.0, frames);
        Open(host);
        host.MIDIEvent(0x90, 60, 100);
        host.MIDIEvent(0xB0, 64, 127);
        host.MIDIEvent(0xE0, 0, 80);
        std::vector<float> left(frames), right(frames);
        float peak = 0.0f;
        for (long rendered = 0; rendered < 4096 || rendered < 2 * static_cast<long>(frames);
             rendered += frames)
        {
            ASSERT_EQ(host.RenderBlock(frames, left.data(), right.data()), noErr);
            ASSERT_TRUE(AllFinite(left) && AllFinite(right)) << frames;
            peak = std::max({peak, Peak(left), Peak(right)});
        }
        EXPECT_GT(peak, 0.001f) << frames;
    }
}

TEST(TorvaneAU, StartNoteA4SoundsAt440Hz)
{
    auto play = [](bool startNote)
    {
        AUHost host(44100.0, 4096);
        Open(host);
        if (startNote)
            EXPECT_EQ(host.StartNote(69.0f, 100.0f), noErr);
        else
            EXPECT_EQ(host.MIDIEvent(0x90, 69, 100), noErr);
        std::vector<float> samples;
        std::vector<float> left(4096), right(4096);
        for (int i = 0; i < 8; ++i)
        {
            host.RenderBlock(4096, left.data(), right.data());
            if (i >= 2) samples.insert(samples.end(), left.begin(), left.end());
        }
        return samples;
    };
    std::vector<float> const samples = play(true);
    ASSERT_GT(Peak(samples), 0.001f);
    EXPECT_TRUE(samples == play(false)); // the same as note 69 by MIDI
    // Energy at 440 Hz, far above the semitones on either side.
    auto power = [&](double hz)
    {
        double re = 0.0, im = 0.0;
        for (std::size_t i = 0; i < samples.size(); ++i)
        {
            double const phase = 2.0 * M_PI * hz * static_cast<double>(i) / 44100.0;
            re += samples[i] * std::cos(phase);
            im += samples[i] * std::sin(phase);
        }
        return re * re + im * im;
    };
    double const a4 = power(440.0);
    EXPECT_GT(a4, 10.0 * power(440.0 * std::pow(2.0, 1.0 / 12.0)));
    EXPECT_GT(a4, 10.0 * power(440.0 / std::pow(2.0, 1.0 / 12.0)));
}

TEST(TorvaneAU, SameEventsAndBlocksGiveTheVstPluginsSamples)
{
    for (UInt32 block : {512u, 20000u})
    {
        AUHost au(44100.0, block);
        VstHost vst(44100.0, static_cast<int>(block));
        Open(au);
        Open(vst);
        vst.SetTempo(120.0);
        au.SetTempo(120.0);
        std::vector<TimedMidi> const events = DemoPhrase(44100.0, 120.0);
        long const total = events.back().frame + 22050;
        std::vector<float> auLeft, auRight, vstLeft, vstRight;
        ASSERT_EQ(au.Render(events, total, auLeft, auRight), noErr);
        vst.SetPlaying(true);
        vst.Render(events, total, vstLeft, vstRight);
        ASSERT_EQ(auLeft.size(), vstLeft.size());
        EXPECT_GT(Peak(auLeft), 0.01f);
        EXPECT_TRUE(auLeft == vstLeft) << block;
        EXPECT_TRUE(auRight == vstRight) << block;
    }
}

TEST(TorvaneAU, InstancesOpenAndCloseInAnyOrder)
{
    AUHost a;
    AUHost b;
    Open(a);
    Open(b);
    a.Close();
    b.StartNote(64, 100);
    EXPECT_GT(Peak(RenderBlocks(b, 512, 4)), 0.001f);
    b.Close();
    Open(a);
    EXPECT_EQ(a.GetParameterList().size(), 40u);
}

// A host may keep what a unit handed it (its class info, a parameter's name) after closing the
// unit and unloading its library: those objects belong to the shared CoreFoundation library.
TEST(TorvaneAU, ClassInfoAndParameterNamesOutliveTheUnloadedLibrary)
{
    long const liveBefore = CFLiveObjectCount();
    CFPropertyListRef classInfo = nullptr;
    CFStringRef name = nullptr;
    std::string expectedName;
    {
        AUHost host;
        Open(host);
        ASSERT_EQ(host.SaveClassInfo(classInfo), noErr);
        ASSERT_NE(classInfo, nullptr);
        AudioUnitParameterInfo info;
        UInt32 size = sizeof info;
        ASSERT_EQ(AudioUnitGetProperty(host.GetUnit(), kAudioUnitProperty_ParameterInfo,
                                       kAudioUnitScope_Global, 0, &info, &size),
                  noErr);
        name = info.cfNameString;
        ASSERT_NE(name, nullptr);
        expectedName.assign(info.name, strnlen(info.name, sizeof info.name));
        host.Close();
    }
    // The host's last reference is gone, yet the library stays mapped: it is never unmapped once
    // loaded (a close may return while one of its threads still runs our code).
    void* const stillMapped = dlopen(TORVANE_AU_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(stillMapped, nullptr);
    dlclose(stillMapped);

    ASSERT_EQ(CFGetTypeID(classInfo), CFDictionaryGetTypeID());
    auto const dictionary = static_cast<CFDictionaryRef>(classInfo);
    void const* block = CFDictionaryGetValue(dictionary, CFSTR("Torvane_State"));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(CFGetTypeID(block), CFDataGetTypeID());
    EXPECT_GT(CFDataGetLength(static_cast<CFDataRef>(block)), 0);
    void const* subtype = CFDictionaryGetValue(dictionary, CFSTR("subtype"));
    SInt32 code = 0;
    ASSERT_NE(subtype, nullptr);
    EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(subtype), kCFNumberSInt32Type, &code));
    EXPECT_EQ(static_cast<std::uint32_t>(code), ComponentCode("Trv1"));

    ASSERT_EQ(CFGetTypeID(name), CFStringGetTypeID());
    char text[128];
    ASSERT_TRUE(CFStringGetCString(name, text, sizeof text, kCFStringEncodingUTF8));
    EXPECT_EQ(text, expectedName);

    CFRelease(classInfo);
    CFRelease(name);
    EXPECT_EQ(CFLiveObjectCount(), liveBefore);
}

#ifdef TORVANE_AUHOST_PATH
TEST(TorvaneAU, CommandLineHostRendersTheDemoAndTellsTheFacts)
{
    std::filesystem::path const wav =
        std::filesystem::temp_directory_path() / ("torvane-authost-" + std::to_string(::getpid()) + ".wav");
    std::string const render = std::string(TORVANE_AUHOST_PATH) + " -f -o " + wav.string() + " " +
                               TORVANE_AU_PLUGIN_PATH + " > /dev/null";
    ASSERT_EQ(std::system(render.c_str()), 0);
    EXPECT_GT(std::filesystem::file_size(wav), 44100u * 8u);
    std::filesystem::remove(wav);

    std::string const info = std::string(TORVANE_AUHOST_PATH) + " -i " + TORVANE_AU_PLUGIN_PATH;
    FILE* out = popen(info.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr)
        text += buffer;
    EXPECT_EQ(pclose(out), 0);
    EXPECT_NE(text.find("subtype: Trv1"), std::string::npos);
    EXPECT_NE(text.find("parameters: 40"), std::string::npos);
    EXPECT_NE(text.find("KeyMode"), std::string::npos);

    std::string const bad =
        std::string(TORVANE_AUHOST_PATH) + " -b 0 " + TORVANE_AU_PLUGIN_PATH + " 2>/dev/null";
    EXPECT_NE(std::system(bad.c_str()), 0);
    std::string const missing = std::string(TORVANE_AUHOST_PATH) + " /nonexistent/x.so 2>/dev/null";
    EXPECT_NE(std::system(missing.c_str()), 0);
}
#endif

#endif
