#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/headless/HeadlessBackend.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/MacWindowManager.h"
#include "toolkit/Window.h"

// A window that draws through a function and records every mouse call, as
// "LButtonDown(5,5)" followed by the modifiers held, if any: " [shift]".
class RecordingWindow : public Window
{
public:
    explicit RecordingWindow(std::vector<std::string>* shared = nullptr, std::string tag = "")
        : log(shared ? shared : &own), prefix(std::move(tag))
    {
    }

    std::function<void(GraphicsContext&)> paint;
    // Called after each recorded call with its name (a handler may destroy the window).
    std::function<void(std::string const&)> after;
    int repaints = 0;

    void Repaint(GraphicsContext& gc) override
    {
        ++repaints;
        if (paint) paint(gc);
    }
    void LButtonDown(long x, long y) override { Record("LButtonDown", x, y); }
    void LButtonUp(long x, long y) override { Record("LButtonUp", x, y); }
    void RButtonDown(long x, long y) override { Record("RButtonDown", x, y); }
    void RButtonUp(long x, long y) override { Record("RButtonUp", x, y); }
    void MouseMoved(long x, long y) override { Record("MouseMoved", x, y); }
    void LDoubleClick(long x, long y) override { Record("LDoubleClick", x, y); }
    void SizeChanged(long w, long h) override { Record("SizeChanged", w, h); }

    std::vector<std::string> const& Calls() const { return *log; }

private:
    void Record(char const* what, long x, long y)
    {
        char text[128];
        std::snprintf(text, sizeof text, "%s%s(%ld,%ld)", prefix.c_str(), what, x, y);
        std::string entry = text;
        KeyModifiers k = GetKeyModifiers();
        std::string mods;
        if (k.control) mods += " control";
        if (k.shift) mods += " shift";
        if (k.option) mods += " option";
        if (k.command) mods += " command";
        if (!mods.empty() && std::string(what) != "SizeChanged") entry += " [" + mods.substr(1) + "]";
        log->push_back(entry);
        if (after) after(what);
    }

    std::vector<std::string> own;
    std::vector<std::string>* log;
    std::string prefix;
};

// One headless back end bound to the test's thread, its timers hooked in, and one embedded
// surface of 200 x 200 at screen (0, 0).
class ToolkitTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        gfx::RunLoop::SetBackend(&backend);
        ASSERT_TRUE(gfx::RunLoop::Acquire());
        MacWindowManager::InstallTimers();
        gfx::Dispatcher::Reset();
        backend.onFailure = [](std::string const& why) { ADD_FAILURE() << "starved: " << why; };
        surface =
            std::make_unique<gfx::Surface>(backend, gfx::SurfaceKind::Embedded, gfx::Rect{0, 0, 200, 200});
    }

    void TearDown() override
    {
        surface.reset();
        gfx::RunLoop::Turn(false); // frees what handlers released
        gfx::RunLoop::Release();
        gfx::RunLoop::SetBackend(nullptr);
    }

    void Run() { backend.Run(); }
    gfx::Pixel Probe(int x, int y) { return backend.Probe(*surface, x, y); }

    // A window in the surface's root node, filled with a colour unless told otherwise.
    std::unique_ptr<RecordingWindow> MakeRoot(long w, long h, long x, long y,
                                              std::vector<std::string>* log = nullptr)
    {
        auto window = std::make_unique<RecordingWindow>(log);
        window->CreateChildWindow(surface.get(), w, h, x, y);
        return window;
    }

    gfx::HeadlessBackend backend;
    std::unique_ptr<gfx::Surface> surface;
};

inline std::string Describe(gfx::Pixel const& p)
{
    return "(" + std::to_string(p.r) + "," + std::to_string(p.g) + "," + std::to_string(p.b) + "," +
           std::to_string(p.a) + ")";
}

inline bool Near(gfx::Pixel const& p, int r, int g, int b, int tolerance = 2)
{
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

#define EXPECT_PIXEL(pixel, r, g, b) EXPECT_TRUE(Near(pixel, r, g, b)) << Describe(pixel)
