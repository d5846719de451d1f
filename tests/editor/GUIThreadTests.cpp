// The editor root while the host works on other threads: automation of "Freeze Position" and
// state restores reach it as requests applied on its own thread.

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "EditorTestSupport.h"
#include "support/RecordingMessageSink.h"

namespace
{
int ParameterIndex(HeadlessHost& host, char const* name)
{
    for (int i = 0; i < Torvane::kNumHostParameters; ++i)
        if (host.GetParameterName(i) == name) return i;
    return -1;
}

std::vector<unsigned char> StateNamed(HeadlessHost& host, char const* name)
{
    host.Instrument().SetPatchName(name);
    return host.GetState();
}
} // namespace

TEST_F(GUITest, HostThreadsAutomateAndRestoreWhileTheEditorPumpsThenItCloses)
{
    RecordingMessageSink messages;
    int const freeze = ParameterIndex(*host, "Freeze Position");
    ASSERT_GE(freeze, 0);
    Synth().timeFreeze.SetBool(true);
    std::vector<unsigned char> const alpha = StateNamed(*host, "Alpha");
    std::vector<unsigned char> const beta = StateNamed(*host, "Beta");
    TestGUI& g = OpenEditor();

    std::atomic<bool> stopRestores{false};
    std::atomic<bool> stopAutomation{false};
    std::thread audio(
        [&]
        {
            while (!stopAutomation.load())
                host->Render(256);
        });
    std::thread automation(
        [&]
        {
            float v = 0.0f;
            while (!stopAutomation.load())
            {
                host->SetParameter(freeze, v);
                v = v > 0.95f ? 0.0f : v + 0.05f;
            }
        });
    std::thread restores(
        [&]
        {
            for (int i = 0; !stopRestores.load(); ++i)
                host->SetState(i % 2 ? beta : alpha);
        });

    for (int i = 0; i < 60; ++i)
    {
        Pump(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stopRestores.store(true);
    restores.join();

    // A restore from another thread shows after the editor's next pump.
    std::thread([&] { host->SetState(alpha); }).join();
    Pump(std::chrono::milliseconds(100));
    EXPECT_STREQ(g.GetPatchNameLabel().GetLabel(), "Alpha");
    std::thread([&] { host->SetState(beta); }).join();
    EXPECT_STREQ(g.GetPatchNameLabel().GetLabel(), "Alpha");
    Pump(std::chrono::milliseconds(100));
    EXPECT_STREQ(g.GetPatchNameLabel().GetLabel(), "Beta");

    // Closed while the host still automates.
    CloseEditor();
    EXPECT_FALSE(Synth().HasGUI());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stopAutomation.store(true);
    automation.join();
    audio.join();
    EXPECT_TRUE(messages.Messages().empty());
}
