// The VST bases compiled into this program: effects with real inputs, and the live-instance
// lists.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "platform/Strand.h"
#include "vst/VstEffectBase.h"
#include "vst/VstInstrumentBase.h"
#include "vst/VstPluginLists.h"

namespace
{

VstIntPtr QuietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

// Left times 2, right times 3.
class Doubler : public VstEffectBase
{
public:
    Doubler()
        : VstEffectBase(QuietHost, 0, 1, 1, FourCharCode("Dbl1"), "Doubler", "Tests", "Doubler", nullptr)
    {
    }

    void Render(float* inL, float* inR, float* outL, float* outR, long frames, int) override
    {
        for (long i = 0; i < frames; ++i)
        {
            outL[i] += 2.0f * inL[i];
            outR[i] += 3.0f * inR[i];
        }
    }
};

class Silent : public VstInstrumentBase
{
public:
    Silent() : VstInstrumentBase(nullptr, 0, 0, 1, FourCharCode("Sil1"), "Silent", "Tests", "Silent", nullptr)
    {
    }
    void Render(float*, float*, long, int) override {}
};

InstrumentBase* AsInstrument(void* p)
{
    return reinterpret_cast<InstrumentBase*>(p);
}

std::vector<float> Ramp(long n, float start)
{
    std::vector<float> v(static_cast<std::size_t>(n));
    std::iota(v.begin(), v.end(), start);
    return v;
}

} // namespace

TEST(VstEffectBase, RecordOfAnEffect)
{
    Doubler effect;
    AEffect* e = effect.getAeffect();
    EXPECT_EQ(e->numInputs, 2);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->flags, effFlagsCanReplacing | effFlagsProgramChunks);
    EXPECT_EQ(e->dispatcher(e, effGetPlugCategory, 0, 0, nullptr, 0.0f), 0);
    char text[] = "receiveVstMidiEvent";
    EXPECT_EQ(e->dispatcher(e, effCanDo, 0, 0, text, 0.0f), 0);
}

TEST(VstEffectBase, InPlaceBlocksRenderFromACopyOfTheInput)
{
    for (long frames : {64L, 8192L, 20000L})
    {
        Doubler effect;
        AEffect* e = effect.getAeffect();
        std::vector<float> left = Ramp(frames, 1.0f);
        std::vector<float> right = Ramp(frames, -5.0f);
        float* channels[2] = {left.data(), right.data()};
        e->processReplacing(e, channels, channels, static_cast<VstInt32>(frames));
        for (long i = 0; i < frames; ++i)
        {
            ASSERT_EQ(left[static_cast<std::size_t>(i)], 2.0f * (1.0f + static_cast<float>(i)))
                << frames << " " << i;
            ASSERT_EQ(right[static_cast<std::size_t>(i)], 3.0f * (-5.0f + static_cast<float>(i)))
                << frames << " " << i;
        }
    }
}

TEST(VstEffectBase, InPlaceOnOneChannelOnly)
{
    Doubler effect;
    AEffect* e = effect.getAeffect();
    std::vector<float> inL = Ramp(100, 1.0f);
    std::vector<float> right = Ramp(100, 10.0f);
    std::vector<float> outL(100, 7.0f);
    float* inputs[2] = {inL.data(), right.data()};
    float* outputs[2] = {outL.data(), right.data()};
    e->processReplacing(e, inputs, outputs, 100);
    for (std::size_t i = 0; i < 100; ++i)
    {
        EXPECT_EQ(outL[i], 2.0f * (1.0f + static_cast<float>(i)));
        EXPECT_EQ(right[i], 3.0f * (10.0f + static_cast<float>(i)));
    }
}

TEST(VstEffectBase, MissingInputsReadAsSilence)
{
    Doubler effect;
    AEffect* e = effect.getAeffect();
    // An in-place block first leaves input in the scratch channels.
    std::vector<float> left = Ramp(512, 1.0f);
    std::vector<float> right = Ramp(512, 1.0f);
    float* channels[2] = {left.data(), right.data()};
    e->processReplacing(e, channels, channels, 512);

    std::vector<float> outL(512, 9.0f);
    std::vector<float> outR(512, 9.0f);
    float* outputs[2] = {outL.data(), outR.data()};
    e->processReplacing(e, nullptr, outputs, 512);
    EXPECT_EQ(outL, std::vector<float>(512, 0.0f));
    EXPECT_EQ(outR, std::vector<float>(512, 0.0f));
    float* oneMissing[2] = {left.data(), nullptr};
    std::fill(outL.begin(), outL.end(), 9.0f);
    e->processReplacing(e, oneMissing, outputs, 512);
    EXPECT_EQ(outL, std::vector<float>(512, 0.0f));
}

TEST(VstEffectBase, SpeakerArrangementsOfManyChannels)
{
    Doubler effect;
    VstSpeakerArrangement* from = nullptr;
    ASSERT_TRUE(effect.allocateArrangement(&from, 12));
    from->type = 42;
    VstSpeakerProperties* speakers = from->speakers;
    for (int i = 0; i < 12; ++i)
    {
        speakers[i].azimuth = static_cast<float>(i);
        std::snprintf(speakers[i].name, sizeof speakers[i].name, "speaker %d", i);
    }
    VstSpeakerArrangement* to = nullptr;
    ASSERT_TRUE(effect.matchArrangement(&to, from));
    EXPECT_EQ(to->numChannels, 12);
    EXPECT_EQ(to->type, 42);
    VstSpeakerProperties const* copied = to->speakers;
    EXPECT_EQ(copied[11].azimuth, 11.0f);
    EXPECT_STREQ(copied[11].name, "speaker 11");
    effect.deallocateArrangement(&from);
    effect.deallocateArrangement(&to);
    EXPECT_EQ(to, nullptr);
    EXPECT_FALSE(effect.allocateArrangement(&to, -1));
}

// What the host calls from inside a call of ours to it made on an editor's strand (an edit's
// audioMasterAutomate) runs as the host's own code: no entry finds the strand current.
std::vector<std::string> entriesSeen;

class EntryProbe : public VstInstrumentBase
{
public:
    explicit EntryProbe(audioMasterCallback host)
        : VstInstrumentBase(host, 0, 1, 1, FourCharCode("Ent1"), "EntryProbe", "Tests", "EntryProbe", nullptr)
    {
    }
    void Render(float*, float*, long, int) override {}
    void Report() { callHost(audioMasterAutomate, 0, 0, nullptr, 0.5f); }
    void Note(char const* entry)
    {
        entriesSeen.push_back(std::string(entry) + (Strand::Current() ? " on the strand" : ""));
    }
    VstInt32 setChunk(void*, VstInt32, bool) override { return Note("effSetChunk"), 0; }
    void setParameter(VstInt32, float) override { Note("setParameter"); }
    float getParameter(VstInt32) override { return Note("getParameter"), 0.0f; }
    VstInt32 processEvents(VstEvents*) override { return Note("effProcessEvents"), 1; }
    void processReplacing(float**, float**, VstInt32) override { Note("processReplacing"); }
};

VstIntPtr ReenteringHost(AEffect* e, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    if (opcode == audioMasterVersion) return 2400;
    if (opcode != audioMasterAutomate) return 0;
    char chunk[4] = {};
    e->dispatcher(e, effSetChunk, 0, sizeof chunk, chunk, 0.0f);
    e->setParameter(e, 0, 0.25f);
    e->getParameter(e, 0);
    VstEvents events{};
    e->dispatcher(e, effProcessEvents, 0, 0, &events, 0.0f);
    e->processReplacing(e, nullptr, nullptr, 0);
    return 0;
}

TEST(VstEntries, EveryEntryTheHostMakesFromInsideACallbackOnAStrandRunsAsTheHostsOwn)
{
    auto* probe = new EntryProbe(ReenteringHost);
    AEffect* const e = probe->getAeffect();
    entriesSeen.clear();
    {
        Strand strand;
        strand.Start([](void* p) { static_cast<EntryProbe*>(p)->Report(); }, probe);
    }
    EXPECT_EQ(entriesSeen, (std::vector<std::string>{"effSetChunk", "setParameter", "getParameter",
                                                     "effProcessEvents", "processReplacing"}));
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

TEST(VstPluginLists, InstancesAreFoundUntilTheyDie)
{
    EXPECT_EQ(FindVstInstrument(nullptr), nullptr);
    auto* a = new Silent;
    auto* b = new Silent;
    // The handles as numbers the compiler cannot follow: looked up again after their
    // objects are gone, as an editor of a closed instance would.
    std::uintptr_t volatile const handleA = reinterpret_cast<std::uintptr_t>(static_cast<AudioEffect*>(a));
    std::uintptr_t volatile const handleB = reinterpret_cast<std::uintptr_t>(static_cast<AudioEffect*>(b));
    auto find = [](std::uintptr_t handle)
    { return FindVstInstrument(reinterpret_cast<AudioEffect*>(handle)); };
    AddVstInstrumentToList(AsInstrument(a), a);
    AddVstInstrumentToList(AsInstrument(b), b);
    EXPECT_EQ(find(handleA), AsInstrument(a));
    EXPECT_EQ(find(handleB), AsInstrument(b));
    delete a;
    EXPECT_EQ(find(handleA), nullptr);
    EXPECT_EQ(find(handleB), AsInstrument(b));
    delete b;
    EXPECT_EQ(find(handleB), nullptr);

    auto* effect = new Doubler;
    std::uintptr_t volatile const handle =
        reinterpret_cast<std::uintptr_t>(static_cast<AudioEffect*>(effect));
    AddVstEffectToList(reinterpret_cast<EffectBase*>(effect), effect);
    EXPECT_EQ(FindVstEffect(effect), reinterpret_cast<EffectBase*>(effect));
    EXPECT_EQ(FindVstInstrument(effect), nullptr);
    delete effect;
    EXPECT_EQ(FindVstEffect(reinterpret_cast<AudioEffect*>(handle)), nullptr);
}

TEST(VstPluginLists, HeadlessInstrumentRendersWithoutAHost)
{
    // No host callback: no time information, no reports, silence rendered.
    Silent silent;
    AEffect* e = silent.getAeffect();
    std::vector<float> left(300, 1.0f);
    std::vector<float> right(300, 1.0f);
    float* outputs[2] = {left.data(), right.data()};
    e->processReplacing(e, nullptr, outputs, 300);
    EXPECT_EQ(left, std::vector<float>(300, 0.0f));
    EXPECT_EQ(silent.GetSourceTempo(), 120.0f);
}

// Ardour 7.0 to 7.3 crash on a begin edit from a plug-in's editor on a MIDI track's lane; they
// get the reports without the bracket. Every other program, and later Ardours, get the bracket.
TEST(VstBase, EditBracketsGoToEveryHostButTheArdoursThatCrashOnThem)
{
    struct Row
    {
        char const* program;
        bool takes;
    };
    Row const rows[] = {
        {"/usr/lib/ardour7/ardour-7.3.0~ds0", false}, // Debian 12
        {"/opt/Ardour-7.3.0/lib/ardour-7.3.0", false},
        {"/opt/Ardour-7.0.0/lib/ardour-7.0.0", false},
        {"/usr/lib/ardour7/ardour-7.2-rc1", false},
        {"/opt/Ardour-7.5.0/lib/ardour-7.5.0", true},
        {"/opt/Ardour-7.10.0/lib/ardour-7.10.0", true},
        {"/opt/Ardour-8.1.0/lib/ardour-8.1.0", true},
        {"/usr/lib/ardour6/ardour-6.9.0~ds0", true},
        {"/usr/bin/qtractor", true},
        {"/work/build/tools/vsthost", true},
        {"ardour-7.", true},
        {"", true},
    };
    for (Row const& row : rows)
        EXPECT_EQ(VstBase::HostTakesEditBrackets(row.program), row.takes) << row.program;
}
