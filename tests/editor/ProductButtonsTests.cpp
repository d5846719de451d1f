#include <string>
#include <vector>

#include "EditorTestSupport.h"
#include "editor/CloseBut.h"
#include "editor/TButton.h"
#include "editor/TSubEditor.h"
#include "support/RecordingMessageSink.h"

namespace
{
struct Presses : ButtonListener
{
    std::vector<int> ids;
    void ButtonPressed(int id) override { ids.push_back(id); }
};

class ProductButtonTest : public EditorTest
{
public:
    void SetUp() override
    {
        EditorTest::SetUp();
        page = MakeRoot(767, 638, 0, 0);
        page->paint = [](GraphicsContext& gc)
        { gc.SetPenColour(90, 90, 90, 1, 255), gc.DrawFilledRect(0, 0, 767, 638); };
    }

    Presses listener;
    std::unique_ptr<RecordingWindow> page;
};
} // namespace

TEST_F(ProductButtonTest, TButtonTakesItsUpPictureSizeShowsBothStatesAndReportsTheClick)
{
    TButton file;
    file.Create(page.get(), 7, &listener, 77, 4, "FileButUp.png", "FileButDown.png");
    Image up;
    up.LoadFromFile(MakeImagePath("FileButUp.png"));
    EXPECT_EQ(file.GetWindowWidth(), up.GetWidth());
    EXPECT_EQ(file.GetWindowHeight(), up.GetHeight());
    Run();
    gfx::Pixel const raised = Probe(77 + 19, 4 + 15);
    backend.Press(*surface, 77 + 19, 4 + 15);
    backend.MoveTo(*surface, 77 + 19, 4 + 15);
    gfx::Pixel pressed;
    backend.Then([&] { pressed = Probe(77 + 19, 4 + 15); });
    backend.Release(*surface, 77 + 19, 4 + 15);
    Run();
    EXPECT_FALSE(Near(raised, pressed.r, pressed.g, pressed.b, 6)) << Describe(raised) << Describe(pressed);
    EXPECT_EQ(listener.ids, std::vector<int>{7});
}

TEST_F(ProductButtonTest, TButtonWithAMissingPictureShowsItsFullPathAndIsNotCreated)
{
    for (char const* missing : {"FileButUp.png", "FileButDown.png"})
    {
        RecordingMessageSink messages;
        ScopedMissingEditorImage hidden(missing);
        TButton file;
        file.Create(page.get(), 7, &listener, 77, 4, "FileButUp.png", "FileButDown.png");
        ASSERT_EQ(messages.Messages().size(), 1u) << missing;
        EXPECT_EQ(messages.Messages()[0].caption, "Torvane Error in TButton::Create");
        EXPECT_NE(messages.Messages()[0].text.find(ImagePath(missing)), std::string::npos)
            << messages.Messages()[0].text;
        EXPECT_EQ(file.GetView(), nullptr);
        // The page goes on: a sibling built after it works.
        TButton next;
        next.Create(page.get(), 6, &listener, 516, 6, "PresetNextButUp.png", "PresetNextButDown.png");
        EXPECT_NE(next.GetView(), nullptr);
        EXPECT_EQ(messages.Messages().size(), 1u);
    }
}

TEST_F(ProductButtonTest, TransparentZoneReportsOnThePressTwiceForADoubleClickAndNothingWithoutAListener)
{
    TTransparentBut zone;
    zone.Create(page.get(), 3, &listener, GRectangle(255, 4, 70, 30));
    TTransparentBut deaf;
    deaf.Create(page.get(), 9, nullptr, GRectangle(10, 100, 20, 20));
    Run();

    backend.Press(*surface, 260, 10);
    backend.Then([&] { EXPECT_EQ(listener.ids, std::vector<int>{3}); }); // before the release
    backend.Release(*surface, 260, 10);
    Run();
    EXPECT_EQ(listener.ids, std::vector<int>{3});

    listener.ids.clear();
    backend.DoubleClick(*surface, 300, 20);
    Run();
    EXPECT_EQ(listener.ids, (std::vector<int>{3, 3}));

    listener.ids.clear();
    backend.Click(*surface, 15, 105);
    backend.DoubleClick(*surface, 15, 105);
    Run();
    EXPECT_TRUE(listener.ids.empty());
}

TEST_F(ProductButtonTest, TransparentZoneDrawsNothingUnlessItsBoundsAreShown)
{
    TTransparentBut zone;
    zone.Create(page.get(), 3, &listener, GRectangle(20, 20, 40, 30));
    Run();
    EXPECT_PIXEL(Probe(30, 30), 90, 90, 90);
    zone.ShowBounds(true);
    Run();
    EXPECT_PIXEL(Probe(30, 30), 0, 0, 0);
    EXPECT_PIXEL(Probe(70, 30), 90, 90, 90);
    zone.ShowBounds(false);
    Run();
    EXPECT_PIXEL(Probe(30, 30), 90, 90, 90);
}

TEST_F(ProductButtonTest, CloseBoxTakesPositionBeforeIdDrawsItsPicturesAndPassesAMissingOneOn)
{
    CloseBut close;
    close.Create(page.get(), 40, 50, 4, &listener);
    EXPECT_EQ(close.GetWindowX(), 40);
    EXPECT_EQ(close.GetWindowY(), 50);
    EXPECT_EQ(close.GetWindowWidth(), 15);
    EXPECT_EQ(close.GetWindowHeight(), 15);
    Run();
    gfx::Pixel const raised = Probe(47, 57);
    backend.Press(*surface, 47, 57);
    backend.MoveTo(*surface, 47, 57);
    gfx::Pixel pressed;
    backend.Then([&] { pressed = Probe(47, 57); });
    backend.Release(*surface, 47, 57);
    Run();
    EXPECT_FALSE(Near(raised, pressed.r, pressed.g, pressed.b, 6)) << Describe(raised) << Describe(pressed);
    EXPECT_EQ(listener.ids, std::vector<int>{4});

    RecordingMessageSink messages;
    ScopedMissingEditorImage hidden("CloseSmallBut Down.png");
    CloseBut broken;
    EXPECT_THROW(broken.Create(page.get(), 40, 80, 5, &listener), String);
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(ProductButtonTest, APageIsDeletedThroughItsBase)
{
    struct Page : TSubEditor
    {
        int* updates;
        bool* gone;
        Page(int* u, bool* g) : updates(u), gone(g) {}
        ~Page() override { *gone = true; }
        void UpdateAll() override { ++*updates; }
    };
    int updates = 0;
    bool gone = false;
    std::unique_ptr<TSubEditor> page(new Page(&updates, &gone));
    page->CreateChildWindow(this->page.get(), 100, 100, 0, 50);
    page->UpdateAll();
    page.reset();
    EXPECT_EQ(updates, 1);
    EXPECT_TRUE(gone);
    EXPECT_TRUE(this->page->GetChildren().empty());
}
