#include <atomic>
#include <thread>

#include "WidgetTestSupport.h"
#include "editor/ChoiceSelector.h"
#include "editor/Layout.h"
#include "editor/MiniWaveDisplay.h"
#include "engine/VoiceDef.h"

namespace
{
// The first and last rows of a rectangle of the surface (on black) that the wave line lights,
// in its blue-grey.
std::pair<int, int> LineRows(WidgetTest& t, int x0, int y0, int w, int h)
{
    int top = -1, bottom = -1;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            if (gfx::Pixel p = t.Probe(x, y); p.r > 40 && p.b >= p.r && p.g >= p.r)
            {
                if (top < 0) top = y - y0;
                bottom = y - y0;
            }
    return {top, bottom};
}
} // namespace

using SelectorTest = WidgetTest;

TEST_F(SelectorTest, ArrowsWrapAndWriteAtTheEditTime)
{
    struct Case
    {
        bool filter;
        float start;
        int button; // 0 left, 1 right
        int expected;
    };
    const Case cases[] = {
        {false, 0, 0, 3}, {false, 3, 1, 0}, {false, 1, 1, 2}, {false, 2, 0, 1},
        {true, 2, 1, 0},  {true, 0, 0, 2},  {true, 1, 1, 2},
    };
    Synth().SetEditTime(0.0f);
    for (Case const& c : cases)
    {
        TParam& p = c.filter ? Synth().filterTypeParam : Synth().lfo1ShapeParam;
        p.Set(c.start, nullptr);
        std::unique_ptr<ChoiceSelector> selector;
        if (c.filter)
            selector = std::make_unique<FilterSelector>();
        else
            selector = std::make_unique<WaveSelector>();
        layout::Point const at = c.filter ? layout::synth::kFilterSelector : layout::synth::kLfoShape[0];
        selector->Create(page.get(), at.x, at.y, &p);
        ASSERT_EQ(selector->GetWindowWidth(), 45);
        EXPECT_EQ(selector->GetSelection(), static_cast<int>(c.start));
        backend.Pause(std::chrono::seconds(1));
        backend.Click(*surface, at.x + (c.button == 0 ? 6 : 38), at.y + 8);
        Run();
        EXPECT_EQ(selector->GetSelection(), c.expected) << c.filter << " " << c.start;
        EXPECT_EQ(selector->GetDrawnSelection(), c.expected);
        EXPECT_EQ(static_cast<float>(p), static_cast<float>(c.expected)); // the line at the edit time
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(SelectorTest, MovingTheEditTimeOntoAnotherShapeRedrawsThePicture)
{
    TParam& shape = Synth().lfo1ShapeParam;
    Synth().SetEditTime(0.0f);
    shape.Set(0.0f, nullptr);
    long const index = Synth().CreateBreakpoint(0, VoiceDef::kModulationLine, 20000.0f);
    ASSERT_GE(index, 0);
    Synth().SetEvent(0, VoiceDef::kModulationLine, 2, static_cast<int>(index), 2.0f);

    WaveSelector selector;
    layout::Point const at = layout::synth::kLfoShape[0];
    selector.Create(page.get(), at.x, at.y, &shape);
    Run();
    ASSERT_EQ(selector.GetDrawnSelection(), 0);
    gfx::Pixel const sine = Probe(at.x + 23, at.y + 8);
    std::string sinePicture;
    for (int x = 14; x < 33; ++x)
        for (int y = 0; y < 16; ++y)
            sinePicture += Describe(Probe(at.x + x, at.y + y));

    // The editor's drain refreshes every parameter after the edit time moved.
    Synth().SetEditTime(20000.0f);
    Synth().UpdateGUI();
    Run();
    EXPECT_EQ(selector.GetSelection(), 2);
    EXPECT_EQ(selector.GetDrawnSelection(), 2);
    std::string rampPicture;
    for (int x = 14; x < 33; ++x)
        for (int y = 0; y < 16; ++y)
            rampPicture += Describe(Probe(at.x + x, at.y + y));
    EXPECT_NE(sinePicture, rampPicture);
    (void)sine;

    // The same selection again does not repaint.
    int const repaints = selector.GetRepaintCount();
    Synth().UpdateGUI();
    shape.Set(2.0f, nullptr);
    Run();
    EXPECT_EQ(selector.GetRepaintCount(), repaints);

    // Values outside the pictures clamp.
    selector.ParameterUpdated(9.0f, &shape);
    Run();
    EXPECT_EQ(selector.GetDrawnSelection(), 3);
    selector.ParameterUpdated(-4.0f, &shape);
    Run();
    EXPECT_EQ(selector.GetDrawnSelection(), 0);
}

TEST_F(SelectorTest, AMissingPictureIsReportedAndEndsTheCreation)
{
    ScopedMissingEditorImage missing("FilterHP.png");
    FilterSelector selector;
    selector.Create(page.get(), 10, 10, &Synth().filterTypeParam);
    Run();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].caption, "Torvane error in FilterSelector::Create");
    EXPECT_EQ(selector.GetView(), nullptr);
    Synth().filterTypeParam.Set(1.0f, nullptr); // not bound: nothing to tell
}

using MiniWaveTest = WidgetTest;

TEST_F(MiniWaveTest, ASineSlotSpansRows7To27AndNoSlotDrawsNothing)
{
    ASSERT_NE(Synth().LoadStandardWaveform(0, 1, 2), nullptr); // sine in slot 1
    Synth().SetCurrentVoice(0);
    layout::Point const at = layout::synth::kMiniWaves[1];
    MiniWaveDisplay display;
    display.Create(page.get(), at.x, at.y);
    EXPECT_EQ(display.GetWindowWidth(), 44);
    EXPECT_EQ(display.GetWindowHeight(), 29);
    Run();
    EXPECT_EQ(LineRows(*this, at.x, at.y, 44, 29), std::make_pair(-1, -1));

    display.SetWave(&Synth(), -1, 1);
    Run();
    // A one-pixel line on row y covers half of rows y - 1 and y.
    EXPECT_EQ(LineRows(*this, at.x, at.y, 44, 29), std::make_pair(7 - 1, 27));

    // A bad slot has no points: nothing.
    display.SetWave(&Synth(), -1, 9);
    Run();
    EXPECT_EQ(LineRows(*this, at.x, at.y, 44, 29), std::make_pair(-1, -1));
}

TEST_F(MiniWaveTest, RepaintingWhileAnotherThreadRestoresAState)
{
    ASSERT_NE(Synth().LoadStandardWaveform(0, 0, 2), nullptr);
    std::vector<unsigned char> const sine = host->GetState();
    ASSERT_NE(Synth().LoadStandardWaveform(0, 0, 0), nullptr);
    std::vector<unsigned char> const saw = host->GetState();
    Synth().SetCurrentVoice(0);

    MiniWaveDisplay display;
    display.Create(page.get(), 10, 10);
    display.SetWave(&Synth(), 0, 0);
    std::atomic<bool> done{false};
    std::thread restore(
        [&]
        {
            for (int i = 0; i < 6; ++i)
                host->SetState(i % 2 ? saw : sine);
            done = true;
        });
    while (!done)
    {
        display.ForceRepaint();
        gfx::RunLoop::Turn(false);
    }
    restore.join();
    display.ForceRepaint();
    Run();
    EXPECT_NE(LineRows(*this, 10, 10, 44, 29).first, -1);
}
