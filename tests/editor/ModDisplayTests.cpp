#include <cmath>

#include "WidgetTestSupport.h"
#include "editor/Layout.h"
#include "editor/TModDisplay.h"

namespace
{
float Semitones(int n)
{
    return std::pow(2.0f, static_cast<float>(n) / 12.0f) - 1.0f;
}
} // namespace

class ModDisplayTest : public WidgetTest
{
public:
    void SetUp() override
    {
        WidgetTest::SetUp();
        Synth().SetCurrentVoice(1);
        display = std::make_unique<TModDisplay>();
        display->Create(page.get(), &Synth(), at.x, at.y);
    }
    void TearDown() override
    {
        display.reset();
        WidgetTest::TearDown();
    }

    // A point of a cell of a row, in surface coordinates.
    gfx::Point In(void (*cell)(int, GRectangle&), int row, int dx = 20)
    {
        GRectangle r;
        cell(row, r);
        return {static_cast<int>(at.x + r.x + std::min<long>(dx, r.width - 1)),
                static_cast<int>(at.y + r.y + 8)};
    }
    float Amount(int row) { return Synth().GetModulationAmount(row, -1); }
    void Gap() { backend.Pause(std::chrono::seconds(1)); }

    layout::Rect const at = layout::synth::kModDisplay;
    std::unique_ptr<TModDisplay> display;
};

TEST_F(ModDisplayTest, CellsAndWords)
{
    EXPECT_EQ(display->GetWindowWidth(), 228);
    EXPECT_EQ(display->GetWindowHeight(), 81);
    for (int row = 0; row < 5; ++row)
    {
        layout::Rect const amount = layout::moddisplay::Amount(row);
        EXPECT_EQ(TModDisplay::AmountHitTest(amount.x, amount.y + 1), row);
        // Edges are inclusive: a shared edge belongs to the first row.
        EXPECT_EQ(TModDisplay::AmountHitTest(amount.x + 80, amount.y), row == 0 ? 0 : row - 1);
        EXPECT_EQ(TModDisplay::SourceHitTest(layout::moddisplay::Source(row).x + 30, amount.y + 5), row);
        EXPECT_EQ(TModDisplay::TargetHitTest(layout::moddisplay::Target(row).x + 30, amount.y + 5), row);
        EXPECT_EQ(TModDisplay::ToggleHitTest(3, amount.y + 5), row);
    }
    EXPECT_EQ(TModDisplay::AmountHitTest(215, 5), -1);
    EXPECT_STREQ(TModDisplay::SourceWord(5), "Error!");
    EXPECT_STREQ(TModDisplay::TargetWord(11), "Error!");
    EXPECT_STREQ(TModDisplay::TargetWord(5), "Filter Cutoff");

    Synth().SetModulationSource(2, 12, -1);
    Synth().SetModulationTarget(2, 5, -1);
    Synth().SetModulationSource(3, 5, -1); // a pad's source: no word of the matrix
    Synth().SetModulationAmount(0, 0.125f, -1);
    backend.ClearStrings();
    display->ForceRepaint();
    Run();
    EXPECT_TRUE(Drew("0.5")); // the cube root of 0.125
    EXPECT_TRUE(Drew("Velocity"));
    EXPECT_TRUE(Drew("Filter Cutoff"));
    EXPECT_TRUE(Drew("Error!"));
    EXPECT_TRUE(Drew("<None>"));
    // A stored amount outside the range draws clamped.
    Synth().SetModulationAmount(1, 8.0f, -1);
    backend.ClearStrings();
    display->ForceRepaint();
    Run();
    EXPECT_TRUE(Drew("1.0"));
}

TEST_F(ModDisplayTest, DraggingTheAmountInDisplayUnits)
{
    Synth().SetModulationAmount(0, 0.125f, -1);
    // 29 pixels right of u = 0.5 reach u = 1 (and stay there).
    gfx::Point p = In(&TModDisplay::GetAmountRect, 0, 40);
    backend.Drag(*surface, p, {p.x + 29, p.y});
    Run();
    EXPECT_FLOAT_EQ(Amount(0), 1.0f);

    // Back to within 0.01 of the middle stores exactly 0.
    Synth().SetModulationAmount(0, 0.001f, -1); // u = 0.1
    Gap();
    backend.Press(*surface, p.x, p.y);
    backend.MoveTo(*surface, p.x + 29, p.y);
    backend.Then([&] { EXPECT_FLOAT_EQ(Amount(0), 1.0f); });
    backend.MoveTo(*surface, p.x - 3, p.y); // u = 0.1 - 3 / 29
    backend.Release(*surface, p.x - 3, p.y);
    Run();
    EXPECT_EQ(Amount(0), 0.0f);
    EXPECT_FALSE(display->IsDragging());

    // Left, the other way, into the negative half.
    Gap();
    backend.Drag(*surface, p, {p.x - 20, p.y});
    Run();
    float const u = -20.0f / 29.0f;
    EXPECT_NEAR(Amount(0), u * u * u, 1e-6f);
}

TEST_F(ModDisplayTest, SemitoneMenuOnTheAmountCellOnly)
{
    EXPECT_FLOAT_EQ(TModDisplay::SnapToNoteAmount(0.02f), 0.0f);
    EXPECT_FLOAT_EQ(TModDisplay::SnapToNoteAmount(-0.06f), -Semitones(1));
    EXPECT_FLOAT_EQ(TModDisplay::SnapToNoteAmount(0.5f), Semitones(7));
    EXPECT_FLOAT_EQ(TModDisplay::SnapToNoteAmount(5.0f), Semitones(12));
    EXPECT_FLOAT_EQ(TModDisplay::SnapToNoteAmount(NAN), 0.0f);

    struct Case
    {
        char const* item;
        float amount;
    };
    const Case cases[] = {{"+7 semitones", Semitones(7)},
                          {"-7 semitone", -Semitones(7)},
                          {"+1 semitone", Semitones(1)},
                          {"0 semitones", 0.0f},
                          {"-12 semitone", -1.0f}};
    for (Case const& c : cases)
    {
        Responders::NextMenu({c.item});
        Gap();
        gfx::Point p = In(&TModDisplay::GetAmountRect, 3);
        backend.Click(*surface, p.x, p.y, gfx::kButtonRight);
        Run();
        EXPECT_FLOAT_EQ(Amount(3), c.amount) << c.item;
    }
    // A right click elsewhere opens nothing: the queued answer stays.
    Responders::NextMenu({"+2 semitones"});
    Gap();
    gfx::Point p = In(&TModDisplay::GetSourceRect, 3);
    backend.Click(*surface, p.x, p.y, gfx::kButtonRight);
    Run();
    EXPECT_FLOAT_EQ(Amount(3), -1.0f);
    EXPECT_TRUE(Responders::TakeMenu().has_value());
}

TEST_F(ModDisplayTest, MenusAndToggleChangeTheCurrentVoicesRowAndEndThePress)
{
    ASSERT_EQ(Synth().GetCurrentVoice(), 1);
    int const otherSource = Synth().GetModulationSource(1, 0);
    float const before = Amount(1);

    // The source menu; the press that opened it drags nothing afterwards.
    Responders::NextMenu({"LFO2"});
    gfx::Point p = In(&TModDisplay::GetSourceRect, 1);
    backend.Drag(*surface, p, {p.x + 140, p.y});
    Run();
    EXPECT_EQ(Synth().GetModulationSource(1, 1), 1);
    EXPECT_EQ(Synth().GetModulationSource(1, 0), otherSource);
    EXPECT_FLOAT_EQ(Amount(1), before);
    EXPECT_FALSE(display->IsDragging());

    Responders::NextMenu({"Osc Pitch"});
    Gap();
    p = In(&TModDisplay::GetTargetRect, 1);
    backend.Click(*surface, p.x, p.y);
    Run();
    EXPECT_EQ(Synth().GetModulationTarget(1, 1), 1);

    // Dismissed: nothing changes.
    Responders::NextMenu({});
    Gap();
    backend.Click(*surface, p.x, p.y);
    Run();
    EXPECT_EQ(Synth().GetModulationTarget(1, 1), 1);

    bool const on = Synth().GetModulationEnabled(4, 1);
    Gap();
    p = In(&TModDisplay::GetToggleRect, 4, 4);
    backend.Click(*surface, p.x, p.y);
    Run();
    EXPECT_EQ(Synth().GetModulationEnabled(4, 1), !on);
    EXPECT_EQ(Synth().GetModulationEnabled(4, 0), on);

    backend.ClearStrings();
    display->ForceRepaint();
    Run();
    EXPECT_TRUE(Drew("LFO2"));
    EXPECT_TRUE(Drew("Pitch"));
}
