#include "ToolkitTestSupport.h"
#include "framework/MidiLearn.h"
#include "framework/Parameter.h"
#include "framework/Timers.h"
#include "platform/CascadeList.h"
#include "platform/Strand.h"
#include "platform/gfx/Text.h"
#include "toolkit/PopupMenu.h"

namespace
{
// Rows of a level start 2 pixels down and are 18 high; separators are 7.
int RowY(int row, int separatorsAbove = 0)
{
    return 2 + 18 * row + 7 * separatorsAbove + 9;
}

class PopupMenuTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        page = MakeRoot(200, 200, 0, 0);
        surface->Move(300, 200);
        file = list.AddItem("File", 10, nullptr, false);
        presets = list.AddSubList("Presets", 20, nullptr, false);
        pad = presets->subList->AddItem("Pad", 21, nullptr, false);
        lead = presets->subList->AddItem("Lead", 22, nullptr, false);
        list.AddSeparator();
        quit = list.AddItem("Quit", 30, nullptr, false);
    }

    // The open popup surfaces, outermost first.
    std::vector<gfx::Surface*> Levels()
    {
        std::vector<gfx::Surface*> levels;
        for (gfx::Surface* s : gfx::Surface::All())
            if (s->Kind() == gfx::SurfaceKind::Popup) levels.push_back(s);
        return levels;
    }
    void At(std::size_t level, std::function<void(gfx::Surface&)> step)
    {
        backend.Then(
            [this, level, step]
            {
                auto levels = Levels();
                ASSERT_GT(levels.size(), level);
                step(*levels[level]);
            });
    }

    std::unique_ptr<RecordingWindow> page;
    CascadeList list;
    CascadeList::Item *file, *presets, *pad, *lead, *quit;
};

TEST_F(PopupMenuTest, HoveringOpensASubListWhoseEntryIsChosen)
{
    At(0,
       [this](gfx::Surface& s)
       {
           EXPECT_EQ(s.ScreenOrigin().x, 310);
           EXPECT_EQ(s.ScreenOrigin().y, 220);
           EXPECT_EQ(s.Owner(), surface.get());
           backend.MoveTo(s, 20, RowY(1));
       });
    At(1,
       [this](gfx::Surface& s)
       {
           EXPECT_EQ(s.Owner(), Levels()[0]);
           backend.Click(s, 20, RowY(1));
       });
    CascadeList::Item* chosen = list.DoPopup(page.get(), 10, 20);
    ASSERT_EQ(chosen, lead);
    EXPECT_EQ(chosen->parent, presets->subList);
    EXPECT_EQ(chosen->parent->GetParentItem(), presets);
    EXPECT_EQ(presets->parent, &list);
    EXPECT_EQ(list.GetParentItem(), nullptr);
    EXPECT_TRUE(Levels().empty());
    EXPECT_EQ(backend.grabs, 0);
    EXPECT_EQ(backend.FindStrings("Pad").size(), 1u);
}

TEST_F(PopupMenuTest, ClicksBelowASeparatorAndDragsToAnEntryChoose)
{
    At(0, [this](gfx::Surface& s) { backend.Click(s, 20, RowY(2, 1)); });
    EXPECT_EQ(list.DoPopup(page.get(), 10, 20), quit);

    // A right press opens the menu; the release over an entry after a move chooses it.
    page->after = [this](std::string const& what)
    {
        if (what == "RButtonDown")
        {
            EXPECT_EQ(list.DoPopup(page.get(), 50, 50), file);
        }
    };
    backend.Press(*surface, 50, 50, gfx::kButtonRight);
    At(0,
       [this](gfx::Surface& s)
       {
           backend.MoveTo(s, 20, RowY(0));
           backend.Release(s, 20, RowY(0), gfx::kButtonRight);
       });
    Run();
    // The menu took the release: tracking ends at once, at the release point (in the menu).
    EXPECT_EQ(page->Calls(),
              (std::vector<std::string>{"RButtonDown(50,50)", "MouseMoved(70,61)", "RButtonUp(70,61)"}));
}

TEST_F(PopupMenuTest, EscapeAClickOutsideAndARefusedGrabDismiss)
{
    struct Case
    {
        char const* what;
        std::function<void(PopupMenuTest&)> script;
    };
    const Case cases[] = {
        {"escape",
         [](PopupMenuTest& t) { t.At(0, [&t](gfx::Surface&) { t.backend.Key(gfx::kKeyEscape); }); }},
        {"outside",
         [](PopupMenuTest& t) { t.backend.Then([&t] { t.backend.Click(*t.surface, 150, 150); }); }},
        {"separator then outside",
         [](PopupMenuTest& t)
         {
             t.At(0,
                  [&t](gfx::Surface& s)
                  {
                      t.backend.Click(s, 20, 2 + 36 + 3); // the separator chooses nothing
                      t.backend.Click(*t.surface, 150, 150);
                  });
         }},
    };
    for (Case const& c : cases)
    {
        c.script(*this);
        EXPECT_EQ(list.DoPopup(page.get(), 10, 20), nullptr) << c.what;
        EXPECT_TRUE(Levels().empty());
        backend.Pause(std::chrono::seconds(1));
    }
    EXPECT_TRUE(page->Calls().empty()); // the click outside only closed the menu
    backend.refuseGrabs = true;
    EXPECT_EQ(list.DoPopup(page.get(), 10, 20), nullptr);
    EXPECT_TRUE(Levels().empty());
}

TEST_F(PopupMenuTest, AListClearedWhileOpenGivesNull)
{
    struct Clearer : TimerListener
    {
        CascadeList* list;
        void TimerEvent(int id) override
        {
            StopTimer(id);
            list->Clear();
            list->AddItem("File", 10, nullptr, false); // rebuilt at once
        }
    } clearer;
    clearer.list = &list;
    At(0,
       [&](gfx::Surface& s)
       {
           backend.MoveTo(s, 20, RowY(1)); // the sub-list is open when the list goes
           clearer.StartTimer(1, 20);
           backend.Pause(std::chrono::milliseconds(100));
           backend.Click(s, 20, RowY(0));
       });
    EXPECT_EQ(list.DoPopup(page.get(), 10, 20), nullptr);
    EXPECT_TRUE(Levels().empty());
}

TEST_F(PopupMenuTest, LevelsStayOnTheScreenAndNullWindowsMeanScreenPoints)
{
    backend.screen = gfx::Rect{0, 0, 1024, 768};
    At(0,
       [this](gfx::Surface& s)
       {
           gfx::Point o = s.ScreenOrigin();
           EXPECT_LE(o.x + s.Width(), 1024);
           EXPECT_LE(o.y + s.Height(), 768);
           EXPECT_EQ(o.x + s.Width(), 1020); // flipped left of the point
           backend.MoveTo(s, 20, RowY(1));
       });
    At(1,
       [this](gfx::Surface& s)
       {
           gfx::Point o = s.ScreenOrigin();
           EXPECT_EQ(o.x + s.Width(), Levels()[0]->ScreenOrigin().x); // to the left of its parent
           EXPECT_LE(o.y + s.Height(), 768);
           backend.Key(gfx::kKeyEscape);
       });
    EXPECT_EQ(list.DoPopup(nullptr, 1020, 760), nullptr);
}

TEST_F(PopupMenuTest, ALongListScrollsAndKeysChoose)
{
    CascadeList many;
    std::vector<CascadeList::Item*> items;
    for (int i = 0; i < 300; ++i)
        items.push_back(many.AddItem(("Entry " + std::to_string(i)).c_str(), i, nullptr, false));
    At(0,
       [this](gfx::Surface& s)
       {
           EXPECT_EQ(s.Height(), 768);
           for (int i = 0; i < 300; ++i)
               backend.Key(gfx::kKeyDown);
           backend.Key(gfx::kKeyReturn);
       });
    EXPECT_EQ(many.DoPopup(nullptr, 0, 0), items[299]);
    EXPECT_FALSE(backend.FindStrings("Entry 299").empty()); // scrolled into view
}

TEST_F(PopupMenuTest, TheMidiLearnMenuRunsThroughTheRealMenu)
{
    MidiLearnManager manager;
    Parameter cutoff;
    cutoff.Create("Cutoff", nullptr, Parameter::Global, 20.0f, 20000.0f, Parameter::Continuous);
    cutoff.SetMidiLearnManager(&manager);
    manager.RegisterGlobalParameter(&cutoff);
    At(0, [this](gfx::Surface& s) { backend.Click(s, 20, RowY(0)); });
    cutoff.MidiLearnShowPopup(page.get(), 30, 30);
    EXPECT_TRUE(cutoff.MidiLearnIsListening());
    EXPECT_EQ(backend.FindStrings("Cancel MIDI Learn").size(), 0u);
    backend.Pause(std::chrono::seconds(1));
    At(0, [this](gfx::Surface& s) { backend.Click(s, 20, RowY(0)); });
    cutoff.MidiLearnShowPopup(page.get(), 30, 30);
    EXPECT_EQ(backend.FindStrings("Cancel MIDI Learn").size(), 1u);
    EXPECT_FALSE(cutoff.MidiLearnIsListening());
}
// A menu of an editor on its strand: no input is dispatched to a level's surface once it is gone,
// whether the input waited behind the event that ended the menu or was handed to the strand after
// the menu's condition held.
TEST_F(PopupMenuTest, OnAStrandNoInputReachesAMenuLevelThatIsGone)
{
    // Under the menu's own interceptor: sees what is dispatched once the menu has ended.
    struct Gone : gfx::InputInterceptor
    {
        gfx::Surface const* level = nullptr;
        int dispatched = 0;
        void Intercept(gfx::InputEvent const& e) override { dispatched += e.surface == level ? 1 : 0; }
    };
    struct Case
    {
        char const* what;
        // Runs with the menu open and its strand waiting; the menu ends, and input for its level
        // is then pressed, released and pressed again.
        std::function<void(PopupMenuTest&, gfx::Surface&)> end;
    };
    const Case cases[] = {
        {"queued behind the key that ends it",
         [](PopupMenuTest& t, gfx::Surface& level)
         {
             // A handler of the editor makes a call to the host, which turns the loop: the input
             // waits in the strand's inbox until the handler returns.
             gfx::RunLoop::RunOnEditor(t.surface.get(),
                                       [&t, &level]
                                       {
                                           t.backend.Key(level, gfx::kKeyEscape);
                                           t.backend.Press(level, 20, RowY(0));
                                           t.backend.Release(level, 20, RowY(0));
                                           t.backend.Press(level, 20, RowY(0));
                                           t.backend.Advance(std::chrono::seconds(1));
                                           Strand::HostCall call;
                                           gfx::RunLoop::Turn(false);
                                       });
         }},
        {"handed over after its loop ended",
         [](PopupMenuTest& t, gfx::Surface& level)
         {
             gfx::RunLoop::Abandon(t.surface.get()); // the host hid the editor
             t.backend.Press(level, 20, RowY(0));
             t.backend.Release(level, 20, RowY(0));
             t.backend.Press(level, 20, RowY(0));
             t.backend.Advance(std::chrono::seconds(1));
             gfx::RunLoop::Turn(false);
             gfx::RunLoop::ShowAgain(t.surface.get());
         }},
    };
    gfx::RunLoop::AddStrand(surface.get());
    for (Case const& c : cases)
    {
        Gone gone;
        CascadeList::Item* chosen = file;
        gfx::RunLoop::RunOnEditor(surface.get(),
                                  [&]
                                  {
                                      gfx::Dispatcher::PushInterceptor(&gone);
                                      chosen = list.DoPopup(page.get(), 10, 20);
                                  });
        ASSERT_TRUE(gfx::RunLoop::StrandWaiting(surface.get())) << c.what;
        ASSERT_EQ(Levels().size(), 1u) << c.what;
        gone.level = Levels()[0];
        c.end(*this, *Levels()[0]);
        gfx::RunLoop::Turn(false);
        EXPECT_EQ(chosen, nullptr) << c.what;
        EXPECT_TRUE(Levels().empty()) << c.what;
        EXPECT_FALSE(gfx::RunLoop::StrandWaiting(surface.get())) << c.what;
        EXPECT_EQ(gone.dispatched, 0) << c.what;
        gfx::RunLoop::RunOnEditor(surface.get(), [&gone] { gfx::Dispatcher::PopInterceptor(&gone); });
        backend.Pause(std::chrono::seconds(1));
    }
    gfx::RunLoop::RemoveStrand(surface.get());
}
} // namespace

TEST_F(PopupMenuTest, AVeryLongEntryIsCutAndTheMenuStaysNarrow)
{
    std::string const name = "Long" + std::string(20000, 'n');
    CascadeList::Item* longEntry = list.AddItem(name.c_str(), 40, nullptr, false);
    int width = 0;
    At(0,
       [&](gfx::Surface& s)
       {
           width = s.Width();
           backend.Click(s, 20, RowY(3, 1)); // below the separator: the long entry
       });
    EXPECT_EQ(list.DoPopup(page.get(), 10, 20), longEntry);
    EXPECT_LE(width, 480);
    std::vector<gfx::DrawnString> drawn;
    for (auto const& s : backend.Strings())
        if (s.text.rfind("Longnnn", 0) == 0) drawn.push_back(s);
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].text.substr(drawn[0].text.size() - 3), "\xe2\x80\xa6");
    EXPECT_LE(gfx::TextAdvance(drawn[0].text.c_str(), 11), 480 - 36);
}
