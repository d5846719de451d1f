#include <cmath>
#include <thread>

#include "WidgetTestSupport.h"
#include "editor/Layout.h"
#include "editor/TBowl.h"
#include "editor/TPot.h"
#include "editor/TScrollBar.h"

namespace
{
int Brightness(gfx::Pixel const& p)
{
    return (p.r + p.g + p.b) / 3;
}

// Pixels of a rectangle of the surface that are clearly green (the test's wipe colour).
int GreenPixels(WidgetTest& t, long x0, long y0, long w, long h)
{
    int count = 0;
    for (long y = y0; y < y0 + h; ++y)
        for (long x = x0; x < x0 + w; ++x)
        {
            gfx::Pixel p = t.Probe(static_cast<int>(x), static_cast<int>(y));
            if (p.g > p.r + 60 && p.g > p.b + 60) ++count;
        }
    return count;
}

class Listener : public TScrollBarListener
{
public:
    void ThumbMoved(int id, float value) override
    {
        calls.push_back("moved " + std::to_string(id) + " " + std::to_string(value));
    }
    void StepDown(int id) override { calls.push_back("down " + std::to_string(id)); }
    void StepUp(int id) override { calls.push_back("up " + std::to_string(id)); }
    std::vector<std::string> calls;
};
} // namespace

using KnobTest = WidgetTest;

TEST_F(KnobTest, DragOnDelayMixCoversTheRangeIn125PixelsAndStopsAtTheEnds)
{
    Parameter* mix = Find("DELAY_MIX");
    ASSERT_NE(mix, nullptr);
    layout::Point const at = layout::synth::kDelayKnobs[2];
    TPot knob;
    mix->Set(0.0f, nullptr);
    knob.Create(page.get(), at.x, at.y, mix, 0, -1);
    EXPECT_EQ(knob.GetWindowWidth(), 31);
    EXPECT_EQ(knob.GetWindowHeight(), 32);
    EXPECT_EQ(knob.GetWindowX(), at.x - 3);
    EXPECT_EQ(knob.GetWindowY(), at.y - 4);

    struct Case
    {
        float start;
        int up; // pixels up (negative: down)
        float expected;
    };
    const Case cases[] = {
        {0.0f, 25, 0.2f}, {0.0f, 125, 1.0f}, {0.0f, 200, 1.0f}, {0.5f, -100, 0.0f}, {1.0f, -25, 0.8f}};
    long const cx = knob.GetWindowX() + 16;
    long const cy = knob.GetWindowY() + 16;
    for (Case const& c : cases)
    {
        mix->Set(c.start, nullptr);
        backend.Pause(std::chrono::seconds(1)); // not a double click
        backend.Drag(*surface, {static_cast<int>(cx), static_cast<int>(cy)},
                     {static_cast<int>(cx), static_cast<int>(cy - c.up)}, 5);
        Run();
        EXPECT_NEAR(static_cast<float>(*mix), c.expected, 1e-4f) << c.start << " up " << c.up;
        EXPECT_NEAR(knob.GetVal(), c.expected, 1e-4f);
    }

    // After 200 pixels up the pointer sits at 405 degrees: its light dot is at (18, 18) in the
    // knob, where at 0 the dark body shows.
    mix->Set(0.0f, nullptr);
    backend.Pause(std::chrono::seconds(1));
    backend.Drag(*surface, {static_cast<int>(cx), static_cast<int>(cy)},
                 {static_cast<int>(cx), static_cast<int>(cy - 200)});
    Run();
    EXPECT_FLOAT_EQ(knob.ValueAngle(), 405.0f);
    int const lit = Brightness(Probe(knob.GetWindowX() + 20, knob.GetWindowY() + 20));
    mix->Set(0.0f, nullptr);
    Run();
    EXPECT_FLOAT_EQ(knob.ValueAngle(), 135.0f);
    int const dark = Brightness(Probe(knob.GetWindowX() + 20, knob.GetWindowY() + 20));
    EXPECT_GT(lit, dark + 60) << lit << " " << dark;
    EXPECT_TRUE(Messages().empty());
}

TEST_F(KnobTest, DiscreteParameterRoundsAndBipolarZeroDrawsNoWipe)
{
    Parameter* polyphony = Find("Polyphony");
    ASSERT_NE(polyphony, nullptr);
    polyphony->Set(2.0f, nullptr);
    TPot knob;
    layout::Point const at = layout::synth::kPolyphonyKnob;
    knob.Create(page.get(), at.x, at.y, polyphony, 0, -1);
    knob.SetDiscreteMarkerStep(0); // counts as 1
    EXPECT_EQ(knob.GetDiscreteMarkerStep(), 1);
    long const cx = knob.GetWindowX() + 16;
    long const cy = knob.GetWindowY() + 16;
    backend.Drag(*surface, {static_cast<int>(cx), static_cast<int>(cy)},
                 {static_cast<int>(cx), static_cast<int>(cy - 50)});
    Run();
    EXPECT_EQ(static_cast<float>(*polyphony), 8.0f); // 2 + 0.4 * 14 = 7.6, rounded
    EXPECT_FLOAT_EQ(knob.GetVal(), polyphony->Normalise(8.0f));

    // The pan of the current voice runs from -1 to 1: at 0 the wipe runs from the zero angle to
    // itself; off 0 it shows.
    TParam& pan = Synth().panParam;
    TPot panKnob;
    layout::Point const p = layout::synth::kPitchKnob;
    panKnob.Create(page.get(), p.x, p.y, &pan, 0, -1);
    panKnob.SetWipeColour(Colour(0, 255, 0, 255));
    pan.Set(0.0f, nullptr);
    Run();
    EXPECT_EQ(GreenPixels(*this, panKnob.GetWindowX(), panKnob.GetWindowY(), 31, 32), 0);
    pan.Set(0.5f, nullptr);
    Run();
    EXPECT_GT(GreenPixels(*this, panKnob.GetWindowX(), panKnob.GetWindowY(), 31, 32), 10);
    pan.Set(-0.5f, nullptr);
    Run();
    EXPECT_GT(GreenPixels(*this, panKnob.GetWindowX(), panKnob.GetWindowY(), 31, 32), 10);
}

TEST_F(KnobTest, UnboundKnobAndValuesOutsideTheRangeDrawClamped)
{
    TPot knob;
    knob.Create(page.get(), 5, 50, 50, 7.0f, 0.0f, 2.0f, 1);
    EXPECT_EQ(knob.GetWindowWidth(), 50);
    EXPECT_FLOAT_EQ(knob.GetVal(), 2.0f);
    knob.SetVal(-1e30f);
    EXPECT_FLOAT_EQ(knob.GetVal(), 0.0f);
    knob.SetVal(NAN);
    EXPECT_FLOAT_EQ(knob.GetVal(), 0.0f);
    knob.SetVal(1.0f);
    EXPECT_FLOAT_EQ(knob.ValueAngle(), 270.0f);
    Run();

    // A stored polyphony far outside its range draws without overflow.
    Parameter* polyphony = Find("Polyphony");
    TPot bound;
    bound.Create(page.get(), 100, 100, polyphony, 0, -1);
    bound.SetDiscreteMarkerStep(6);
    bound.ParameterUpdated(0.0f, polyphony);
    Run();
    EXPECT_LE(bound.GetVal(), 1.0f);
}

TEST_F(KnobTest, AutomationFromAnotherThreadShowsAfterTheNextPump)
{
    Parameter* mix = Find("DELAY_MIX");
    mix->Set(0.0f, nullptr);
    TPot knob;
    layout::Point const at = layout::synth::kDelayKnobs[2];
    knob.Create(page.get(), at.x, at.y, mix, 0, -1);
    Run();
    int const before = Brightness(Probe(knob.GetWindowX() + 20, knob.GetWindowY() + 20));
    std::thread automation(
        [mix]
        {
            for (int i = 0; i <= 100; ++i)
                mix->Set(static_cast<float>(i) / 100.0f, nullptr);
        });
    for (int i = 0; i < 20; ++i)
        gfx::RunLoop::Turn(false);
    automation.join();
    Run();
    EXPECT_FLOAT_EQ(knob.GetVal(), 1.0f);
    EXPECT_GT(Brightness(Probe(knob.GetWindowX() + 20, knob.GetWindowY() + 20)), before + 60);
}

using ScrollBarTest = WidgetTest;

TEST_F(ScrollBarTest, TravelAndThumbPlaces)
{
    struct Case
    {
        long length;
        bool vertical;
        float value;
        long travel;
        long thumbStart;
    };
    const Case cases[] = {
        {100, true, 0.5f, 52, 41},  {100, true, 0.0f, 52, 15},   {100, true, 1.0f, 52, 67},
        {100, false, 0.5f, 52, 41}, {345, true, 0.25f, 297, 89}, {48, true, 0.7f, 0, 15},
        {40, true, 1.0f, -8, 15},   {100, true, 3.0f, 52, 67},
    };
    for (Case const& c : cases)
    {
        TScrollBar bar;
        bar.Create(page.get(), 20, 20, c.vertical, c.length, 1, nullptr);
        bar.SetValue(c.value, true);
        EXPECT_EQ(bar.GetTravel(), c.travel) << c.length;
        GRectangle thumb = bar.GetThumbRect();
        EXPECT_EQ(c.vertical ? thumb.y : thumb.x, c.thumbStart) << c.length << " " << c.value;
        Run();
        // Only the thumb is drawn, in white.
        long const along = c.thumbStart + 9;
        gfx::Pixel p =
            c.vertical ? Probe(25, static_cast<int>(20 + along)) : Probe(static_cast<int>(20 + along), 25);
        EXPECT_PIXEL(p, 255, 255, 255);
    }
}

TEST_F(ScrollBarTest, ArrowsStepABoundParameterByOneUnitAndTheBarFollows)
{
    Parameter* polyphony = Find("Polyphony");
    polyphony->Set(8.0f, nullptr);
    TScrollBar bar;
    bar.Create(page.get(), polyphony, 20, 20, true, 100);
    EXPECT_FLOAT_EQ(bar.GetValue(), polyphony->Normalise(8.0f));
    backend.Click(*surface, 25, 20 + 92); // down arrow
    Run();
    EXPECT_EQ(static_cast<float>(*polyphony), 9.0f);
    EXPECT_FLOAT_EQ(bar.GetValue(), 0.5f);
    backend.Click(*surface, 25, 22);        // up arrow
    backend.Pause(std::chrono::seconds(1)); // two clicks, not a double click
    backend.Click(*surface, 25, 22);
    Run();
    EXPECT_EQ(static_cast<float>(*polyphony), 7.0f);
    EXPECT_FLOAT_EQ(bar.GetValue(), polyphony->Normalise(7.0f));

    // Dragging the thumb sets the parameter through the controller; the listener hears it.
    Listener listener;
    TScrollBar free;
    free.Create(page.get(), 100, 20, true, 100, 4, &listener);
    backend.Drag(*surface, {105, 20 + 15 + 5}, {105, 20 + 15 + 5 + 26});
    backend.Pause(std::chrono::seconds(1));
    backend.Click(*surface, 105, 22);
    backend.Pause(std::chrono::seconds(1));
    backend.Click(*surface, 105, 115);
    Run();
    EXPECT_FLOAT_EQ(free.GetValue(), 0.5f);
    ASSERT_GE(listener.calls.size(), 3u);
    EXPECT_EQ(listener.calls[listener.calls.size() - 3], "moved 4 0.500000");
    EXPECT_EQ(listener.calls[listener.calls.size() - 2], "up 4");
    EXPECT_EQ(listener.calls.back(), "down 4");
}

TEST_F(ScrollBarTest, ABarTooShortForItsZonesSurvivesDrags)
{
    for (long length : {40L, 48L, 10L, 0L})
    {
        Listener listener;
        TScrollBar bar;
        bar.Create(page.get(), 300, 20, true, length, 2, &listener);
        backend.Drag(*surface, {305, 20 + 16}, {305, 20 + 60});
        backend.Pause(std::chrono::seconds(1));
        backend.Drag(*surface, {305, 20 + 16}, {305, 0});
        backend.Pause(std::chrono::seconds(1));
        Run();
        EXPECT_FLOAT_EQ(bar.GetValue(), 0.0f) << length;
        EXPECT_EQ(bar.GetThumbRect().y, 15);
        for (std::string const& call : listener.calls)
            EXPECT_EQ(call.rfind("moved", 0), std::string::npos) << call;
    }
}

using BowlTest = WidgetTest;

TEST_F(BowlTest, PressesMapOntoTheLimitCircleAndYGrowsDownwards)
{
    TParam& vx = Synth().vectorXParam;
    TParam& vy = Synth().vectorYParam;
    TBowl bowl;
    layout::Point const at = layout::synth::kBowl;
    bowl.Create(page.get(), at.x, at.y, &vx, &vy);
    ASSERT_EQ(bowl.GetDotWidth(), 12);
    EXPECT_EQ(bowl.GetWindowWidth(), 106);
    EXPECT_EQ(bowl.GetWindowHeight(), 106);

    // The centre: (53 - 6) / (106 - 12) = 0.5 on both axes.
    backend.Click(*surface, at.x + 53, at.y + 53);
    Run();
    EXPECT_FLOAT_EQ(bowl.GetXValue(), 0.5f);
    EXPECT_FLOAT_EQ(bowl.GetYValue(), 0.5f);

    // A corner lands on the limit circle (radius 53 - 6) on the corner's diagonal.
    struct Corner
    {
        int x, y;
    };
    for (Corner c : {Corner{0, 0}, Corner{105, 0}, Corner{0, 105}, Corner{105, 105}})
    {
        backend.Pause(std::chrono::seconds(1));
        backend.Click(*surface, at.x + c.x, at.y + c.y);
        Run();
        float const px = bowl.ValueToPos(bowl.GetXValue()) - 53.0f;
        float const py = bowl.ValueToPos(bowl.GetYValue()) - 53.0f;
        EXPECT_NEAR(std::sqrt(px * px + py * py), 47.0f, 1e-3f) << c.x << "," << c.y;
        EXPECT_NEAR(std::fabs(px), std::fabs(py), 1.0f);
        EXPECT_EQ(px < 0, c.x == 0);
        EXPECT_EQ(py < 0, c.y == 0);
    }

    // Dragging up lowers Y.
    backend.Pause(std::chrono::seconds(1));
    backend.Press(*surface, at.x + 53, at.y + 70);
    backend.Then([&] { EXPECT_TRUE(bowl.IsMouseCaptured()); });
    backend.MoveTo(*surface, at.x + 53, at.y + 50);
    backend.Release(*surface, at.x + 53, at.y + 30);
    Run();
    EXPECT_LT(bowl.GetYValue(), 0.5f);
    EXPECT_NEAR(bowl.GetYValue(), bowl.PosToValue(30.0f), 1e-5f);
    EXPECT_FALSE(bowl.IsMouseCaptured());
}

TEST_F(BowlTest, AChangeOfVectorXElsewhereMovesTheDot)
{
    TParam& vx = Synth().vectorXParam;
    TParam& vy = Synth().vectorYParam;
    vx.Set(0.0f, nullptr);
    vy.Set(0.0f, nullptr);
    TBowl bowl;
    layout::Point const at = layout::synth::kBowl;
    bowl.Create(page.get(), at.x, at.y, &vx, &vy);
    Run();
    // The page draws nothing: where the dot is not, the pixel is the bowl's corner's.
    gfx::Pixel const empty = Probe(at.x + 1, at.y + 1);
    auto dotAt = [&](int x, int y) { return Describe(Probe(at.x + x, at.y + y)) != Describe(empty); };
    EXPECT_TRUE(dotAt(53, 53));
    EXPECT_FALSE(dotAt(100, 53));
    vx.Set(1.0f, nullptr);
    Run();
    EXPECT_FALSE(dotAt(53, 53));
    EXPECT_TRUE(dotAt(100, 53));

    // A value from a stored file outside the range keeps the dot inside the bowl.
    vx.SetMinMax(-1.0f, 3.0f, false);
    vx.Set(3.0f, nullptr);
    vx.SetMinMax(-1.0f, 1.0f, false);
    Run();
    EXPECT_TRUE(dotAt(100, 53));
}
