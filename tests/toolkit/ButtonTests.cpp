#include "TestImages.h"
#include "ToolkitTestSupport.h"
#include "framework/Paths.h"
#include "toolkit/CustomButton.h"

namespace
{
struct Listener : ButtonListener, EventHandler
{
    std::vector<std::string>* log;
    std::function<void(int)> onPress;
    void ButtonPressed(int id) override
    {
        log->push_back("pressed " + std::to_string(id));
        if (onPress) onPress(id);
    }
    void Clicked() { log->push_back("click event"); }
};

class HookedButton : public CustomButton
{
public:
    std::vector<std::string>* log = nullptr;
    void ButtonClicked() override { log->push_back("ButtonClicked"); }
};

class ButtonTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        RegisterTestImages();
        SetImagePath("/torvane-test-images/");
        page = MakeRoot(200, 200, 0, 0);
        up.LoadFromFile(MakeImagePath("TestUpright.png"));
        listener.log = &log;
        button = std::make_unique<HookedButton>();
        button->log = &log;
        button->Create(page.get(), 7, &listener, 10, 10, &up, nullptr);
        button->clickEvent.AddHandler(&listener, &Listener::Clicked);
        Run();
    }

    std::vector<std::string> log;
    Listener listener;
    std::unique_ptr<RecordingWindow> page;
    Image up;
    std::unique_ptr<HookedButton> button;
};

TEST_F(ButtonTest, TakesTheSizeOfItsUpImageAndDrawsItPressedWithoutADownImage)
{
    EXPECT_EQ(button->GetWindowWidth(), 20);
    EXPECT_EQ(button->GetWindowHeight(), 10);
    EXPECT_PIXEL(Probe(12, 11), 255, 0, 0);
    backend.Press(*surface, 12, 12);
    backend.MoveTo(*surface, 12, 12); // a turn of the tracking loop paints
    backend.Then(
        [&]
        {
            EXPECT_TRUE(button->IsPressed());
            EXPECT_TRUE(button->IsMouseCaptured());
            EXPECT_PIXEL(Probe(12, 11), 255, 0, 0);
            EXPECT_PIXEL(Probe(12, 18), 0, 0, 255);
        });
    backend.Release(*surface, 12, 12);
    Run();
    EXPECT_FALSE(button->IsMouseCaptured());
    EXPECT_EQ(log, (std::vector<std::string>{"ButtonClicked", "pressed 7", "click event"}));
}

TEST_F(ButtonTest, AReleaseOutsideCancelsButStillCallsButtonClicked)
{
    struct Case
    {
        int x, y;
        bool clicked;
    };
    // Button at (10, 10), 20 x 10: its right edge is x 30, its bottom edge y 20.
    for (Case c : {Case{30, 12, false}, Case{29, 19, true}, Case{12, 20, false}, Case{9, 12, false},
                   Case{10, 10, true}})
    {
        log.clear();
        backend.Press(*surface, 15, 15);
        backend.Release(*surface, c.x, c.y);
        backend.Pause(std::chrono::seconds(1));
        Run();
        std::vector<std::string> expected{"ButtonClicked"};
        if (c.clicked) expected.insert(expected.end(), {"pressed 7", "click event"});
        EXPECT_EQ(log, expected) << c.x << "," << c.y;
        EXPECT_FALSE(button->IsPressed());
    }
    EXPECT_PIXEL(Probe(12, 18), 0, 0, 255); // raised again
}

TEST_F(ButtonTest, ADoubleClickReportsTwoPresses)
{
    backend.DoubleClick(*surface, 15, 15);
    Run();
    EXPECT_EQ(log, (std::vector<std::string>{"ButtonClicked", "pressed 7", "click event", "ButtonClicked",
                                             "pressed 7", "click event"}));
}

TEST_F(ButtonTest, WithoutAListenerTheClickEventStillFires)
{
    button->SetListener(nullptr);
    backend.Click(*surface, 15, 15);
    Run();
    EXPECT_EQ(log, (std::vector<std::string>{"ButtonClicked", "click event"}));
}

TEST_F(ButtonTest, AListenerThatDestroysTheButtonEndsTheRelease)
{
    listener.onPress = [this](int) { button.reset(); };
    backend.Click(*surface, 15, 15);
    Run();
    EXPECT_EQ(log, (std::vector<std::string>{"ButtonClicked", "pressed 7"}));
    EXPECT_EQ(page->GetChildren().size(), 0u);

    // The same from the second click of a double click.
    button = std::make_unique<HookedButton>();
    button->log = &log;
    button->Create(page.get(), 8, &listener, 10, 10, &up, &up);
    log.clear();
    int presses = 0;
    listener.onPress = [&](int)
    {
        if (++presses == 2) button.reset();
    };
    backend.Pause(std::chrono::seconds(1));
    backend.DoubleClick(*surface, 15, 15);
    Run();
    EXPECT_EQ(log, (std::vector<std::string>{"ButtonClicked", "pressed 8", "ButtonClicked", "pressed 8"}));
}

TEST_F(ButtonTest, ImagesFromPathsResourcesAndSharedPointers)
{
    CustomButton fromPaths;
    fromPaths.Create(page.get(), 1, nullptr, 100, 100, MakeImagePath("TestUpright.png"),
                     MakeImagePath("TestUpright.png"));
    EXPECT_EQ(fromPaths.GetWindowWidth(), 20);
    CustomButton missing;
    EXPECT_THROW(
        missing.Create(page.get(), 2, nullptr, 0, 0, MakeImagePath("TestUpright.png"), "/no/Down.png"),
        String);
    ImageResource upResource{0, "TestUpright", "png", nullptr};
    CustomButton fromResources;
    fromResources.Create(page.get(), 3, nullptr, 100, 150, &upResource, nullptr);
    EXPECT_EQ(fromResources.GetWindowHeight(), 10);
    auto shared = std::make_shared<Image>();
    shared->LoadFromFile(MakeImagePath("TestUpright.png"));
    {
        CustomButton a, b;
        a.Create(page.get(), 4, nullptr, 0, 100, shared, nullptr);
        b.Create(page.get(), 5, nullptr, 0, 120, shared, shared);
        EXPECT_EQ(shared.use_count(), 4);
        Run();
        EXPECT_PIXEL(Probe(1, 101), 255, 0, 0);
    }
    EXPECT_EQ(shared.use_count(), 1);
}

TEST_F(ButtonTest, SimpleTextButtonDrawsItsTextOnItsBackgroundAndBoundsIt)
{
    SimpleTextButton text;
    text.Create(page.get(), 9, &listener, 50, 50, 60, 14, "Save", Colour(0, 0, 128, 255));
    Run();
    EXPECT_PIXEL(Probe(51, 63), 0, 0, 128);
    auto drawn = backend.FindStrings("Save");
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_DOUBLE_EQ(drawn[0].x, 52);
    EXPECT_DOUBLE_EQ(drawn[0].y, 58);
    backend.Click(*surface, 55, 55);
    Run();
    EXPECT_EQ(log, (std::vector<std::string>{"pressed 9"}));

    std::string longText(300, 'x');
    text.SetText(longText.c_str());
    EXPECT_EQ(std::string(text.GetText()), std::string(255, 'x'));
    std::string accents;
    for (int i = 0; i < 150; ++i)
        accents += "\xc3\xa9";
    text.SetText(accents.c_str());
    EXPECT_EQ(std::string(text.GetText()).size(), 254u); // not cut inside a character
}
} // namespace
