// Torvane.so as a host sees it: loaded, opened, played and stored through the record.

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "PluginFixture.h"
#include "support/TemporaryDataHome.h"

namespace
{

// Every instance keeps its folders below a temporary data folder.
class TorvanePlugin : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { home = std::make_unique<TemporaryDataHome>("torvane-vst-"); }
    static void TearDownTestSuite() { home.reset(); }

    static void Open(VstHost& host) { ASSERT_TRUE(host.Open(TORVANE_PLUGIN_PATH)) << host.GetError(); }

    static std::unique_ptr<TemporaryDataHome> home;
};

std::unique_ptr<TemporaryDataHome> TorvanePlugin::home;

} // namespace

TEST_F(TorvanePlugin, RecordNamesAndAnswers)
{
    VstHost host;
    Open(host);
    AEffect* e = host.GetEffect();
    EXPECT_EQ(e->magic, FourCharCode("VstP"));
    EXPECT_EQ(e->numInputs, 0);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->numPrograms, 0);
    EXPECT_EQ(e->numParams, 40);
    EXPECT_EQ(e->uniqueID, FourCharCode("CvT1"));
    EXPECT_EQ(e->version, 1);
    EXPECT_EQ(e->flags, 305); // has editor, can replace, program chunks, is synth
    EXPECT_EQ(host.Dispatch(effGetPlugCategory), kPlugCategSynth);
    EXPECT_EQ(host.Dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(host.GetEffectName(), "Torvane");
    EXPECT_EQ(host.GetProductString(), "Torvane");
    EXPECT_EQ(host.GetVendorString(), "Corvella Audio");
    EXPECT_EQ(host.CanDo("receiveVstEvents"), 1);
    EXPECT_EQ(host.CanDo("receiveVstMidiEvent"), 1);
    EXPECT_EQ(host.CanDo("sendVstMidiEvent"), -1);
    // The editor's rectangle, asked before any window exists.
    ERect* rect = nullptr;
    EXPECT_EQ(host.Dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 638);
    EXPECT_EQ(rect->right, 767);
}

TEST_F(TorvanePlugin, ParameterNamesAndHostSets)
{
    VstHost host;
    Open(host);
    EXPECT_TRUE(host.GetAutomation().empty());
    auto name = [&](int index)
    { return GuardedText(32, [&](char* t) { host.Dispatch(effGetParamName, index, 0, t); }); };
    EXPECT_EQ(name(0), "1 : X");
    EXPECT_EQ(name(11), "6 : Y");
    EXPECT_EQ(name(12), "Freeze Position");
    EXPECT_EQ(name(13), "MasterVolume");
    EXPECT_EQ(name(37), "KeyMode");
    EXPECT_EQ(name(38), "Polyphony");
    EXPECT_EQ(name(39), "PortamentoTime");
    for (int i = 14; i < 37; ++i)
        name(i);
    EXPECT_EQ(name(-1), "");
    EXPECT_EQ(name(40), "");

    host.SetParameter(13, 0.5f);
    EXPECT_FLOAT_EQ(host.GetParameter(13), 0.5f);
    host.SetParameter(40, 0.5f);
    host.SetParameter(-1, 0.5f);
    EXPECT_EQ(host.GetParameter(40), 0.0f);
    EXPECT_EQ(host.GetParameter(-1), 0.0f);
    EXPECT_TRUE(host.GetAutomation().empty());
}

TEST_F(TorvanePlugin, PlaysInEveryBlockSize)
{
    for (long frames : {1L, 64L, 512L, 8192L, 8193L, 20000L})
    {
        VstHost host;
        Open(host);
        host.QueueMidi(0, 0x90, 60, 100);
        host.QueueMidi(0, 0xB0, 64, 127);
        host.QueueMidi(0, 0xE0, 0, 80);
        float peak = 0.0f;
        long rendered = 0;
        for (int round = 0; rendered < 4096 || round < 2; ++round)
        {
            StereoBlock block(frames, 3.0f);
            float** inputs = round % 2 == 0 ? nullptr : block.channels;
            host.ProcessBlock(inputs, block.channels, static_cast<int>(frames));
            ASSERT_TRUE(block.AllFinite()) << frames;
            peak = std::max(peak, block.Peak());
            rendered += frames;
        }
        EXPECT_GT(peak, 0.001f) << frames;
        host.QueueMidi(0, 0xB0, 123, 0);
        StereoBlock block(frames);
        host.ProcessBlock(nullptr, block.channels, static_cast<int>(frames));
        EXPECT_TRUE(block.AllFinite()) << frames;
    }
}

TEST_F(TorvanePlugin, StateChunkMovesBetweenInstances)
{
    VstHost a;
    VstHost b;
    Open(a);
    Open(b);
    a.SetParameter(13, 0.25f);
    a.SetParameter(38, 1.0f);
    std::vector<std::uint8_t> const chunk = a.GetChunk();
    ASSERT_FALSE(chunk.empty());
    EXPECT_EQ(b.SetChunk(chunk), 1);
    EXPECT_EQ(b.GetChunk(), chunk);
    EXPECT_FLOAT_EQ(b.GetParameter(13), 0.25f);
}

TEST_F(TorvanePlugin, TruncatedAndGarbageChunksKeepTheState)
{
    VstHost host;
    Open(host);
    host.SetParameter(13, 0.75f);
    std::vector<std::uint8_t> const good = host.GetChunk();
    ASSERT_FALSE(good.empty());
    for (std::size_t n :
         {std::size_t(1), std::size_t(4), std::size_t(9), good.size() / 3, good.size() / 2, good.size() - 1})
        host.SetChunk(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(n)));
    std::vector<std::uint8_t> garbage(good.size());
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 131 + 7);
    host.SetChunk(garbage);
    EXPECT_EQ(host.GetChunk(), good);
    EXPECT_FLOAT_EQ(host.GetParameter(13), 0.75f);
}

TEST_F(TorvanePlugin, TwoInstancesCloseAndReopen)
{
    VstHost a;
    VstHost b;
    Open(a);
    Open(b);
    a.SetParameter(13, 0.1f);
    EXPECT_NE(b.GetParameter(13), 0.1f);
    a.Close();
    b.QueueMidi(0, 0x90, 64, 100);
    float peak = 0.0f;
    for (int i = 0; i < 8; ++i)
    {
        StereoBlock block(512);
        b.ProcessBlock(nullptr, block.channels, 512);
        peak = std::max(peak, block.Peak());
    }
    EXPECT_GT(peak, 0.001f);
    b.Close();
    Open(a);
    EXPECT_EQ(a.GetEffect()->numParams, 40);
}
