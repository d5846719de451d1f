#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "engine/EffectBase.h"
#include "vst/VstPluginLists.h"

namespace
{

// A host that knows nothing: no time information, version 2400.
VstIntPtr QuietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

// Halves its input; counts the blocks and frames it is given.
class HalfEffect : public EffectBase
{
public:
    explicit HalfEffect(audioMasterCallback host = QuietHost)
        : EffectBase(host, 3, this, "HalfEffect", nullptr, 0x48616c66, "Half", "Tests")
    {
    }

    void Render(float* inL, float* inR, float* outL, float* outR, long frames, int outputPair) override
    {
        ++blocks;
        lastPair = outputPair;
        framesSeen += frames;
        for (long i = 0; i < frames; ++i)
        {
            outL[i] = 0.5f * inL[i];
            outR[i] = 0.5f * inR[i];
        }
    }

    int blocks = 0;
    int lastPair = -1;
    long framesSeen = 0;
};

} // namespace

TEST(EffectBase, RendersABlockThroughTheVstRecord)
{
    HalfEffect fx;
    AEffect* record = fx.getAeffect();
    EXPECT_EQ(record->numInputs, 2);
    EXPECT_EQ(record->numOutputs, 2);
    EXPECT_EQ(fx.GetNumParameters(), 3);

    long const n = 300;
    std::vector<float> inL(n), inR(n), outL(n, 9.0f), outR(n, 9.0f);
    for (long i = 0; i < n; ++i)
    {
        inL[static_cast<size_t>(i)] = 0.001f * static_cast<float>(i);
        inR[static_cast<size_t>(i)] = -0.002f * static_cast<float>(i);
    }
    float* inputs[2] = {inL.data(), inR.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    record->processReplacing(record, inputs, outputs, static_cast<VstInt32>(n));
    EXPECT_EQ(fx.blocks, 1);
    EXPECT_EQ(fx.lastPair, 0);
    for (long i = 0; i < n; ++i)
    {
        ASSERT_FLOAT_EQ(outL[static_cast<size_t>(i)], 0.5f * inL[static_cast<size_t>(i)]);
        ASSERT_FLOAT_EQ(outR[static_cast<size_t>(i)], 0.5f * inR[static_cast<size_t>(i)]);
    }

    // In place: the host hands the same buffers in and out.
    std::vector<float> ioL = inL, ioR = inR;
    float* io[2] = {ioL.data(), ioR.data()};
    record->processReplacing(record, io, io, static_cast<VstInt32>(n));
    for (long i = 0; i < n; ++i)
        ASSERT_FLOAT_EQ(ioL[static_cast<size_t>(i)], 0.5f * inL[static_cast<size_t>(i)]);
}

TEST(EffectBase, FoundInTheEffectListWhileAlive)
{
    auto first = std::make_unique<HalfEffect>();
    auto second = std::make_unique<HalfEffect>();
    EXPECT_EQ(FindVstEffect(first.get()), first.get());
    EXPECT_EQ(FindVstEffect(second.get()), second.get());
    // Not an instrument.
    EXPECT_EQ(FindVstInstrument(first.get()), nullptr);

    // The address is kept as a number: the object behind it is gone.
    std::uintptr_t volatile address =
        reinterpret_cast<std::uintptr_t>(static_cast<AudioEffect*>(first.get()));
    first.reset();
    EXPECT_EQ(FindVstEffect(reinterpret_cast<AudioEffect*>(address)), nullptr);
    EXPECT_EQ(FindVstEffect(second.get()), second.get());

    // A headless effect (no host) is listed too.
    HalfEffect headless(nullptr);
    EXPECT_EQ(FindVstEffect(&headless), &headless);
}

TEST(EffectBase, UnknownHandleIsNotFound)
{
    HalfEffect fx;
    int unrelated = 0;
    EXPECT_EQ(FindVstEffect(reinterpret_cast<AudioEffect*>(&unrelated)), nullptr);
    EXPECT_EQ(FindVstEffect(nullptr), nullptr);
}

TEST(EffectBase, ListHoldsUpUnderConcurrentUse)
{
    std::atomic<int> misses{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&misses]
            {
                for (int i = 0; i < 50; ++i)
                {
                    auto fx = std::make_unique<HalfEffect>(nullptr);
                    if (FindVstEffect(fx.get()) != fx.get()) ++misses;
                }
            });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(misses.load(), 0);
}
