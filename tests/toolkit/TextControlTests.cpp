#include "ToolkitTestSupport.h"
#include "toolkit/TextControl.h"

namespace
{
class TextControlTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        page = MakeRoot(200, 200, 0, 0);
    }
    std::string Text(TextControl const& t) { return t.GetText().ToStdString(); }
    std::unique_ptr<RecordingWindow> page;
};

TEST_F(TextControlTest, StartsEmptyOrWithItsConvertedText)
{
    TextControl never;
    EXPECT_EQ(never.GetText().GetLength(), 0);
    TextControl empty, roman;
    empty.Create(page.get(), GRectangle(10, 10, 100, 20), true, nullptr);
    EXPECT_EQ(Text(empty), "");
    roman.Create(page.get(), GRectangle(10, 40, 100, 20), true, "Caf\x8e");
    EXPECT_EQ(Text(roman), "Caf\xc3\xa9");
    Run();
    EXPECT_EQ(backend.FindStrings("Caf\xc3\xa9").size(), 1u);
}

TEST_F(TextControlTest, TypingEditingAndSelecting)
{
    TextControl field;
    field.Create(page.get(), GRectangle(10, 10, 150, 20), true, "");
    field.GiveFocus();
    EXPECT_TRUE(field.HasFocus());
    struct Step
    {
        std::function<void()> input;
        char const* text;
        long selStart, selEnd;
    };
    auto& b = backend;
    auto& s = *surface;
    const Step steps[] = {
        {[&] { b.Type(s, "Pad \xc3\xa9t\xc3\xa9"); }, "Pad \xc3\xa9t\xc3\xa9", 9, 9},
        {[&] { b.Key(s, gfx::kKeyBackspace); }, "Pad \xc3\xa9t", 7, 7},
        {[&] { b.Key(s, gfx::kKeyLeft); }, "Pad \xc3\xa9t", 6, 6},
        {[&] { b.Key(s, gfx::kKeyLeft, gfx::kModShift); }, "Pad \xc3\xa9t", 4, 6},
        {[&] { b.Type(s, "a"); }, "Pad at", 5, 5},
        {[&] { b.Key(s, gfx::kKeyHome); }, "Pad at", 0, 0},
        {[&] { b.Key(s, gfx::kKeyDelete); }, "ad at", 0, 0},
        {[&] { b.Key(s, gfx::kKeyEnd, gfx::kModShift); }, "ad at", 0, 5},
        {[&] { b.Type(s, "c", gfx::kModControl); }, "ad at", 0, 5},
        {[&] { b.Key(s, gfx::kKeyRight); }, "ad at", 5, 5},
        {[&] { b.Type(s, "v", gfx::kModControl); }, "ad atad at", 10, 10},
        {[&] { b.Key(s, gfx::kKeyReturn); }, "ad atad at", 10, 10},
        {[&] { b.Type(s, "a", gfx::kModControl); }, "ad atad at", 0, 10},
        {[&] { b.Type(s, "x", gfx::kModControl); }, "", 0, 0},
        {[&] { b.Type(s, "v", gfx::kModControl); }, "ad atad at", 10, 10},
    };
    for (Step const& step : steps)
    {
        step.input();
        Run();
        EXPECT_EQ(Text(field), step.text);
        EXPECT_EQ(field.GetSelectionStart(), step.selStart) << step.text;
        EXPECT_EQ(field.GetSelectionEnd(), step.selEnd) << step.text;
    }
    EXPECT_EQ(backend.clipboard, "ad atad at");
}

TEST_F(TextControlTest, HoldsAtMost255BytesAndASingleLine)
{
    TextControl field;
    field.Create(page.get(), GRectangle(10, 10, 150, 20), true, "ab");
    field.GiveFocus();
    backend.clipboard = std::string(300, 'x');
    backend.Type(*surface, "v", gfx::kModControl);
    Run();
    EXPECT_EQ(Text(field).size(), 255u);
    backend.Type(*surface, "y");
    Run();
    EXPECT_EQ(Text(field).size(), 255u);

    backend.clipboard = "one\ntwo";
    backend.Type(*surface, "a", gfx::kModControl);
    backend.Type(*surface, "v", gfx::kModControl);
    Run();
    EXPECT_EQ(Text(field), "one");

    TextControl lines;
    lines.Create(page.get(), GRectangle(10, 40, 150, 60), false, "one");
    lines.GiveFocus();
    EXPECT_FALSE(field.HasFocus());
    backend.Key(*surface, gfx::kKeyEnd);
    backend.Key(*surface, gfx::kKeyReturn);
    backend.Type(*surface, "two");
    Run();
    EXPECT_EQ(Text(lines), "one\ntwo");
    EXPECT_EQ(Text(field), "one");
}

TEST_F(TextControlTest, AClickFocusesAndPlacesTheCaretAndADragSelects)
{
    TextControl a, b;
    a.Create(page.get(), GRectangle(10, 10, 150, 20), true, "left");
    b.Create(page.get(), GRectangle(10, 40, 150, 20), true, "WWWW");
    a.GiveFocus();
    backend.Click(*surface, 11, 50);
    Run();
    EXPECT_TRUE(b.HasFocus());
    EXPECT_EQ(b.GetSelectionStart(), 0);
    backend.Pause(std::chrono::seconds(1));
    backend.Drag(*surface, {11, 50}, {150, 50}, 3);
    Run();
    EXPECT_EQ(b.GetSelectionStart(), 0);
    EXPECT_EQ(b.GetSelectionEnd(), 4);
    backend.Type(*surface, "z");
    Run();
    EXPECT_EQ(Text(b), "z");
    EXPECT_EQ(Text(a), "left");
}

TEST_F(TextControlTest, AFieldWhoseParentDiedFirstIsFreedSafely)
{
    auto dialog = std::make_unique<RecordingWindow>();
    dialog->CreateChildWindow(page.get(), 100, 100, 0, 0);
    auto field = std::make_unique<TextControl>();
    field->Create(dialog.get(), GRectangle(5, 5, 80, 20), true, "name");
    field->GiveFocus();
    dialog.reset();
    backend.Type(*surface, "x"); // the field has left the surface: nobody takes it
    Run();
    EXPECT_EQ(Text(*field), "name");
    field.reset();
    Run();
}
} // namespace
