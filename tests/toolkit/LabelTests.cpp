#include "ToolkitTestSupport.h"
#include "toolkit/Label.h"

namespace
{
using LabelTest = ToolkitTest;

TEST_F(LabelTest, PassesTheMouseToItsParentInTheParentsCoordinates)
{
    auto page = MakeRoot(200, 200, 0, 0);
    Label label;
    label.Create(page.get(), "Cutoff", 40, 10, 100, 50);
    backend.Drag(*surface, {103, 54}, {110, 55}, 1);
    backend.Click(*surface, 105, 55, gfx::kButtonRight);
    Run();
    EXPECT_EQ(page->Calls(),
              (std::vector<std::string>{"LButtonDown(103,54)", "MouseMoved(110,55)", "MouseMoved(110,55)",
                                        "LButtonUp(110,55)", "RButtonDown(105,55)", "MouseMoved(105,55)",
                                        "RButtonUp(105,55)"}));
}

TEST_F(LabelTest, WithoutAParentItDropsTheMouse)
{
    Label orphan;
    orphan.Create(nullptr, "alone", 40, 10, 0, 0);
    orphan.LButtonDown(1, 1);
    orphan.MouseMoved(1, 1);
    orphan.RButtonUp(1, 1);
    EXPECT_STREQ(orphan.GetLabel(), "alone");
}

TEST_F(LabelTest, DrawsItsTextAtTwoEightInItsColourAndSize)
{
    auto page = MakeRoot(200, 200, 0, 0);
    Label label;
    label.Create(page.get(), "Level", 60, 20, 10, 20);
    label.SetTextColour(Colour(128, 128, 128, 255), false);
    label.SetFont(12, true, false);
    Run();
    auto drawn = backend.FindStrings("Level");
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_DOUBLE_EQ(drawn[0].x, 12);
    EXPECT_DOUBLE_EQ(drawn[0].y, 28);
    EXPECT_DOUBLE_EQ(drawn[0].size, 12);
    EXPECT_NEAR(drawn[0].red, 128 / 255.0, 1e-6);

    backend.ClearStrings();
    label.SetLabel("Gain", false);
    Run();
    EXPECT_TRUE(backend.FindStrings("Gain").empty()); // not repainted
    label.SetLabel("Gain", true);
    Run();
    EXPECT_EQ(backend.FindStrings("Gain").size(), 1u);
}

TEST_F(LabelTest, ALongTextIsCutAtACharacterBoundary)
{
    Label label;
    std::string bytes(300, 'a');
    label.Create(nullptr, bytes.c_str(), 10, 10, 0, 0);
    EXPECT_EQ(std::string(label.GetLabel()), std::string(255, 'a'));
    std::string euros;
    for (int i = 0; i < 100; ++i)
        euros += "\xe2\x82\xac";
    label.SetLabel(euros.c_str(), false);
    EXPECT_EQ(std::string(label.GetLabel()).size(), 255u);
    euros = "x" + euros;
    label.SetLabel(euros.c_str(), false);
    EXPECT_EQ(std::string(label.GetLabel()).size(), 253u);
    label.SetLabel(nullptr, false);
    EXPECT_STREQ(label.GetLabel(), "");
}
} // namespace
