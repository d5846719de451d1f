#pragma once

#include <atomic>
#include <functional>
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

// An editor root of the instrument, as the product's is: a toolkit root and the instrument's
// editor interface at once.
class InstrumentRoot : public EffectGUIBase, public InstrumentEditor
{
public:
    explicit InstrumentRoot(void* handle) : EffectGUIBase(handle, EditedPluginOf(handle)) {}

    void GetDimensions(long& w, long& h) override
    {
        w = 767;
        h = 638;
    }
    void CreateContent() override
    {
        ++built;
        if (content) content(*this);
    }
    void UpdateAll() override { calls.push_back("UpdateAll"); }
    void UpdateSpecific(int id, std::shared_ptr<void>) override
    {
        calls.push_back("UpdateSpecific " + std::to_string(id));
    }
    void PatchLoaded() override { calls.push_back("PatchLoaded"); }

    // Builds the root's controls, when set.
    std::function<void(InstrumentRoot&)> content;
    int built = 0;
    std::vector<std::string> calls;
};

// A headless back end bound to the test's thread, a Torvane in the headless host, and an
// embedded surface the size of the editor.
class EditorRootTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        gfx::RunLoop::SetBackend(&backend);
        ASSERT_TRUE(gfx::RunLoop::Acquire());
        MacWindowManager::InstallTimers();
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

// A host that automates parameters 0 .. count-1 on a thread of its own, round after round, with
// values stepping through 0..1, until the object goes. Start() returns once the first round is
// done (on a loaded machine the thread may start late).
class HostAutomationThread
{
public:
    HostAutomationThread(HeadlessHost& host, int count)
        : thread(
              [this, &host, count]
              {
                  float v = 0.0f;
                  while (!stop.load())
                  {
                      for (int i = 0; i < count; ++i)
                          host.SetParameter(i, v);
                      rounds.fetch_add(1);
                      v = v > 0.9f ? 0.0f : v + 0.01f;
                  }
              })
    {
        while (rounds.load() == 0)
            std::this_thread::yield();
    }
    ~HostAutomationThread() { Stop(); }
    HostAutomationThread(HostAutomationThread const&) = delete;
    HostAutomationThread& operator=(HostAutomationThread const&) = delete;

    void Stop()
    {
        stop.store(true);
        if (thread.joinable()) thread.join();
    }
    int Rounds() const { return rounds.load(); }

private:
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread thread;
};
