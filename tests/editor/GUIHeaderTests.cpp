// The editor root on a real instrument: opening, the header's tabs and pictures, missing pictures,
// the page switch, the about splash and help.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "EditorTestSupport.h"
#include "editor/Layout.h"
#include "editor/TSplash.h"
#include "platform/gfx/Surface.h"
#include "support/RecordingMessageSink.h"

namespace fs = std::filesystem;
namespace root = layout::root;

namespace
{
// Points where the three backgrounds differ: inside each tab (one of them lit) and on the page.
constexpr layout::Point kProbes[] = {{150, 20}, {220, 20}, {290, 20}, {400, 300}, {100, 400}};

class HeaderTest : public GUITest
{
public:
    // True when every probe shows the background of that file.
    ::testing::AssertionResult ShowsBackground(char const* file)
    {
        Image background;
        background.LoadFromFile(MakeImagePath(file));
        for (layout::Point p : kProbes)
        {
            gfx::Pixel const want = ImagePixel(background, p.x, p.y);
            gfx::Pixel const got = Probe(p.x, p.y);
            if (!Near(got, want.r, want.g, want.b, 3))
                return ::testing::AssertionFailure() << file << " at (" << p.x << "," << p.y
                                                     << "): " << Describe(got) << " not " << Describe(want);
        }
        return ::testing::AssertionSuccess();
    }

    std::vector<std::string> log; // of the probe pages, which may outlive a test's body
};

// A page that records its life and can ask for another page from its own handler.
class ProbePage : public TSubEditor
{
public:
    ProbePage(GUI& g, std::vector<std::string>& l, int m) : gui(g), log(l), mode(m) {}
    ~ProbePage() override { log.push_back("gone " + std::to_string(mode)); }
    void UpdateAll() override { log.push_back("update " + std::to_string(mode)); }
    void ForceRepaint() override
    {
        log.push_back("repaint " + std::to_string(mode));
        TSubEditor::ForceRepaint();
    }
    void LButtonDown(long, long) override
    {
        gui.SetEditMode(switchTo);
        // The handler goes on, in a nested loop too, with its page alive.
        gfx::RunLoop::RunFor(std::chrono::milliseconds(30));
        log.push_back("handler done " + std::to_string(mode));
    }

    GUI& gui;
    std::vector<std::string>& log;
    int mode;
    int switchTo = GUI::kPerformMode;
};
} // namespace

TEST_F(HeaderTest, ConstructingLoadsNothingAndTouchesNoDisplay)
{
    std::size_t const surfaces = gfx::Surface::All().size();
    RecordingMessageSink messages;
    ScopedMissingEditorImage hidden("TorvaneBackground.png"); // a load would fail loudly
    {
        GUI gui(EditorHandleOf(&Synth()));
        long w = 0, h = 0;
        gui.GetDimensions(w, h);
        EXPECT_EQ(w, 767);
        EXPECT_EQ(h, 638);
        EXPECT_EQ(gui.GetView(), nullptr);
        EXPECT_EQ(gui.GetTorvane(), nullptr);
        EXPECT_EQ(gui.GetEditMode(), GUI::kNoMode);
        EXPECT_FALSE(Synth().HasGUI());
    }
    EXPECT_EQ(gfx::Surface::All().size(), surfaces);
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(HeaderTest, OpensAttachedWithoutAlertAndEachTabShowsItsBackground)
{
    RecordingMessageSink messages;
    ASSERT_TRUE(Synth().SavePatch("Pads", "Warm"));
    TestGUI& g = OpenEditor();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_TRUE(g.IsAttached());
    EXPECT_EQ(Synth().GetGUI(), static_cast<PluginEditor*>(&g));
    EXPECT_EQ(g.GetTorvane(), &Synth());
    EXPECT_EQ(g.GetName(), "GUI");
    EXPECT_EQ(g.GetEditMode(), GUI::kSynthMode);
    EXPECT_EQ(g.pagesMade, std::vector<int>{GUI::kSynthMode});
    EXPECT_STREQ(g.GetPatchNameLabel().GetLabel(), "Warm(User)");
    EXPECT_TRUE(ShowsBackground("TorvaneBackground.png"));
    EXPECT_FALSE(backend.FindStrings("Warm(User)").empty());

    ClickAt(root::kPerformTab.TopLeft());
    EXPECT_EQ(g.GetEditMode(), GUI::kPerformMode);
    EXPECT_TRUE(ShowsBackground("PerformBackground.png"));
    ClickAt(root::kPresetTab.TopLeft());
    EXPECT_EQ(g.GetEditMode(), GUI::kPresetMode);
    EXPECT_TRUE(ShowsBackground("PresetBackground.png"));
    ClickAt(root::kSynthTab.TopLeft());
    EXPECT_EQ(g.GetEditMode(), GUI::kSynthMode);
    EXPECT_TRUE(ShowsBackground("TorvaneBackground.png"));
    EXPECT_EQ(g.pagesMade, (std::vector<int>{0, 1, 2, 0}));
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(HeaderTest, ThePressOfTheShownTabRebuildsNothingAndASwitchBuildsAFreshPage)
{
    gui = std::make_unique<TestGUI>(EditorHandleOf(&Synth()));
    gui->makePage = [&](int mode)
    {
        auto page = std::make_unique<ProbePage>(*gui, log, mode);
        page->CreateChildWindow(gui.get(), 767, 100, 0, 300);
        return page;
    };
    gui->CreateUI(surface.get(), 0, 0);
    Run();
    TSubEditor* const first = gui->GetPage();
    ASSERT_NE(first, nullptr);
    ClickAt(root::kSynthTab.TopLeft());
    backend.DoubleClick(*surface, root::kSynthTab.x + 5, root::kSynthTab.y + 5);
    Run();
    EXPECT_EQ(gui->GetPage(), first);
    EXPECT_EQ(gui->pagesMade, std::vector<int>{0});
    EXPECT_TRUE(log.empty());

    // The instrument's calls reach the page of the mode shown.
    gui->UpdateAll();
    gui->PatchLoaded();
    ClickAt(root::kPerformTab.TopLeft());
    gui->PatchLoaded();
    ClickAt(root::kPresetTab.TopLeft());
    gui->PatchLoaded();
    EXPECT_EQ(
        log, (std::vector<std::string>{"update 0", "update 0", "gone 0", "repaint 1", "gone 1", "update 2"}));
}

TEST_F(HeaderTest, APageThatAsksForASwitchInItsOwnHandlerLivesUntilTheHandlerHasReturned)
{
    gui = std::make_unique<TestGUI>(EditorHandleOf(&Synth()));
    gui->makePage = [&](int mode)
    {
        auto page = std::make_unique<ProbePage>(*gui, log, mode);
        page->CreateChildWindow(gui.get(), 767, 100, 0, 300);
        return page;
    };
    gui->CreateUI(surface.get(), 0, 0);
    Run();
    static_cast<ProbePage*>(gui->GetPage())->switchTo = GUI::kPresetMode;
    backend.Click(*surface, 100, 350);
    backend.Then([&] { EXPECT_EQ(gui->GetEditMode(), GUI::kSynthMode); });
    Run();
    EXPECT_EQ(gui->GetEditMode(), GUI::kPresetMode);
    EXPECT_EQ(log, (std::vector<std::string>{"handler done 0", "gone 0"}));
    EXPECT_EQ(gui->pagesMade, (std::vector<int>{0, 2}));
    CloseEditor();
}

TEST_F(HeaderTest, AMissingButtonPictureIsShownWithItsPathAndTheRestIsBuilt)
{
    RecordingMessageSink messages;
    ScopedMissingEditorImage hidden("FileButUp.png");
    TestGUI& g = OpenEditor();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].caption, "Torvane Error in TButton::Create");
    EXPECT_NE(messages.Messages()[0].text.find(ImagePath("FileButUp.png")), std::string::npos);
    EXPECT_EQ(g.GetEditMode(), GUI::kSynthMode);
    EXPECT_NE(g.GetPatchNameLabel().GetView(), nullptr);
    EXPECT_TRUE(ShowsBackground("TorvaneBackground.png"));
    ClickAt(root::kPerformTab.TopLeft());
    EXPECT_EQ(g.GetEditMode(), GUI::kPerformMode);
}

TEST_F(HeaderTest, AMissingBackgroundGivesOneAlertAndLeavesTheEditorSafe)
{
    RecordingMessageSink messages;
    ScopedMissingEditorImage hidden("TorvaneBackground.png");
    TestGUI& g = OpenEditor();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].caption, "");
    EXPECT_NE(messages.Messages()[0].text.find(ImagePath("TorvaneBackground.png")), std::string::npos);
    EXPECT_EQ(g.GetEditMode(), GUI::kNoMode);
    EXPECT_EQ(g.GetPage(), nullptr);
    EXPECT_TRUE(g.IsAttached());

    // Requests of the instrument, header commands and the calls of the pages stay harmless.
    Synth().PostEditorRequests(~0u);
    g.ProcessNotificationQueue();
    g.PatchLoaded();
    g.UpdatePatchName();
    g.UpdateWaveDisplays();
    g.UpdateVoiceToggles();
    for (int id = GUI::kSynthTabId; id <= GUI::kPresetTabId; ++id)
        g.ButtonPressed(id);
    Run();
    EXPECT_EQ(messages.Messages().size(), 1u);
    CloseEditor();
    EXPECT_FALSE(Synth().HasGUI());
}

TEST_F(HeaderTest, WithoutAnInstrumentEveryCommandIsSafe)
{
    RecordingMessageSink messages(true);
    ScriptedMenu menu("Reset Patch");
    TestGUI& g = OpenEditor(false);
    EXPECT_FALSE(g.IsAttached());
    EXPECT_EQ(g.GetTorvane(), nullptr);
    EXPECT_STREQ(g.GetPatchNameLabel().GetLabel(), "");
    for (int id : {GUI::kPreviousPatchId, GUI::kNextPatchId, GUI::kFileMenuId, GUI::kPerformTabId})
        g.ButtonPressed(id);
    menu.wanted = "Save";
    g.OpenFileMenu();
    g.PatchLoaded();
    g.UpdatePatchName();
    Run();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(g.GetEditMode(), GUI::kPerformMode);
}

// ---------------------------------------------------------------------------------------------
// The about splash

TEST_F(HeaderTest, SplashFadesInIgnoringClicksThenFadesOutOnAClickAndIsReleasedAfterIt)
{
    TestGUI& g = OpenEditor();
    backend.ClearStrings();
    ClickAt(root::kAboutButton);
    TSplash* const splash = g.GetSplash();
    ASSERT_NE(splash, nullptr);
    EXPECT_TRUE(splash->IsFadedIn());
    EXPECT_FLOAT_EQ(splash->GetAlpha(), 1.0f);
    EXPECT_FALSE(backend.FindStrings("v1.02").empty());
    // The layer darkens the header: the about button's pixel is darker under the splash.
    EXPECT_EQ(splash->GetWindowWidth(), 767);
    EXPECT_EQ(splash->GetWindowHeight(), 638);

    // A click while it fades out is ignored; it goes once the click has been handled.
    backend.Click(*surface, 400, 400);
    backend.Then(
        [&]
        {
            ASSERT_NE(g.GetSplash(), nullptr);
            EXPECT_TRUE(g.GetSplash()->IsClosing());
        });
    backend.Click(*surface, 400, 400);
    Run();
    EXPECT_EQ(g.GetSplash(), nullptr);

    // The header works again.
    ClickAt(root::kPerformTab.TopLeft());
    EXPECT_EQ(g.GetEditMode(), GUI::kPerformMode);
}

TEST_F(HeaderTest, ClicksWhileTheSplashFadesInAreIgnored)
{
    TestGUI& g = OpenEditor();
    backend.SetStep(std::chrono::milliseconds(20));
    backend.Click(*surface, root::kAboutButton.x + 5, root::kAboutButton.y + 5);
    backend.Then(
        [&]
        {
            // The splash is being built: it fades in.
            auto* building = dynamic_cast<TSplash*>(g.GetChildren().back());
            ASSERT_NE(building, nullptr);
            EXPECT_FALSE(building->IsFadedIn());
            EXPECT_LT(building->GetAlpha(), 1.0f);
        });
    backend.Click(*surface, 400, 400);
    backend.Click(*surface, 300, 300);
    Run();
    ASSERT_NE(g.GetSplash(), nullptr);
    EXPECT_TRUE(g.GetSplash()->IsFadedIn());
    EXPECT_FALSE(g.GetSplash()->IsClosing());
    EXPECT_FLOAT_EQ(g.GetSplash()->GetAlpha(), 1.0f);
    backend.Click(*surface, 400, 400);
    Run();
    EXPECT_EQ(g.GetSplash(), nullptr);
}

TEST_F(HeaderTest, ASplashStillShownGoesWithTheEditorAndAMissingPictureShowsNothing)
{
    OpenEditor();
    ClickAt(root::kAboutButton);
    ASSERT_NE(gui->GetSplash(), nullptr);
    CloseEditor(); // the leak checker sees the rest

    RecordingMessageSink messages;
    ScopedMissingEditorImage hidden("TorvaneSplash.png");
    TestGUI& g = OpenEditor();
    ClickAt(root::kAboutButton);
    EXPECT_EQ(g.GetSplash(), nullptr);
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(HeaderTest, TheSplashStopsFadingOnceTheEditorIsAbandoned)
{
    // The host's window went, or another thread closes the editor, while the splash fades: the
    // fade gives up at once instead of waiting for turns that no longer come.
    struct Case
    {
        char const* name;
        bool fadingOut;
    };
    for (Case c : {Case{"while it fades in", false}, Case{"while it fades out", true}})
    {
        SCOPED_TRACE(c.name);
        TestGUI& g = OpenEditor();
        if (c.fadingOut)
        {
            ClickAt(root::kAboutButton);
            ASSERT_NE(g.GetSplash(), nullptr);
            backend.Click(*surface, 400, 400);
        }
        else
            backend.Click(*surface, root::kAboutButton.x + 5, root::kAboutButton.y + 5);
        gfx::TimePoint abandonedAt{};
        backend.Pause(std::chrono::milliseconds(60));
        backend.Then(
            [&]
            {
                abandonedAt = backend.Now();
                gfx::RunLoop::AbandonNested();
            });
        Run();
        EXPECT_TRUE(gfx::RunLoop::Abandoned());
        EXPECT_LE(backend.Now() - abandonedAt, std::chrono::milliseconds(100));
        if (c.fadingOut)
        {
            EXPECT_EQ(g.GetSplash(), nullptr);
        }
        CloseEditor();
        gfx::RunLoop::ResumeNested();
    }
}

// ---------------------------------------------------------------------------------------------
// Help

TEST_F(HeaderTest, AMissingManualIsReportedWithItsFullPathAfterTwoLineBreaks)
{
    RecordingMessageSink messages;
    TestGUI& g = OpenEditor();
    ClickAt(root::kHelpButton);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Could not find the help file in the expected place:\n\n" +
                                               home.Path() +
                                               "/Corvella Audio/Torvane/Torvane 1.0 User Manual.pdf");
    EXPECT_EQ(messages.Messages()[0].caption, "");
    (void)g;
}

TEST_F(HeaderTest, APresentManualIsHandedToTheOpenerWithoutWaitingForTheViewer)
{
    std::string const manual = home.RootFolder() + "Torvane 1.0 User Manual.pdf";
    fs::create_directories(home.RootFolder());
    std::ofstream(manual) << "%PDF";
    // An opener that records its argument, then keeps running as a viewer would.
    std::string const bin = home.Path() + "/bin";
    std::string const marker = home.Path() + "/opened";
    fs::create_directories(bin);
    {
        std::ofstream opener(bin + "/xdg-open");
        opener << "#!/bin/sh\nprintf '%s' \"$1\" > '" << marker << ".tmp'\nmv '" << marker << ".tmp' '"
               << marker << "'\n"
               << "i=0; while [ ! -e '" << marker
               << ".done' ] && [ $i -lt 1200 ]; do sleep 0.1; i=$((i+1)); done\n";
    }
    fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
    std::string const oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);

    RecordingMessageSink messages;
    TestGUI& g = OpenEditor();
    auto const start = std::chrono::steady_clock::now();
    g.ButtonPressed(GUI::kHelpId);
    auto const took = std::chrono::steady_clock::now() - start;
    setenv("PATH", oldPath.c_str(), 1);
    // The opener runs until the test lets it end (or two minutes pass): a press that waited for it
    // would take those minutes, which no busy machine takes for the press itself.
    EXPECT_LT(took, std::chrono::seconds(60));
    EXPECT_TRUE(messages.Messages().empty());
    for (int i = 0; i < 3000 && !fs::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream in(marker);
    std::string opened((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(opened, manual);
    std::ofstream(marker + ".done") << "";
}
