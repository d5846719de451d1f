// The Audio Unit effect base with a test gain effect built into the test binary.

#include <gtest/gtest.h>

#include "au/AUComponentEntry.h"
#include "au/AUPluginLists.h"
#include "au/MacAUEffectBase.h"
#include "authost/AUHost.h"
#include "framework/Parameter.h"
#include "platform/Strand.h"

namespace
{

class GainEffect : public MacAUEffectBase
{
public:
    using AUEffectBase::Render;

    explicit GainEffect(ComponentInstance instance) : MacAUEffectBase(instance, 1)
    {
        gain.Create("Gain", this, Parameter::Global, 0.0f, 2.0f, Parameter::Continuous);
        gain = 0.5f;
        AddAutomatableParameter(&gain);
        SetNumParameters(1);
    }
    std::uint32_t GetVersion() override { return 0x00010000; }
    std::uint32_t GetSubType() override { return ComponentCode("Gai1"); }
    std::uint32_t GetManufacturer() override { return ComponentCode("Test"); }
    void Render(float* inL, float* inR, float* outL, float* outR, long frames, int) override
    {
        ++renders;
        rendersOnAStrand += Strand::Current() != nullptr ? 1 : 0;
        for (long i = 0; i < frames; ++i)
        {
            outL[i] += inL[i] * gain;
            outR[i] += inR[i] * gain;
        }
    }
    void NextBuffer() override { ++nextBuffers; }
    void PostRender() override { ++postRenders; }

    Parameter gain;
    int renders = 0;
    int rendersOnAStrand = 0;
    int nextBuffers = 0;
    int postRenders = 0;
};

OSStatus GainEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<GainEffect>(params, storage);
}

ComponentDescription GainDescription()
{
    ComponentDescription d;
    d.componentType = ComponentCode("aufx");
    d.componentSubType = ComponentCode("Gai1");
    d.componentManufacturer = ComponentCode("Test");
    return d;
}

AudioBufferList ListOf(std::vector<std::vector<float>>& channels)
{
    AudioBufferList list;
    list.mNumberBuffers = static_cast<UInt32>(channels.size());
    for (std::size_t c = 0; c < channels.size(); ++c)
    {
        list.mBuffers[c].mNumberChannels = 1;
        list.mBuffers[c].mDataByteSize = static_cast<UInt32>(channels[c].size() * sizeof(float));
        list.mBuffers[c].mData = channels[c].data();
    }
    return list;
}

} // namespace

TEST(AUEffect, RendersInPlaceThroughTheHostsList)
{
    AUHost host(44100.0, 512);
    ASSERT_TRUE(host.Open(&GainEntry, GainDescription())) << host.GetError();
    auto& effect = *static_cast<GainEffect*>(host.GetUnit()->storage);
    std::vector<std::vector<float>> channels = {std::vector<float>(100, 1.0f),
                                                std::vector<float>(100, -2.0f)};
    AudioBufferList list = ListOf(channels);
    ASSERT_EQ(host.RenderList(100, &list), noErr);
    for (int i = 0; i < 100; ++i)
    {
        ASSERT_EQ(channels[0][static_cast<std::size_t>(i)], 0.5f);
        ASSERT_EQ(channels[1][static_cast<std::size_t>(i)], -1.0f);
    }
    // A host change applies at the next render.
    ASSERT_EQ(host.SetParameter(0, 1.0f), noErr);
    host.RenderList(100, &list);
    EXPECT_EQ(channels[0][0], 1.0f);
    EXPECT_EQ(effect.renders, 2);
    EXPECT_EQ(host.DescribeParameter(0).cfName, "Gain");
    EXPECT_EQ(host.DescribeParameter(1).status, -10878);
}

// A host that renders from inside a call of ours to it made on an editor's strand: the entry runs
// as the host's own code, with no strand current.
TEST(AUEffect, ARenderFromInsideOurCallOnAStrandRunsAsTheHostsOwn)
{
    AUHost host(44100.0, 512);
    ASSERT_TRUE(host.Open(&GainEntry, GainDescription())) << host.GetError();
    auto& effect = *static_cast<GainEffect*>(host.GetUnit()->storage);
    std::vector<std::vector<float>> channels = {std::vector<float>(100, 1.0f), std::vector<float>(100, 1.0f)};
    AudioBufferList list = ListOf(channels);
    struct Call
    {
        AUHost* host;
        AudioBufferList* list;
        OSStatus status = -1;
    } call{&host, &list};
    Strand strand;
    strand.Start(
        [](void* p)
        {
            auto& c = *static_cast<Call*>(p);
            c.status = c.host->RenderList(100, c.list);
        },
        &call);
    EXPECT_EQ(call.status, noErr);
    EXPECT_EQ(effect.renders, 1);
    EXPECT_EQ(effect.rendersOnAStrand, 0);
}

TEST(AUEffect, OneInputBufferGivesSilenceAndBothNotifications)
{
    AUHost host(44100.0, 512);
    ASSERT_TRUE(host.Open(&GainEntry, GainDescription())) << host.GetError();
    auto& effect = *static_cast<GainEffect*>(host.GetUnit()->storage);
    std::vector<std::vector<float>> in = {std::vector<float>(64, 1.0f)};
    std::vector<std::vector<float>> out = {std::vector<float>(64, 7.0f), std::vector<float>(64, 7.0f)};
    AudioBufferList input = ListOf(in);
    AudioBufferList output = ListOf(out);
    AudioUnitRenderActionFlags flags = 0;
    EXPECT_EQ(effect.ProcessBufferLists(flags, input, output, 64), noErr);
    EXPECT_EQ(effect.renders, 0);
    EXPECT_EQ(effect.nextBuffers, 1);
    EXPECT_EQ(effect.postRenders, 1);
    EXPECT_EQ(out[0], std::vector<float>(64, 0.0f));
    EXPECT_EQ(out[1], std::vector<float>(64, 0.0f));

    // An output list of one buffer is not written.
    std::vector<std::vector<float>> stereoIn = {std::vector<float>(64, 1.0f), std::vector<float>(64, 1.0f)};
    std::vector<std::vector<float>> mono = {std::vector<float>(64, 7.0f)};
    AudioBufferList stereoInput = ListOf(stereoIn);
    AudioBufferList monoOutput = ListOf(mono);
    EXPECT_EQ(effect.ProcessBufferLists(flags, stereoInput, monoOutput, 64), noErr);
    EXPECT_EQ(mono[0], std::vector<float>(64, 7.0f));
    EXPECT_EQ(effect.nextBuffers, 2);
    EXPECT_EQ(effect.postRenders, 2);
}

TEST(AUEffect, TheEffectListStaysEmptyOfEffectsNoOneRegistered)
{
    AUHost host;
    ASSERT_TRUE(host.Open(&GainEntry, GainDescription())) << host.GetError();
    EXPECT_EQ(FindAudioUnit(host.GetUnit()), nullptr);
    EXPECT_EQ(FindAudioUnit(nullptr), nullptr);
}
