#include <chrono>

#include "EditorRootSupport.h"
#include "toolkit/ParameterControllerWindow.h"

namespace
{
// An editor root holding the sustain button, as the product's does.
class SustainRoot : public InstrumentRoot
{
public:
    using InstrumentRoot::InstrumentRoot;
    ~SustainRoot() override { Detach(); }
    SustainPedalEmulatorButton button;
};

// Counts the instrument's sustain messages and whether the plug-in mutex was held for each.
class PedalWatch : public MidiEventListener
{
public:
    explicit PedalWatch(PluginBase& p) : plugin(p) {}
    void HandleMidiEvent(int, int status, int data1, int data2, long) override
    {
        if (status != 0xB0 || data1 != 64) return;
        values.push_back(data2);
        if (plugin.GetMutex().HeldByCurrentThread()) ++underMutex;
    }
    PluginBase& plugin;
    std::vector<int> values;
    int underMutex = 0;
};
} // namespace

TEST_F(EditorRootTest, TwoPressesOfTheSustainButtonSetAndClearTheInstrumentsSustain)
{
    Torvane& synth = host.Instrument();
    SustainPedalEmulator* pedal = synth.GetSustainPedalEmulator();
    PedalWatch watch(synth);
    pedal->Init(&watch);
    SustainRoot root(EditorHandleOf(&synth));
    root.content = [&](InstrumentRoot&) { root.button.Create(&root, 20, 30, pedal); };
    root.CreateUI(surface.get(), 0, 0);
    EXPECT_EQ(root.button.BindingPlugin(), static_cast<PluginBase*>(&synth));
    backend.Run();
    EXPECT_FALSE(synth.GetSustainState());
    EXPECT_EQ(backend.FindStrings("Sustain OFF").size(), 1u);
    auto const dark = backend.Probe(*surface, 22, 32);
    EXPECT_EQ(dark.r, 100);
    EXPECT_EQ(dark.g, 0);

    backend.ClearStrings();
    backend.Click(*surface, 50, 60);
    backend.Run();
    EXPECT_TRUE(synth.GetSustainState());
    EXPECT_TRUE(pedal->GetSustainParameter().GetBool());
    auto const drawn = backend.FindStrings("Sustain ON");
    ASSERT_EQ(drawn.size(), 1u);
    auto const green = backend.Probe(*surface, 22, 32);
    EXPECT_EQ(green.r, 0);
    EXPECT_EQ(green.g, 100);
    double const onX = drawn[0].x;

    // Far enough apart not to make a double click (its second press goes to LDoubleClick).
    backend.Pause(std::chrono::seconds(2));
    backend.Click(*surface, 50, 60);
    backend.Run();
    EXPECT_FALSE(synth.GetSustainState());
    EXPECT_FALSE(pedal->GetSustainParameter().GetBool());
    EXPECT_EQ(watch.values, (std::vector<int>{127, 0}));
    EXPECT_EQ(watch.underMutex, 2);

    // The text starts at (5, 15) of the button, as the context places text.
    auto const off = backend.FindStrings("Sustain OFF");
    ASSERT_FALSE(off.empty());
    EXPECT_DOUBLE_EQ(off.back().x, onX);
    EXPECT_GE(off.back().x, 25.0);

    // A change made elsewhere repaints the button.
    backend.ClearStrings();
    {
        AudioAPI::Lock hold(synth.GetMutex());
        pedal->GetSustainParameter().SetBool(true);
    }
    backend.Run();
    EXPECT_EQ(backend.FindStrings("Sustain ON").size(), 1u);
    EXPECT_TRUE(synth.GetSustainState());
    root.Detach();
    pedal->RemoveMidiEventListener(&watch);
}
