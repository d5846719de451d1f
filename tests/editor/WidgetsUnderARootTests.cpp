#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "EditorRootSupport.h"
#include "editor/EditorImages.h"
#include "editor/PerformGUI.h"
#include "editor/TBowl.h"
#include "editor/TModDisplay.h"
#include "editor/TPot.h"
#include "editor/TScrollBar.h"
#include "engine/PerformMod.h"

// The host automates the pads on its own thread while this thread builds editor roots with
// knobs, a bowl, a scroll bar and the perform page bound to them, switches the page away while
// the root stays, draws, and tears everything down: widgets join and leave the listener lists
// under the plug-in mutex, and no change reaches a widget that is gone.
TEST_F(EditorRootTest, WidgetsAndThePerformPageComeAndGoWhileTheHostAutomatesOnAnotherThread)
{
    RegisterEditorImages();
    Torvane& synth = host.Instrument();
    constexpr int kPadParameters = 12;
    HostAutomationThread automation(host, kPadParameters);
    for (int round = 0; round < 20; ++round)
    {
        TPot knob;
        TBowl bowl;
        TScrollBar bar;
        auto perform = std::make_unique<PerformGUI>();
        InstrumentRoot root(EditorHandleOf(&synth));
        root.content = [&](InstrumentRoot& r)
        {
            PerformMods& pads = *synth.GetPerformMods();
            knob.Create(&r, 20, 20, &pads.GetSource(0)->X, 0, -1);
            bowl.Create(&r, 60, 10, &pads.GetSource(1)->X, &pads.GetSource(1)->Y);
            bar.Create(&r, &pads.GetSource(2)->Y, 180, 10, true, 100);
            perform->Create(&r, &synth);
        };
        root.CreateUI(surface.get(), 0, 0);
        ASSERT_TRUE(root.IsAttached());
        for (int turn = 0; turn < 3; ++turn)
        {
            backend.Advance(std::chrono::milliseconds(PerformGUI::kTickMs));
            gfx::RunLoop::Turn(false);
            root.ProcessNotificationQueue();
        }
        perform.reset(); // a page switch: the root and the other widgets stay
        gfx::RunLoop::Turn(false);
        root.Detach();
    }
    automation.Stop();
    EXPECT_GT(automation.Rounds(), 0);
    EXPECT_EQ(synth.GetGUI(), nullptr);
}

// While the editor follows a playing note the instrument refuses amount writes: a drag on the
// modulation display changes nothing, and the display shows the amount the instrument holds.
TEST_F(EditorRootTest, TheModulationDisplayShowsWhatTheInstrumentHoldsWhileANoteIsFollowed)
{
    RegisterEditorImages();
    Torvane& synth = host.Instrument();
    synth.SetModulationAmount(0, 0.125f, -1);
    TModDisplay display;
    InstrumentRoot root(EditorHandleOf(&synth));
    root.content = [&](InstrumentRoot& r) { display.Create(&r, &synth, 450, 196); };
    root.CreateUI(surface.get(), 0, 0);
    ASSERT_TRUE(root.IsAttached());

    synth.animationEnabled = 1.0f;
    host.NoteOn(60, 100);
    host.Render(512);
    ASSERT_GE(synth.GetAnimationTime(), 0.0f); // the editor now follows the note

    backend.Drag(*surface, {450 + 170, 196 + 8}, {450 + 199, 196 + 8});
    backend.ClearStrings();
    backend.Run();
    EXPECT_FLOAT_EQ(synth.GetModulationAmount(0, -1), 0.125f);
    EXPECT_FALSE(backend.FindStrings("0.5").empty());
    EXPECT_TRUE(backend.FindStrings("1.0").empty());

    // Once the note is no longer followed the same drag writes.
    synth.AnimationEnded();
    backend.Pause(std::chrono::seconds(1));
    backend.Drag(*surface, {450 + 170, 196 + 8}, {450 + 199, 196 + 8});
    backend.Run();
    EXPECT_FLOAT_EQ(synth.GetModulationAmount(0, -1), 1.0f);
    root.Detach();
}
