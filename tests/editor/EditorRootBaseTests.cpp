#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "editor/EditorPlugin.h"
#include "engine/InstrumentEditor.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/headless/HeadlessBackend.h"
#include "support/engine/HeadlessHost.h"
#include "toolkit/MacWindowManager.h"

namespace
{
// An editor root of the instrument, as the product's is: a toolkit root and the instrument's
// editor interface at once.
class InstrumentRoot : public EffectGUIBase, public InstrumentEditor
{
public:
    using EffectGUIBase::EffectGUIBase;

    void GetDimensions(long& w, long& h) override
    {
        w = 767;
        h = 638;
    }
    void CreateContent() override { ++built; }
    void UpdateAll() override { calls.push_back("UpdateAll"); }
    void UpdateSpecific(int id, std::shared_ptr<void>) override
    {
        calls.push_back("UpdateSpecific " + std::to_string(id));
    }
    void PatchLoaded() override { calls.push_back("PatchLoaded"); }

    int built = 0;
    std::vector<std::string> calls;
};

class EditorRootBase : public ::testing::Test
{
public:
    void SetUp() override
    {
        gfx::RunLoop::SetBackend(&backend);
        ASSERT_TRUE(gfx::RunLoop::Acquire());
        MacWindowManager::InstallTimers();
        InstallEditorPluginLookup();
        surface =
            std::make_unique<gfx::Surface>(backend, gfx::SurfaceKind::Embedded, gfx::Rect{0, 0, 800, 700});
    }
    void TearDown() override
    {
        surface.reset();
        gfx::RunLoop::Turn(false);
        gfx::RunLoop::Release();
        gfx::RunLoop::SetBackend(nullptr);
    }

    gfx::HeadlessBackend backend;
    std::unique_ptr<gfx::Surface> surface;
    HeadlessHost host;
};
} // namespace

TEST_F(EditorRootBase, AttachesToTheInstrumentAndDetachesCleanly)
{
    Torvane& synth = host.Instrument();
    auto root = std::make_unique<InstrumentRoot>(EditorHandleOf(&synth));
    EXPECT_EQ(root->GetInstrument(), nullptr);
    synth.PostEditorRequests(Torvane::kEditorPatchLoaded); // before attaching: dropped
    root->CreateUI(surface.get(), 0, 0);
    EXPECT_EQ(root->built, 1);
    EXPECT_TRUE(root->IsAttached());
    EXPECT_EQ(EditedInstrument(*root), static_cast<InstrumentBase*>(&synth));
    EXPECT_EQ(synth.GetGUI(), static_cast<PluginEditor*>(root.get()));
    EXPECT_FALSE(synth.EditorRequestsPending());

    // The instrument's requests arrive through the root's drain, in the instrument's order.
    synth.PostEditorRequests(Torvane::kEditorPatchLoaded | PluginBase::kEditorUpdateAll);
    root->ProcessNotificationQueue();
    EXPECT_EQ(root->calls, (std::vector<std::string>{"PatchLoaded", "UpdateAll"}));

    root->Detach();
    EXPECT_EQ(synth.GetGUI(), nullptr);
    EXPECT_FALSE(synth.HasGUI());
    synth.PostEditorRequests(Torvane::kEditorPatchLoaded);
    EXPECT_FALSE(synth.EditorRequestsPending());
    root.reset();
    EXPECT_EQ(synth.GetGUI(), nullptr);
}

// The host keeps automating on its own thread while editor roots open and close on this one.
TEST_F(EditorRootBase, AttachAndDetachWhileTheHostAutomatesOnAnotherThread)
{
    Torvane& synth = host.Instrument();
    std::atomic<bool> stop{false};
    std::thread automation(
        [&]
        {
            float v = 0.0f;
            while (!stop.load())
            {
                for (int i = 0; i < 8; ++i)
                    host.SetParameter(i, v);
                v = v > 0.9f ? 0.0f : v + 0.01f;
            }
        });
    for (int round = 0; round < 50; ++round)
    {
        InstrumentRoot root(EditorHandleOf(&synth));
        root.CreateUI(surface.get(), 0, 0);
        ASSERT_TRUE(root.IsAttached());
        root.ProcessNotificationQueue();
        root.Detach();
    }
    stop.store(true);
    automation.join();
    EXPECT_EQ(synth.GetGUI(), nullptr);
}
