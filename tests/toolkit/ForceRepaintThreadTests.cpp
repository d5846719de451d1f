#include <atomic>
#include <thread>

#include "ToolkitTestSupport.h"

namespace
{
using ForceRepaintThreadTest = ToolkitTest;

// Parameter listeners reach ForceRepaint on the audio thread while the editor thread builds
// and tears down windows and paints.
TEST_F(ForceRepaintThreadTest, ForceRepaintFromAnotherThreadWhileWindowsComeAndGo)
{
    auto page = MakeRoot(200, 200, 0, 0);
    RecordingWindow meter;
    meter.CreateChildWindow(page.get(), 20, 20, 5, 5);
    Run();
    int before = meter.repaints;

    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::thread audio(
        [&]
        {
            while (!stop.load())
            {
                meter.ForceRepaint();
                calls.fetch_add(1);
            }
        });
    for (int i = 0; i < 300; ++i)
    {
        std::vector<std::unique_ptr<RecordingWindow>> controls;
        for (int j = 0; j < 5; ++j)
        {
            controls.push_back(std::make_unique<RecordingWindow>());
            controls.back()->CreateChildWindow(page.get(), 10, 10, 30 + 12 * j, 30);
        }
        gfx::RunLoop::Turn(false);
        controls.erase(controls.begin() + 2);
        gfx::RunLoop::Turn(false);
    }
    while (calls.load() < 1000)
        std::this_thread::yield();
    stop.store(true);
    audio.join();
    Run();
    EXPECT_GT(meter.repaints, before);
    EXPECT_FALSE(meter.GetView()->NeedsDisplay());
}
} // namespace
