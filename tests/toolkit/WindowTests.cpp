#include <chrono>

#include "ToolkitTestSupport.h"
#include "framework/Timers.h"
#include "platform/gfx/View.h"

namespace
{
using WindowTest = ToolkitTest;

TEST_F(WindowTest, RootWithoutParentIsNeitherPlacedNorShown)
{
    Window root;
    root.CreateChildWindow(nullptr, 100, 20, 5, 5);
    ASSERT_NE(root.GetView(), nullptr);
    EXPECT_EQ(root.GetView()->Parent(), nullptr);
    EXPECT_FALSE(root.GetView()->IsVisible());
    EXPECT_EQ(root.GetParentWindow(), nullptr);
    GRectangle r;
    root.GetWindowRect(r);
    EXPECT_EQ(r.x, 5);
    EXPECT_EQ(r.width, 100);

    Window child;
    child.CreateChildWindow(&root, 100, 20, 5, 7);
    child.GetWindowRect(r);
    EXPECT_EQ(r.x, 5);
    EXPECT_EQ(r.y, 7);
    EXPECT_EQ(r.width, 100);
    EXPECT_EQ(r.height, 20);
    EXPECT_EQ(child.GetWindowY(), 7);
    EXPECT_EQ(child.GetPosition().x, 5);
    EXPECT_EQ(child.GetView()->Parent(), root.GetView());
    ASSERT_EQ(root.GetChildren().size(), 1u);
    EXPECT_EQ(root.GetChildren()[0], &child);
}

TEST_F(WindowTest, DestroyingAParentDetachesItsChildrenAndAChildLeavesEveryList)
{
    auto parent = std::make_unique<Window>();
    parent->CreateChildWindow(surface.get(), 100, 100, 0, 0);
    Window first, second;
    first.CreateChildWindow(parent.get(), 10, 10, 0, 0);
    second.CreateChildWindow(parent.get(), 10, 10, 20, 0);
    Window other;
    other.CreateChildWindow(surface.get(), 10, 10, 150, 150);
    other.AddChildWindow(&second); // listed twice elsewhere, parent unchanged
    other.AddChildWindow(&second);
    EXPECT_EQ(second.GetParentWindow(), parent.get());

    {
        auto doomed = std::make_unique<Window>();
        doomed->CreateChildWindow(parent.get(), 5, 5, 50, 50);
        other.AddChildWindow(doomed.get());
        EXPECT_EQ(parent->GetChildren().size(), 3u);
    }
    EXPECT_EQ(parent->GetChildren().size(), 2u);
    EXPECT_EQ(other.GetChildren().size(), 2u);

    parent.reset();
    EXPECT_EQ(first.GetParentWindow(), nullptr);
    EXPECT_EQ(second.GetParentWindow(), nullptr);
    EXPECT_EQ(first.GetView()->Parent(), nullptr);
    Run(); // nothing draws the detached nodes, nothing touches the dead parent
    first.ForceRepaint();
    first.MoveWindowTo(3, 3);
    Run();

    other.RemoveChildFromList(&second);
    ASSERT_EQ(other.GetChildren().size(), 1u);
    other.RemoveChildFromList(&first); // absent: nothing
    EXPECT_EQ(other.GetChildren().size(), 1u);
}

TEST_F(WindowTest, AWindowMadeAgainMovesToItsNewParent)
{
    Window a, b;
    a.CreateChildWindow(surface.get(), 50, 50, 0, 0);
    b.CreateChildWindow(surface.get(), 50, 50, 60, 0);
    RecordingWindow child;
    child.CreateChildWindow(&a, 10, 10, 0, 0);
    child.CreateChildWindow(&b, 10, 10, 5, 5);
    EXPECT_TRUE(a.GetChildren().empty());
    ASSERT_EQ(b.GetChildren().size(), 1u);
    EXPECT_EQ(child.GetParentWindow(), &b);
    EXPECT_EQ(child.GetView()->Parent(), b.GetView());
    backend.Click(*surface, 66, 6);
    Run();
    EXPECT_EQ(child.Calls().size(), 3u);
}

TEST_F(WindowTest, UnderneathSiblingsAreThoseCreatedBefore)
{
    Window page, a, b, c, stranger;
    page.CreateChildWindow(surface.get(), 100, 100, 0, 0);
    a.CreateChildWindow(&page, 10, 10, 0, 0);
    b.CreateChildWindow(&page, 10, 10, 0, 0);
    c.CreateChildWindow(&page, 10, 10, 0, 0);
    std::vector<Window*>::iterator first, found;
    ASSERT_TRUE(page.GetUnderneathSiblings(&c, first, found));
    EXPECT_EQ(found - first, 2);
    EXPECT_EQ(*first, &a);
    EXPECT_FALSE(page.GetUnderneathSiblings(&a, first, found));
    EXPECT_EQ(first, page.GetChildren().begin());
    EXPECT_FALSE(page.GetUnderneathSiblings(&stranger, first, found));
    page.RemoveChildFromList(&b);
    ASSERT_TRUE(page.GetUnderneathSiblings(&c, first, found));
    EXPECT_EQ(found - first, 1);
}

TEST_F(WindowTest, CumulativeAlphaMultipliesButDrawingUsesTheWindowsOwn)
{
    RecordingWindow root, middle, leaf;
    root.CreateChildWindow(surface.get(), 100, 100, 0, 0);
    middle.CreateChildWindow(&root, 50, 50, 0, 0);
    leaf.CreateChildWindow(&middle, 20, 20, 0, 0);
    middle.SetAlpha(0.5f);
    leaf.SetAlpha(0.5f);
    EXPECT_FLOAT_EQ(leaf.GetCumulativeAlpha(), 0.25f);
    float seen = 0;
    leaf.paint = [&](GraphicsContext& gc)
    {
        seen = gc.GetWindowAlpha();
        leaf.FillBackground(gc, Colour(255, 255, 255, 255));
    };
    Run();
    EXPECT_FLOAT_EQ(seen, 0.5f);
    EXPECT_PIXEL(Probe(5, 5), 128, 128, 128);
}

TEST_F(WindowTest, ScreenConversionsFollowTheSurfaceAndInvertEachOther)
{
    surface->Move(100, 50);
    Window root, child;
    root.CreateChildWindow(surface.get(), 150, 150, 5, 6);
    child.CreateChildWindow(&root, 30, 30, 10, 20);
    GPoint s = child.GetScreenPosition();
    EXPECT_EQ(s.x, 115);
    EXPECT_EQ(s.y, 76);

    GRectangle r(1, 2, 30, 40);
    child.ConvertLocalToScreen(r);
    EXPECT_EQ(r.x, 116);
    EXPECT_EQ(r.y, 78);
    EXPECT_EQ(r.width, 30);
    EXPECT_EQ(r.height, 40);
    child.ConvertScreenToLocal(r);
    EXPECT_EQ(r.x, 1);
    EXPECT_EQ(r.y, 2);
    long x = -4, y = 9;
    child.ConvertLocalToScreen(x, y);
    child.ConvertScreenToLocal(x, y);
    EXPECT_EQ(x, -4);
    EXPECT_EQ(y, 9);
    GPoint p(3, 3);
    root.ConvertLocalToScreen(p);
    EXPECT_EQ(p.x, 108);
    root.ConvertScreenToLocal(p);
    EXPECT_EQ(p.y, 3);

    child.MoveWindowTo(0, 0);
    EXPECT_EQ(child.GetScreenPosition().x, 105);
    EXPECT_EQ(child.GetPosition().y, 0);
}

TEST_F(WindowTest, SetSizeResizesThenReportsTheNewSize)
{
    struct Listener : EventHandler
    {
        std::vector<long> widths;
        void Resized(Window* w) { widths.push_back(w->GetWindowWidth()); }
    } listener;
    RecordingWindow root;
    root.CreateChildWindow(surface.get(), 10, 10, 0, 0);
    root.resizeEvent.AddHandler(&listener, &Listener::Resized);
    root.SetSize(60, 40, true);
    EXPECT_EQ(root.Calls(), std::vector<std::string>{"SizeChanged(60,40)"});
    EXPECT_EQ(listener.widths, std::vector<long>{60});
    EXPECT_EQ(root.GetWindowHeight(), 40);
    backend.Click(*surface, 50, 30); // inside the new size only
    Run();
    EXPECT_EQ(root.Calls().size(), 4u);
}

TEST_F(WindowTest, OverlapIsASharedPixelOnScreen)
{
    Window a, b, c, inner;
    a.CreateChildWindow(surface.get(), 20, 20, 0, 0);
    b.CreateChildWindow(surface.get(), 20, 20, 20, 0);
    c.CreateChildWindow(surface.get(), 20, 20, 19, 19);
    inner.CreateChildWindow(&b, 5, 5, -3, 0); // at screen x 17
    EXPECT_FALSE(a.OverlapsWith(&b));
    EXPECT_TRUE(a.OverlapsWith(&c));
    EXPECT_TRUE(inner.OverlapsWith(&a));
    EXPECT_FALSE(a.OverlapsWith(nullptr));
}

TEST_F(WindowTest, PaintEventFollowsRepaintWithTheSameContext)
{
    struct Listener : EventHandler
    {
        std::vector<std::string>* order;
        GraphicsContext* seen = nullptr;
        void Painted(GraphicsContext& gc)
        {
            order->push_back("paint");
            seen = &gc;
        }
    } first, second;
    std::vector<std::string> order;
    first.order = second.order = &order;
    RecordingWindow root;
    GraphicsContext* repainted = nullptr;
    root.paint = [&](GraphicsContext& gc)
    {
        order.push_back("repaint");
        repainted = &gc;
    };
    root.CreateChildWindow(surface.get(), 10, 10, 0, 0);
    root.paintEvent.AddHandler(&first, &Listener::Painted);
    root.paintEvent.AddHandler(&second, &Listener::Painted);
    Run();
    EXPECT_EQ(order, (std::vector<std::string>{"repaint", "paint", "paint"}));
    EXPECT_EQ(first.seen, repainted);
}

TEST_F(WindowTest, PumpMessageQueueRunsOneSecondOfTimers)
{
    struct Ticker : TimerListener
    {
        int ticks = 0;
        void TimerEvent(int) override { ++ticks; }
    } ticker;
    Window root;
    root.CreateChildWindow(surface.get(), 10, 10, 0, 0);
    gfx::TimePoint start = backend.Now();
    ticker.StartTimer(1, 100);
    root.PumpMessageQueue();
    EXPECT_EQ(ticker.ticks, 10);
    EXPECT_EQ(backend.Now() - start, std::chrono::seconds(1));
    EXPECT_EQ(TimerService::Now(), backend.Now());
}

TEST_F(WindowTest, MouseCaptureIsBookkeeping)
{
    Window w;
    EXPECT_FALSE(w.IsMouseCaptured());
    w.CaptureMouse();
    EXPECT_TRUE(w.IsMouseCaptured());
    w.ReleaseMouse();
    EXPECT_FALSE(w.IsMouseCaptured());
    EXPECT_STREQ(MacWindowManager::GetHICustomViewClass(), "corvellaaudio.HICustomView");
    EXPECT_EQ(w.GetMouseInfo(1, 2), std::make_pair(0L, 0L));
}
} // namespace
