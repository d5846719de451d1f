#include <memory>
#include <string>
#include <vector>

#include "TestImages.h"
#include "ToolkitTestSupport.h"
#include "framework/Parameter.h"
#include "framework/Paths.h"
#include "toolkit/ParameterControllerWindow.h"
#include "toolkit/ParameterControls.h"

namespace
{
// Counts the repaint requests a control makes.
template <class Control> class Counted : public Control
{
public:
    ~Counted() override { this->UnbindAllParameters(); }
    void ForceRepaint() override
    {
        ++forced;
        Control::ForceRepaint();
    }
    int forced = 0;
};

// A parameter that keeps its value whatever a control hands it.
class StubbornParameter : public Parameter
{
public:
    float ControllerSet(float, ParameterController*) override { return ControllerGet(); }
};

struct ToggleLog : ToggleListener
{
    std::vector<std::string> calls;
    void OnToggle(int id, bool on) override { calls.push_back(std::to_string(id) + (on ? " on" : " off")); }
};

class ControlsTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        RegisterTestImages();
        SetImagePath("/torvane-test-images/");
        page = MakeRoot(200, 200, 0, 0);
        page->paint = [this](GraphicsContext& gc) { page->FillBackground(gc, Colour(0, 0, 0, 255)); };
        upright.LoadFromFile(MakeImagePath("TestUpright.png"));
        level.Create("level", nullptr, Parameter::Global, 0.0f, 10.0f, Parameter::Continuous);
        steps.Create("steps", nullptr, Parameter::Global, 0.0f, 4.0f, Parameter::Discrete);
        flag.CreateBool("flag", nullptr, Parameter::Global);
    }

    std::unique_ptr<RecordingWindow> page;
    Image upright; // 20 x 10, top half red, bottom half blue
    Parameter level;
    Parameter steps;
    Parameter flag;
};
} // namespace

// ---------------------------------------------------------------------------------------------
// Slider

TEST_F(ControlsTest, SliderTakesItsShapeFromTheThumbAndTrack)
{
    struct Case
    {
        bool vertical;
        long length;
        bool thumb;
        long x, y, w, h, half;
    };
    // Track from (50, 60); the thumb image is 20 x 10; without one it is 18 x 18.
    for (Case c : {Case{false, 40, false, 41, 60, 58, 18, 9}, Case{true, 40, false, 50, 51, 18, 58, 9},
                   Case{false, 40, true, 40, 60, 60, 10, 10}, Case{true, 40, true, 50, 55, 20, 50, 5},
                   Case{false, 0, false, 41, 60, 19, 18, 9}, Case{false, -5, false, 41, 60, 19, 18, 9}})
    {
        Slider s;
        s.Create(page.get(), 50, 60, c.vertical, c.length, &level, c.thumb ? &upright : nullptr);
        EXPECT_EQ(s.GetWindowX(), c.x);
        EXPECT_EQ(s.GetWindowY(), c.y);
        EXPECT_EQ(s.GetWindowWidth(), c.w);
        EXPECT_EQ(s.GetWindowHeight(), c.h);
        EXPECT_EQ(s.GetHalfThumb(), c.half);
    }
    Slider unbound;
    unbound.Create(page.get(), 0, 0, false, 40, nullptr, nullptr);
    EXPECT_FALSE(unbound.HasBoundParameters());
    unbound.LButtonDown(30, 5); // writes nowhere
    unbound.LButtonUp(30, 5);
}

TEST_F(ControlsTest, SliderHandsThePointersPositionUnclamped)
{
    struct Case
    {
        bool flipped;
        long at;
        float handed;
        float stored;
    };
    // Horizontal, length 40, half 9: the track runs from x = 9 to x = 49.
    for (Case c : {Case{false, 9, 0.0f, 0.0f}, Case{false, 49, 1.0f, 10.0f}, Case{false, 59, 1.25f, 10.0f},
                   Case{false, 0, -0.225f, 0.0f}, Case{false, 19, 0.25f, 2.5f}, Case{true, 19, 0.75f, 7.5f},
                   Case{true, 49, 0.0f, 0.0f}})
    {
        level = 5.0f;
        Slider s;
        s.Create(page.get(), 20, 20, false, 40, &level, nullptr);
        s.Flip(c.flipped);
        s.LButtonDown(c.at, 5);
        EXPECT_FLOAT_EQ(s.GetLastPosition(), c.handed) << c.at;
        EXPECT_FLOAT_EQ(static_cast<float>(level), c.stored) << c.at;
        EXPECT_TRUE(s.IsMouseCaptured());
        s.LButtonUp(200, 200);
        EXPECT_FALSE(s.IsMouseCaptured());
        s.MouseMoved(9, 5); // no longer dragging
        EXPECT_FLOAT_EQ(static_cast<float>(level), c.stored);
    }

    // A discrete parameter rounds what the slider hands it.
    Slider stepped;
    stepped.Create(page.get(), 20, 20, false, 40, &steps, nullptr);
    stepped.LButtonDown(9 + 24, 5); // 0.6 of 4 steps
    EXPECT_FLOAT_EQ(static_cast<float>(steps), 2.0f);
}

TEST_F(ControlsTest, SliderFollowsTheParameterAndRepaintsOnlyOnChange)
{
    level = 2.5f;
    Counted<Slider> s;
    s.Create(page.get(), 20, 20, false, 40, &level, nullptr);
    EXPECT_FLOAT_EQ(s.GetLastPosition(), 0.25f);
    int const before = s.forced;
    level = 2.5f;
    EXPECT_EQ(s.forced, before);
    level = 5.0f;
    EXPECT_EQ(s.forced, before + 1);
    EXPECT_FLOAT_EQ(s.GetLastPosition(), 0.5f);
    s.SetInvert(true);
    level = 2.0f;
    EXPECT_FLOAT_EQ(s.GetLastPosition(), 0.8f);
}

TEST_F(ControlsTest, SliderDrawsItsThumbWhereTheParameterIs)
{
    level = 5.0f;
    Slider drawn;
    drawn.Create(page.get(), 20, 20, false, 40, &level, nullptr); // window (11, 20) 58 x 18
    Run();
    // Offset 20: a red square 18 wide from x = 20 in the window.
    EXPECT_PIXEL(Probe(11 + 25, 25), 255, 0, 0);
    EXPECT_PIXEL(Probe(11 + 15, 25), 0, 0, 0);
    Slider thumbed;
    thumbed.Create(page.get(), 20, 100, true, 40, &level, &upright); // window (20, 95) 20 x 50
    thumbed.Flip(true);
    level = 7.5f;
    Run();
    // Flipped vertical at 0.75 draws the thumb 0.25 of the track from the top: y 10 to 20.
    EXPECT_PIXEL(Probe(25, 95 + 11), 255, 0, 0);
    EXPECT_PIXEL(Probe(25, 95 + 17), 0, 0, 255);
    EXPECT_PIXEL(Probe(25, 95 + 25), 0, 0, 0);
}

TEST_F(ControlsTest, SliderSetsTheValueUnderAClickAtOnceThroughTheLoop)
{
    Slider s;
    s.Create(page.get(), 20, 20, false, 40, &level, nullptr); // track x 20..60 on the surface
    backend.Press(*surface, 30, 25);
    backend.Then([&] { EXPECT_FLOAT_EQ(static_cast<float>(level), 2.5f); });
    backend.MoveTo(*surface, 40, 25);
    backend.Release(*surface, 150, 150);
    Run();
    EXPECT_FLOAT_EQ(static_cast<float>(level), 10.0f); // released beyond the end: clamped by the parameter
    EXPECT_FALSE(s.IsMouseCaptured());
}

// ---------------------------------------------------------------------------------------------
// Toggle boxes

TEST_F(ControlsTest, ToggleBoxShowsAndReportsWhatTheParameterAccepted)
{
    ToggleLog log;
    ToggleBox box;
    flag.SetBool(true);
    box.Create(page.get(), &flag, 10, 10, &upright, nullptr);
    box.SetListener(&log);
    EXPECT_TRUE(box.IsOn()); // binding showed the state at once
    EXPECT_EQ(box.GetWindowWidth(), 20);
    box.LButtonDown(1, 1);
    EXPECT_FALSE(flag.GetBool());
    EXPECT_FALSE(box.IsOn());

    StubbornParameter stubborn;
    stubborn.CreateBool("stubborn", nullptr, Parameter::Global);
    ToggleBox refused;
    refused.Create(page.get(), &stubborn, 40, 10, &upright, nullptr);
    refused.SetListener(&log);
    refused.LButtonDown(1, 1);
    EXPECT_FALSE(refused.IsOn());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"0 off", "0 off"}));

    flag.SetBool(true);
    EXPECT_TRUE(box.IsOn());
    box.SetOn(false); // shows only
    EXPECT_TRUE(flag.GetBool());
    EXPECT_EQ(log.calls.size(), 2u);
}

TEST_F(ControlsTest, ToggleBoxDoubleClickTogglesTwiceAndTheIdFormWritesNothing)
{
    ToggleLog log;
    ToggleBox box;
    box.Create(page.get(), 7, 10, 10, &upright, nullptr, false);
    box.SetListener(&log);
    backend.DoubleClick(*surface, 15, 15);
    Run();
    EXPECT_EQ(log.calls, (std::vector<std::string>{"7 on", "7 off"}));
    EXPECT_FALSE(box.IsOn());
    box.LButtonDown(0, 0);
    EXPECT_EQ(log.calls.back(), "7 on");
    Run();
    EXPECT_PIXEL(Probe(15, 12), 255, 0, 0); // the on image
    box.SetOn(false);
    Run();
    EXPECT_PIXEL(Probe(15, 12), 0, 0, 0); // no off image
}

TEST_F(ControlsTest, ToggleBoxLoadsItsImagesOrThrowsBeforeItHasAWindow)
{
    ToggleBox loaded;
    loaded.Create(page.get(), &flag, 10, 10, MakeImagePath("TestUpright.png"),
                  MakeImagePath("TestUpright.png"));
    EXPECT_EQ(loaded.GetWindowHeight(), 10);
    ToggleBox broken;
    EXPECT_ANY_THROW(broken.Create(page.get(), &flag, 10, 10, MakeImagePath("TestUpright.png"),
                                   MakeImagePath("TestMissing.png")));
    EXPECT_EQ(broken.GetView(), nullptr);
    EXPECT_FALSE(broken.HasBoundParameters());
}

TEST_F(ControlsTest, SimpleToggleBoxDrawsItsStateInColourAndText)
{
    SimpleToggleBox box;
    box.Create(page.get(), &flag, 30, 40, "Yes", "No");
    EXPECT_EQ(box.GetWindowWidth(), 30);
    EXPECT_EQ(box.GetWindowHeight(), 15);
    Run();
    EXPECT_PIXEL(Probe(31, 52), 177, 81, 81);
    EXPECT_EQ(backend.FindStrings("No").size(), 1u);
    backend.ClearStrings();
    flag.SetBool(true);
    Run();
    EXPECT_PIXEL(Probe(31, 52), 81, 170, 81);
    EXPECT_EQ(backend.FindStrings("Yes").size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Radio buttons and numeric displays

TEST_F(ControlsTest, RadioButtonSelectsWithinHalfAUnitBothEndsIncluded)
{
    level.Create("level", nullptr, Parameter::Global, 0.0f, 4.0f, Parameter::Continuous);
    RadioButton two;
    two.Create(page.get(), &level, 2.0f, 10, 10, &upright, nullptr);
    for (auto [v, selected] :
         {std::pair{1.5f, true}, {2.5f, true}, {2.0f, true}, {1.49f, false}, {2.51f, false}})
    {
        level = v;
        EXPECT_EQ(two.IsSelected(), selected) << v;
    }
    level = 0.0f;
    two.LButtonDown(1, 1);
    EXPECT_FLOAT_EQ(static_cast<float>(level), 2.0f);
    Run();
    EXPECT_PIXEL(Probe(15, 12), 255, 0, 0);

    // Unbound: drawn off, and a press does nothing.
    Counted<RadioButton> loose;
    loose.Create(page.get(), nullptr, 2.0f, 40, 10, &upright, &upright);
    int const before = loose.forced;
    loose.LButtonDown(1, 1);
    EXPECT_EQ(loose.forced, before);
    EXPECT_FALSE(loose.IsSelected());
    Run();
    EXPECT_PIXEL(Probe(45, 12), 255, 0, 0); // drawn safely
}

TEST_F(ControlsTest, NumericDisplayFormatsByMode)
{
    Parameter wide;
    wide.Create("wide", nullptr, Parameter::Global, -10.0f, 10.0f, Parameter::Continuous);
    Parameter unit;
    unit.Create("unit", nullptr, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
    struct Case
    {
        Parameter* p;
        int mode;
        float value;
        char const* text;
        int resolved;
    };
    for (Case c :
         {Case{&steps, 3, 3.0f, "3", 0}, Case{&unit, 3, 0.5f, "0.5", 2}, Case{&wide, 0, 2.9f, "2", 0},
          Case{&wide, 0, -2.9f, "-2", 0}, Case{&wide, 2, 2.25f, "2.2", 2}, Case{&wide, 1, 5.0f, "0.8", 1},
          Case{&wide, 9, 5.0f, "", 9}})
    {
        *c.p = c.value;
        NumericDisplay d;
        d.Create(page.get(), GRectangle(10, 10, 40, 12), c.p, c.mode);
        d.SetInvert(true); // not applied to the normalised mode
        EXPECT_EQ(d.GetDisplayMode(), c.resolved);
        EXPECT_STREQ(static_cast<char const*>(d.GetValueString()), c.text) << c.mode << " " << c.value;
    }

    NumericDisplay shown;
    shown.Create(page.get(), GRectangle(10, 100, 40, 12), &steps, NumericDisplay::kByType);
    steps = 1.0f;
    Run();
    auto drawn = backend.FindStrings("1");
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_NEAR(drawn[0].red, 1.0, 1e-6);

    NumericDisplay unbound;
    unbound.Create(page.get(), GRectangle(60, 100, 40, 12), nullptr, NumericDisplay::kByType);
    EXPECT_STREQ(static_cast<char const*>(unbound.GetValueString()), "");
    EXPECT_EQ(unbound.GetDisplayMode(), NumericDisplay::kDecimal);
    Run(); // draws safely
}

// ---------------------------------------------------------------------------------------------
// Controller window

TEST_F(ControlsTest, ControllerWindowRepaintsOnEveryChangeMadeElsewhere)
{
    Counted<ParameterControllerWindow> w;
    w.CreateChildWindow(page.get(), 10, 10, 0, 0);
    w.BindUnderPluginMutex(&w, &level);
    int const before = w.forced;
    level = 3.0f;
    level = 4.0f;
    EXPECT_EQ(w.forced, before + 2);
    w.UnbindUnderPluginMutex(&level);
    level = 5.0f;
    EXPECT_EQ(w.forced, before + 2);
}
