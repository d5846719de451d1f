#include <algorithm>

#include "TestImages.h"
#include "ToolkitTestSupport.h"
#include "framework/Paths.h"
#include "platform/gfx/Text.h"
#include "toolkit/Image.h"

namespace
{
class DrawingTest : public ToolkitTest
{
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        RegisterTestImages();
        SetImagePath("/torvane-test-images/");
        root = MakeRoot(200, 200, 0, 0);
    }

    // Draws with f in a fresh repaint of the root (black beneath).
    void Draw(std::function<void(GraphicsContext&)> f, float alpha = 1.0f)
    {
        root->SetAlpha(alpha);
        root->paint = std::move(f);
        root->ForceRepaint();
        Run();
    }

    bool Inked(int x, int y) { return Probe(x, y).r + Probe(x, y).g + Probe(x, y).b > 0; }

    std::unique_ptr<RecordingWindow> root;
};

TEST_F(DrawingTest, FillsCoverOnePixelMoreEachWay)
{
    Draw(
        [](GraphicsContext& gc)
        {
            gc.SetPenColour(255, 255, 255, 1, 255);
            gc.DrawFilledRect(5, 5, 0, 0);
            gc.DrawFilledRect(GRectangle(20, 20, 9, 9));
        });
    EXPECT_PIXEL(Probe(5, 5), 255, 255, 255);
    for (auto [x, y] : {std::pair{6, 5}, {5, 6}, {4, 5}, {5, 4}, {30, 25}, {25, 30}})
        EXPECT_PIXEL(Probe(x, y), 0, 0, 0) << x << "," << y;
    EXPECT_PIXEL(Probe(20, 20), 255, 255, 255);
    EXPECT_PIXEL(Probe(29, 29), 255, 255, 255);
}

TEST_F(DrawingTest, PenAndFillAlphaCarryTheWindowAlpha)
{
    int penAlpha = -1;
    Draw(
        [&](GraphicsContext& gc)
        {
            gc.SetPenColour(255, 0, 0, 1, 128);
            penAlpha = gc.GetPenAlpha();
            gc.DrawFilledRect(0, 0, 9, 9);
        },
        0.5f);
    EXPECT_EQ(penAlpha, 64);
    EXPECT_PIXEL(Probe(5, 5), 64, 0, 0); // 255 * 128 / 255 * 0.5 over black
}

TEST_F(DrawingTest, ZeroAlphaOutlineDrawsNothingWhileFillsStillRun)
{
    RecordingWindow top;
    top.CreateChildWindow(root.get(), 50, 50, 10, 10);
    top.paint = [](GraphicsContext& gc)
    {
        gc.SetPenColour(255, 255, 255, 1, 255);
        gc.DrawFilledRect(0, 0, 49, 49);
        gc.SetPenColour(0, 0, 0, 4, 0);
        EXPECT_EQ(gc.GetPenAlpha(), 0);
        gc.DrawRectOutline(5, 5, 20, 20);
        gc.DrawFilledRect(30, 30, 5, 5);
    };
    Run();
    for (auto [x, y] : {std::pair{15, 15}, {35, 15}, {25, 26}, {41, 41}})
        EXPECT_PIXEL(Probe(x, y), 255, 255, 255) << x << "," << y;
}

TEST_F(DrawingTest, OutlinesAndLinesRunOnTheCoordinates)
{
    Draw(
        [](GraphicsContext& gc)
        {
            gc.SetPenColour(255, 255, 255, 2, 255);
            gc.DrawRectOutline(GRectangle(10, 10, 20, 20));
            gc.DrawLine(50, 10, 50, 40);
            gc.MoveTo(60, 10);
            gc.LineTo(80, 10);
            gc.LineTo(80, 30);
            gc.EndLine();
        });
    for (auto [x, y] : {std::pair{20, 9},
                        {20, 10},
                        {29, 20},
                        {30, 20},
                        {20, 30},
                        {10, 20},
                        {49, 25},
                        {50, 25},
                        {70, 9},
                        {80, 20}})
        EXPECT_PIXEL(Probe(x, y), 255, 255, 255) << x << "," << y;
    for (auto [x, y] : {std::pair{20, 20}, {20, 12}, {52, 25}, {70, 20}, {65, 30}})
        EXPECT_PIXEL(Probe(x, y), 0, 0, 0) << x << "," << y;
}

TEST_F(DrawingTest, QuarterPieIsCentredOneRadiusPlusOneIn)
{
    Draw(
        [](GraphicsContext& gc)
        {
            gc.SetPenColour(255, 255, 255, 1, 255);
            gc.DrawPie(0, 0, 10, 0, 90);
        });
    for (auto [x, y] : {std::pair{15, 15}, {12, 19}, {19, 12}, {12, 12}})
        EXPECT_PIXEL(Probe(x, y), 255, 255, 255) << x << "," << y;
    for (auto [x, y] : {std::pair{7, 7}, {15, 7}, {7, 15}, {19, 19}, {22, 12}})
        EXPECT_PIXEL(Probe(x, y), 0, 0, 0) << x << "," << y;
}

TEST_F(DrawingTest, PenBeforeAnySetPenColourIsOpaqueBlackOfWidthOne)
{
    RecordingWindow top;
    top.CreateChildWindow(root.get(), 50, 50, 0, 0);
    root->paint = [&](GraphicsContext& gc) { root->FillBackground(gc, Colour(255, 255, 255, 255)); };
    int penAlpha = -1;
    top.paint = [&](GraphicsContext& gc)
    {
        penAlpha = gc.GetPenAlpha();
        gc.DrawFilledRect(0, 0, 9, 9);
        gc.DrawLine(20, 20.0, 40, 20);
    };
    Run();
    EXPECT_EQ(penAlpha, 255);
    EXPECT_PIXEL(Probe(4, 4), 0, 0, 0);
    EXPECT_PIXEL(Probe(30, 20), 128, 128, 128); // half of a one-pixel line on the pixel edge
    EXPECT_PIXEL(Probe(30, 22), 255, 255, 255);
}

TEST_F(DrawingTest, ImagesDrawNaturalScaledAndUprightAtEveryAlpha)
{
    Image image;
    image.LoadFromFile(MakeImagePath("TestUpright.png"));
    ASSERT_EQ(image.GetWidth(), 20);
    ASSERT_EQ(image.GetHeight(), 10);
    Draw(
        [&](GraphicsContext& gc)
        {
            gc.SetPenColour(0, 255, 0, 1, 10); // the pen plays no part
            image.Draw(&gc, 10, 10);
            image.Draw(&gc, 10, 40, 50);
        });
    EXPECT_PIXEL(Probe(12, 11), 255, 0, 0);
    EXPECT_PIXEL(Probe(28, 18), 0, 0, 255);
    EXPECT_PIXEL(Probe(31, 12), 0, 0, 0);
    EXPECT_PIXEL(Probe(55, 41), 255, 0, 0);
    EXPECT_PIXEL(Probe(58, 48), 0, 0, 255);
    EXPECT_PIXEL(Probe(61, 45), 0, 0, 0);
    EXPECT_PIXEL(Probe(30, 51), 0, 0, 0);

    Draw(
        [&](GraphicsContext& gc)
        {
            image.Draw(&gc, 10, 10);
            gc.SetPenColour(0, 255, 0, 2, 255);
            gc.DrawLine(0, 100, 100, 100);
        },
        0.5f);
    EXPECT_PIXEL(Probe(12, 11), 128, 0, 0);
    EXPECT_PIXEL(Probe(12, 18), 0, 0, 128);
    EXPECT_PIXEL(Probe(50, 100), 0, 128, 0); // the line's own alpha only
    EXPECT_PIXEL(Probe(50, 99), 0, 128, 0);
}

TEST_F(DrawingTest, ImagesWithNoSizeOrNoPixelsDrawNothing)
{
    Image image, broken, unloaded;
    image.LoadFromFile(MakeImagePath("TestUpright.png"));
    broken.LoadFromFile(MakeImagePath("TestBroken.png"));
    Draw(
        [&](GraphicsContext& gc)
        {
            image.Draw(&gc, 10, 10, 0, -1);
            image.Draw(&gc, 10, 10, -1, 0);
            image.Draw(&gc, 10, 10, -5, 10);
            image.Draw(&gc, 10, 10, 20, -7);
            broken.Draw(&gc, 10, 10, 20, 20);
            unloaded.Draw(&gc, 10, 10);
            image.Draw(nullptr, 10, 10);
        });
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_FALSE(Inked(x, y)) << x << "," << y;
}

TEST_F(DrawingTest, TextBaselineIsEightBelowAndStartsTwoRight)
{
    Draw(
        [](GraphicsContext& gc)
        {
            gc.SetPenColour(255, 255, 255, 1, 255);
            gc.DrawString("HH", 20, 30);
        });
    auto drawn = backend.FindStrings("HH");
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_DOUBLE_EQ(drawn[0].x, 22);
    EXPECT_DOUBLE_EQ(drawn[0].y, 38);
    EXPECT_DOUBLE_EQ(drawn[0].size, 8);
    int left = 1000, bottom = -1, top = 1000;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x)
            if (Inked(x, y))
            {
                left = std::min(left, x);
                bottom = std::max(bottom, y);
                top = std::min(top, y);
            }
    EXPECT_GE(left, 22);
    EXPECT_LE(left, 24);
    EXPECT_LE(bottom, 38);
    EXPECT_GE(bottom, 36);
    EXPECT_GE(top, 30);
}

TEST_F(DrawingTest, TranslucentTextIsAttenuatedTwice)
{
    Draw(
        [](GraphicsContext& gc)
        {
            gc.SetPenColour(255, 255, 255, 1, 128);
            gc.DrawString("Soft", 0, 0);
            gc.SetFont(12, "Helvetica", true, true);
            gc.SetPenColour(Colour(10, 20, 30, 255), 1);
            gc.DrawString("Big", 0, 20);
        });
    auto soft = backend.FindStrings("Soft");
    ASSERT_EQ(soft.size(), 1u);
    EXPECT_NEAR(soft[0].alpha, (128 / 255.0) * (128 / 255.0), 1e-3);
    auto big = backend.FindStrings("Big");
    ASSERT_EQ(big.size(), 1u);
    EXPECT_DOUBLE_EQ(big[0].size, 12);
    EXPECT_NEAR(big[0].red, 10 / 255.0, 1e-6);
    EXPECT_NEAR(big[0].alpha, 1.0, 1e-6);
}

TEST_F(DrawingTest, NonUtf8TextIsMacRomanAndLaterDrawingGoesOn)
{
    RecordingWindow next;
    next.CreateChildWindow(root.get(), 20, 20, 100, 100);
    next.paint = [&](GraphicsContext& gc) { next.FillBackground(gc, Colour(0, 0, 255, 255)); };
    Draw(
        [](GraphicsContext& gc)
        {
            gc.SetPenColour(255, 255, 255, 1, 255);
            gc.DrawString("\xff\xfe", 0, 0);
            gc.DrawString("Caf\x8e", 0, 20);
            gc.DrawString("Caf\xc3\xa9", 0, 40);
            gc.DrawString("after", 0, 60);
            gc.DrawFilledRect(50, 50, 4, 4);
        });
    EXPECT_EQ(backend.FindStrings("\xcb\x87\xcb\x9b").size(), 1u); // caron, ogonek
    EXPECT_EQ(backend.FindStrings("Caf\xc3\xa9").size(), 2u);
    EXPECT_EQ(backend.FindStrings("after").size(), 1u);
    EXPECT_PIXEL(Probe(52, 52), 255, 255, 255);
    EXPECT_PIXEL(Probe(110, 110), 0, 0, 255);
}

TEST_F(DrawingTest, NoncharactersAreReplacedAndLaterDrawingGoesOn)
{
    struct Case
    {
        char const* text;
        char const* drawn;
    };
    // U+FFFF, U+FFFE, U+FDD0, U+FDEF, U+1FFFF, U+10FFFE become U+FFFD; their neighbours stay.
    Case const cases[] = {
        {"Bad\xef\xbf\xbf"
         "Cat",
         "Bad\xef\xbf\xbd"
         "Cat"},
        {"\xef\xbf\xbe", "\xef\xbf\xbd"},
        {"a\xef\xb7\x90"
         "b",
         "a\xef\xbf\xbd"
         "b"},
        {"\xef\xb7\xaf", "\xef\xbf\xbd"},
        {"\xf0\x9f\xbf\xbf"
         "x",
         "\xef\xbf\xbd"
         "x"},
        {"\xf4\x8f\xbf\xbe", "\xef\xbf\xbd"},
        {"\xef\xb7\x8f\xef\xbf\xbc\xef\xbf\xbd",
         "\xef\xb7\x8f\xef\xbf\xbc\xef\xbf\xbd"}, // U+FDCF U+FFFC U+FFFD
    };
    RecordingWindow next;
    next.CreateChildWindow(root.get(), 20, 20, 100, 100);
    next.paint = [&](GraphicsContext& gc) { next.FillBackground(gc, Colour(0, 0, 255, 255)); };
    Draw(
        [&](GraphicsContext& gc)
        {
            gc.SetPenColour(255, 255, 255, 1, 255);
            long y = 0;
            for (Case const& c : cases)
                gc.DrawString(c.text, 0, y += 2);
            gc.DrawString("after", 0, 60);
            gc.DrawFilledRect(50, 50, 4, 4);
        });
    for (Case const& c : cases)
    {
        EXPECT_EQ(gfx::ToDisplayText(c.text), c.drawn);
        EXPECT_FALSE(backend.FindStrings(c.drawn).empty()) << c.drawn;
    }
    EXPECT_EQ(backend.FindStrings("after").size(), 1u);
    EXPECT_PIXEL(Probe(52, 52), 255, 255, 255);
    EXPECT_PIXEL(Probe(110, 110), 0, 0, 255);
}

TEST_F(DrawingTest, TextIsClippedToItsView)
{
    RecordingWindow label;
    label.CreateChildWindow(root.get(), 20, 12, 10, 10);
    label.paint = [](GraphicsContext& gc)
    {
        gc.SetPenColour(255, 255, 255, 1, 255);
        gc.DrawString("WWWWWWWWWWWWWWWW", 0, 0);
    };
    Run();
    bool inside = false;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x)
        {
            bool in = x >= 10 && x < 30 && y >= 10 && y < 22;
            if (in) inside |= Inked(x, y);
            if (!in)
            {
                ASSERT_FALSE(Inked(x, y)) << x << "," << y;
            }
        }
    EXPECT_TRUE(inside);
}
} // namespace
