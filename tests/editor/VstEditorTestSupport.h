#pragma once

// The product's editor root opened as a host opens it: through the plug-in's dispatcher, in a
// fake host window of the headless back end, and idled as a host idles it.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numbers>
#include <string>

#include <gtest/gtest.h>

#include "SineWav.h"
#include "editor/EditorImages.h"
#include "editor/GUI.h"
#include "editor/Layout.h"
#include "framework/Paths.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/headless/HeadlessBackend.h"
#include "support/TemporaryDataHome.h"
#include "support/engine/HeadlessHost.h"
#include "toolkit/Frame.h"
#include "toolkit/MacWindowManager.h"
#include "toolkit/Responders.h"
#include "vst/editor/VstGUILoader.h"

namespace vsteditor
{
namespace fs = std::filesystem;
using namespace std::chrono_literals;
namespace root = layout::root;
namespace synth = layout::synth;
namespace perform = layout::perform;

inline void* const kHostWindow = reinterpret_cast<void*>(std::uintptr_t{41});

class FakeWindowSystem : public EditorWindowSystem
{
public:
    explicit FakeWindowSystem(gfx::HeadlessBackend& b) : backend(b) {}
    gfx::Backend* Acquire() override { return &backend; }
    void Release() override {}
    bool HostWindowSize(void* window, int& w, int& h) override
    {
        if (window != kHostWindow) return false;
        w = 767;
        h = 638;
        return true;
    }
    gfx::HeadlessBackend& backend;
};

class VstEditorTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        gfx::RunLoop::SetBackend(&backend);
        MacWindowManager::InstallTimers();
        gfx::Dispatcher::Reset();
        Responders::Clear();
        backend.onFailure = [](std::string const& why) { ADD_FAILURE() << "starved: " << why; };
        previous = SetEditorWindowSystem(&system);
        RegisterEditorImages();
        SetRootPath(home.RootFolder().c_str());
        host = std::make_unique<HeadlessHost>();
        AttachEditorLoader<GUI>(&Synth());
        ASSERT_EQ(Dispatch(effEditOpen, kHostWindow), 1);
        surface = static_cast<VstGUILoader*>(Synth().getEditor())->GetSurface();
        ASSERT_NE(surface, nullptr);
        IdleUntilQuiet();
    }
    void TearDown() override
    {
        if (host) Dispatch(effEditClose);
        host.reset();
        Responders::Clear();
        gfx::RunLoop::Turn(false);
        SetEditorWindowSystem(previous);
        gfx::RunLoop::SetBackend(nullptr);
    }

    Torvane& Synth() { return host->Instrument(); }
    VstIntPtr Dispatch(VstInt32 opcode, void* ptr = nullptr, VstIntPtr value = 0)
    {
        AEffect* e = host->Effect();
        return e->dispatcher(e, opcode, 0, value, ptr, 0.0f);
    }
    // Idles the editor as a host does (every 40 ms) until the scripted input is used up and
    // nothing waits to be painted; the idles it took. No idle tells the host of more than one
    // display update.
    int IdleUntilQuiet()
    {
        for (int i = 0; i < 2000; ++i)
        {
            if (i >= 3 && backend.PendingInput() == 0 && !gfx::RunLoop::PaintPending()) return i;
            int const updates = host->DisplayUpdates();
            backend.Advance(40ms);
            Dispatch(effEditIdle);
            EXPECT_LE(host->DisplayUpdates() - updates, 1) << "two display updates from one idle";
        }
        ADD_FAILURE() << "the scripted input was not used up";
        return 2000;
    }
    // Each gesture a second after the last, so two never make a double click.
    void Click(layout::Point p, unsigned button = gfx::kButtonLeft)
    {
        backend.Pause(1s);
        backend.Click(*surface, p.x, p.y, button);
    }
    void Drag(layout::Point from, layout::Point to)
    {
        backend.Pause(1s);
        backend.Drag(*surface, {from.x, from.y}, {to.x, to.y});
    }
    // Shows the page of a tab of the root.
    void ShowPage(layout::Rect tab)
    {
        Click({tab.x + 5, tab.y + 5});
        IdleUntilQuiet();
    }
    // The menu of a pad's Y axis, "MIDI Learn" chosen.
    void LearnY(int pad)
    {
        Responders::NextMenu({"MIDI Learn (click here, then move MIDI controller to assign it to me)"});
        Click(OnPad(pad, perform::kLearnY.TopLeft()));
    }
    // The edit-time handle at edit time 0.
    static layout::Point EditTimeHandle()
    {
        return OnSynthPage({synth::kTimeline.x + layout::timeline::kX0, synth::kTimeline.y + 25}, 0, 0);
    }
    static layout::Point OnSynthPage(layout::Point p, int dx = 5, int dy = 5)
    {
        return {root::kSynthPage.x + p.x + dx, root::kSynthPage.y + p.y + dy};
    }
    static layout::Point OnPad(int pad, layout::Point p)
    {
        return {root::kPerformPage.x + perform::kBlocks[pad].x + p.x + 5,
                root::kPerformPage.y + perform::kBlocks[pad].y + p.y + 5};
    }
    static layout::Point KnobCentre(layout::Point knob)
    {
        layout::Rect const r = synth::KnobWindow(knob);
        return {root::kSynthPage.x + r.x + r.w / 2, root::kSynthPage.y + r.y + r.h / 2};
    }
    // The next modal run, whatever its frame, runs `script` with it.
    void InNextDialog(std::function<void(Frame&, gfx::Surface&)> script)
    {
        Responders::NextModalRun([script](Frame& f) { script(f, *f.GetFrameWindow()); });
    }

    gfx::HeadlessBackend backend;
    FakeWindowSystem system{backend};
    EditorWindowSystem* previous = nullptr;
    TemporaryDataHome home;
    std::unique_ptr<HeadlessHost> host;
    gfx::Surface* surface = nullptr;
};

} // namespace vsteditor
