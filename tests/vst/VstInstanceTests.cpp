// Instances of a plug-in library living side by side, closed and opened again.

#include "PluginFixture.h"

TEST(VstInstances, TwoLiveInstancesAreIndependent)
{
    VstHost a;
    VstHost b;
    OpenTestSynth(a);
    OpenTestSynth(b);
    ASSERT_NE(a.GetEffect(), b.GetEffect());
    ASSERT_NE(a.GetEffect()->object, b.GetEffect()->object);

    a.SetParameter(0, 0.1f);
    b.SetParameter(0, 0.9f);
    EXPECT_FLOAT_EQ(a.GetParameter(0), 0.1f);
    EXPECT_FLOAT_EQ(b.GetParameter(0), 0.9f);

    a.QueueMidi(0, 0x90, 60, 100);
    StereoBlock blockA(512);
    StereoBlock blockB(512);
    a.ProcessBlock(nullptr, blockA.channels, 512);
    b.ProcessBlock(nullptr, blockB.channels, 512);
    EXPECT_GT(blockA.Peak(), 0.0f);
    EXPECT_EQ(blockB.Peak(), 0.0f);
    EXPECT_EQ(Probe(a).noteOns, 1);
    EXPECT_EQ(Probe(b).noteOns, 0);

    // Closing one leaves the other playing.
    a.Close();
    b.QueueMidi(0, 0x90, 64, 100);
    b.ProcessBlock(nullptr, blockB.channels, 512);
    EXPECT_GT(blockB.Peak(), 0.0f);
    EXPECT_FLOAT_EQ(b.GetParameter(0), 0.9f);
}

TEST(VstInstances, CloseAndReopen)
{
    std::string error;
    auto library = VstLibrary::Load(TestSynthPath(), error);
    ASSERT_NE(library, nullptr) << error;
    VstHost host;
    for (int round = 0; round < 20; ++round)
    {
        ASSERT_TRUE(host.Open(library)) << host.GetError();
        // A fresh instance: the defaults, whatever the last one was set to.
        EXPECT_FLOAT_EQ(host.GetParameter(0), 0.8f);
        host.SetParameter(0, 0.3f);
        host.QueueMidi(0, 0x90, 60 + round, 100);
        StereoBlock block(256);
        host.ProcessBlock(nullptr, block.channels, 256);
        EXPECT_GT(block.Peak(), 0.0f);
        host.Close();
        EXPECT_FALSE(host.IsOpen());
    }
}
