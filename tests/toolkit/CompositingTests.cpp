#include "ToolkitTestSupport.h"
#include "platform/gfx/Compositor.h"

namespace
{
using CompositingTest = ToolkitTest;

TEST_F(CompositingTest, ADirtyChildRedrawsWhatLiesBeneathAndNothingElse)
{
    auto page = MakeRoot(200, 200, 0, 0);
    page->paint = [&](GraphicsContext& gc) { page->FillBackground(gc, Colour(100, 100, 100, 255)); };
    RecordingWindow glass, far;
    glass.CreateChildWindow(page.get(), 40, 40, 10, 10);
    glass.paint = [](GraphicsContext& gc)
    {
        gc.SetPenColour(255, 255, 255, 1, 128);
        gc.DrawFilledRect(0, 0, 39, 39);
    };
    far.CreateChildWindow(page.get(), 20, 20, 150, 150);
    Run();
    gfx::Pixel first = Probe(20, 20);
    EXPECT_PIXEL(first, 178, 178, 178);
    int pageRepaints = page->repaints, farRepaints = far.repaints;

    for (int i = 0; i < 3; ++i)
    {
        glass.ForceRepaint();
        Run();
    }
    EXPECT_PIXEL(Probe(20, 20), first.r, first.g, first.b); // not accumulated
    EXPECT_EQ(page->repaints, pageRepaints + 3);
    EXPECT_EQ(glass.repaints, 4);
    EXPECT_EQ(far.repaints, farRepaints);
    EXPECT_FALSE(gfx::Compositor::Paint(*surface)); // nothing flagged
}

TEST_F(CompositingTest, AnOvershootingChildIsClippedAndUnclickable)
{
    std::vector<std::string> log;
    auto page = MakeRoot(50, 50, 10, 10, &log);
    RecordingWindow child(&log, "child.");
    child.CreateChildWindow(page.get(), 50, 50, 40, 40);
    child.paint = [&](GraphicsContext& gc) { child.FillBackground(gc, Colour(255, 0, 0, 255)); };
    Run();
    EXPECT_PIXEL(Probe(55, 55), 255, 0, 0);
    EXPECT_PIXEL(Probe(59, 59), 255, 0, 0);
    EXPECT_PIXEL(Probe(60, 60), 0, 0, 0);
    EXPECT_PIXEL(Probe(70, 55), 0, 0, 0);

    backend.Click(*surface, 70, 70);
    backend.Click(*surface, 70, 55);
    Run();
    EXPECT_TRUE(log.empty());
    backend.Click(*surface, 55, 56);
    Run();
    EXPECT_EQ(log, (std::vector<std::string>{"child.LButtonDown(5,6)", "child.MouseMoved(5,6)",
                                             "child.LButtonUp(5,6)"}));
}

TEST_F(CompositingTest, WhatALeavingWindowCoveredIsRepainted)
{
    auto page = MakeRoot(100, 100, 0, 0);
    page->paint = [&](GraphicsContext& gc) { page->FillBackground(gc, Colour(0, 255, 0, 255)); };
    auto child = std::make_unique<RecordingWindow>();
    child->CreateChildWindow(page.get(), 10, 10, 20, 20);
    child->paint = [&](GraphicsContext& gc) { child->FillBackground(gc, Colour(255, 0, 0, 255)); };
    Run();
    EXPECT_PIXEL(Probe(25, 25), 255, 0, 0);
    child->MoveWindowTo(60, 60);
    Run();
    EXPECT_PIXEL(Probe(25, 25), 0, 255, 0);
    EXPECT_PIXEL(Probe(65, 65), 255, 0, 0);
    child.reset();
    Run();
    EXPECT_PIXEL(Probe(65, 65), 0, 255, 0);
    EXPECT_GT(backend.presents, 0);
}

TEST_F(CompositingTest, LaterChildrenDrawOverEarlierOnes)
{
    auto page = MakeRoot(100, 100, 0, 0);
    RecordingWindow under, over;
    under.CreateChildWindow(page.get(), 30, 30, 0, 0);
    over.CreateChildWindow(page.get(), 30, 30, 15, 15);
    under.paint = [&](GraphicsContext& gc) { under.FillBackground(gc, Colour(255, 0, 0, 255)); };
    over.paint = [&](GraphicsContext& gc) { over.FillBackground(gc, Colour(0, 0, 255, 255)); };
    Run();
    EXPECT_PIXEL(Probe(20, 20), 0, 0, 255);
    under.ForceRepaint();
    Run();
    EXPECT_PIXEL(Probe(20, 20), 0, 0, 255);
    EXPECT_PIXEL(Probe(5, 5), 255, 0, 0);
}
} // namespace
