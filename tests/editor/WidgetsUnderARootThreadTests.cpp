#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "EditorRootSupport.h"
#include "editor/EditorImages.h"
#include "editor/PerformGUI.h"
#include "editor/TBowl.h"
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
    std::atomic<bool> stop{false};
    std::atomic<int> sets{0};
    std::thread automation(
        [&]
        {
            float v = 0.0f;
            while (!stop.load())
            {
                for (int i = 0; i < kPadParameters; ++i)
                    host.SetParameter(i, v);
                sets.fetch_add(1);
                v = v > 0.9f ? 0.0f : v + 0.01f;
            }
        });
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
    stop.store(true);
    automation.join();
    EXPECT_GT(sets.load(), 0);
    EXPECT_EQ(synth.GetGUI(), nullptr);
}
