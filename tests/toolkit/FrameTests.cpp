#include <thread>

#include "ToolkitTestSupport.h"
#include "framework/Timers.h"
#include "platform/gfx/Text.h"
#include "toolkit/Alerts.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Frame.h"

namespace
{
struct Ticker : TimerListener
{
    std::function<void()> action;
    int ticks = 0;
    void TimerEvent(int) override
    {
        ++ticks;
        if (action) action();
    }
};

// A dialog whose body quits its modal run on a right click.
class Dialog : public Frame
{
public:
    std::vector<std::string>* log = nullptr;
    int repaints = 0;
    void Repaint(GraphicsContext& gc) override
    {
        ++repaints;
        FillBackground(gc, Colour(0, 80, 0, 255));
    }
    void RButtonUp(long, long) override
    {
        if (log) log->push_back("quit");
        QuitModal();
    }
};

class FrameTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        page = MakeRoot(200, 200, 0, 0, &pageLog);
        surface->Move(300, 200);
    }
    // The surface focused last (a new frame or alert).
    gfx::Surface& Top() { return *backend.Focused(); }

    std::vector<std::string> pageLog;
    std::unique_ptr<RecordingWindow> page;
};

TEST_F(FrameTest, FramesFloatAtTheirScreenPointOwnedByTheEditor)
{
    Dialog dialog;
    dialog.CreateFrame(page.get(), 50, 60, 100, 80);
    gfx::Surface* s = dialog.GetFrameWindow();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Kind(), gfx::SurfaceKind::Frame);
    EXPECT_EQ(s->Owner(), surface.get());
    EXPECT_EQ(s->ScreenOrigin().x, 50);
    EXPECT_EQ(s->ScreenOrigin().y, 60);
    EXPECT_TRUE(s->IsShown());
    EXPECT_EQ(&Top(), s);
    EXPECT_EQ(dialog.GetParentWindow(), nullptr);
    EXPECT_TRUE(page->GetChildren().empty());
    Run();
    EXPECT_PIXEL(backend.Probe(*s, 10, 10), 0, 80, 0);
    dialog.MoveFrame(70, 80);
    EXPECT_EQ(s->ScreenOrigin().x, 70);
    EXPECT_EQ(dialog.GetScreenPosition().y, 80);
}

TEST_F(FrameTest, TwoEditorsKeepTheirDialogsApart)
{
    gfx::Surface second(backend, gfx::SurfaceKind::Embedded, gfx::Rect{600, 0, 200, 200});
    RecordingWindow otherPage;
    otherPage.CreateChildWindow(&second, 200, 200, 0, 0);
    Dialog byParent, byEvent;
    byParent.CreateFrame(&otherPage, 0, 0, 50, 50);
    EXPECT_EQ(byParent.GetFrameWindow()->Owner(), &second);
    otherPage.after = [&](std::string const& what)
    {
        if (what == "LButtonDown") byEvent.CreateFrame(nullptr, 0, 0, 50, 50);
    };
    backend.Click(second, 10, 10);
    Run();
    ASSERT_NE(byEvent.GetFrameWindow(), nullptr);
    EXPECT_EQ(byEvent.GetFrameWindow()->Owner(), &second);
}

TEST_F(FrameTest, DraggingFollowsThePointerExactlyOnlyWhenEnabled)
{
    for (bool enabled : {false, true})
    {
        Dialog dialog;
        dialog.CreateFrame(nullptr, 50, 50, 100, 80);
        dialog.EnableDragging(enabled);
        gfx::Surface& s = *dialog.GetFrameWindow();
        std::vector<std::pair<int, int>> origins;
        backend.Press(s, 10, 10);
        for (int step = 1; step <= 3; ++step)
        {
            backend.MoveTo(s, 10 + 10 * step,
                           10 + 5 * step); // screen points: the frame's origin was (50, 50)
            backend.Then([&] { origins.push_back({s.ScreenOrigin().x, s.ScreenOrigin().y}); });
        }
        backend.Release(s, 40, 25);
        backend.Pause(std::chrono::seconds(1));
        Run();
        if (enabled)
            EXPECT_EQ(origins, (std::vector<std::pair<int, int>>{{60, 55}, {70, 60}, {80, 65}}));
        else
            EXPECT_EQ(origins, (std::vector<std::pair<int, int>>{{50, 50}, {50, 50}, {50, 50}}));
    }
}

TEST_F(FrameTest, AFrameOpensAndIsDraggedOnlyWithinTheScreen)
{
    // The test screen is 1024 x 768; a 100 x 80 frame's corner may go from (0, 0) to (924, 688).
    struct Case
    {
        char const* what;
        gfx::Point open;
        gfx::Point dragTo; // the pointer's goal, in the frame's points at the press (pressed at 10, 10)
        gfx::Point opened;
        gfx::Point dragged;
    };
    Case const cases[] = {
        {"inside", {50, 60}, {40, 30}, {50, 60}, {80, 80}},
        {"off the left and top", {-300, -5}, {-900, -900}, {0, 0}, {0, 0}},
        {"off the right and bottom", {2000, 700}, {3000, 3000}, {924, 688}, {924, 688}},
        {"corner past the edge", {930, 690}, {10, -40}, {924, 688}, {924, 638}},
    };
    for (Case const& c : cases)
    {
        SCOPED_TRACE(c.what);
        Dialog dialog;
        dialog.CreateFrame(nullptr, c.open.x, c.open.y, 100, 80);
        dialog.EnableDragging(true);
        gfx::Surface& s = *dialog.GetFrameWindow();
        EXPECT_EQ(s.ScreenOrigin().x, c.opened.x);
        EXPECT_EQ(s.ScreenOrigin().y, c.opened.y);
        std::vector<std::pair<int, int>> origins;
        backend.Press(s, 10, 10);
        backend.MoveTo(s, c.dragTo.x, c.dragTo.y);
        backend.Then([&] { origins.push_back({s.ScreenOrigin().x, s.ScreenOrigin().y}); });
        // Back to the press point: the frame follows the pointer again from where it stopped.
        backend.MoveTo(s, 10, 10);
        backend.Then([&] { origins.push_back({s.ScreenOrigin().x, s.ScreenOrigin().y}); });
        backend.Release(s, 10, 10);
        backend.Pause(std::chrono::seconds(1));
        Run();
        EXPECT_EQ(origins,
                  (std::vector<std::pair<int, int>>{{c.dragged.x, c.dragged.y}, {c.opened.x, c.opened.y}}));
    }
    // A frame larger than the screen keeps its top-left corner on it.
    Dialog big;
    big.CreateFrame(nullptr, 200, -50, 1200, 900);
    EXPECT_EQ(big.GetFrameWindow()->ScreenOrigin().x, 0);
    EXPECT_EQ(big.GetFrameWindow()->ScreenOrigin().y, 0);
    big.MoveFrame(-40, 300);
    EXPECT_EQ(big.GetFrameWindow()->ScreenOrigin().x, 0);
    EXPECT_EQ(big.GetFrameWindow()->ScreenOrigin().y, 0);
}

TEST_F(FrameTest, TimersAndDrawingGoOnInsideTheRunWhileTheEditorIsLocked)
{
    Dialog dialog;
    std::vector<std::string> log;
    dialog.log = &log;
    dialog.CreateFrame(nullptr, 10, 10, 100, 80);
    Ticker ticker;
    ticker.action = [&] { dialog.ForceRepaint(); };
    ticker.StartTimer(1, 100);
    gfx::Surface& s = *dialog.GetFrameWindow();
    backend.Click(*surface, 10, 10); // the editor: dropped
    backend.Pause(std::chrono::milliseconds(1000));
    backend.Click(s, 5, 5, gfx::kButtonRight);
    backend.Click(*surface, 20, 20); // after the run: reaches the editor again
    dialog.RunModal();
    EXPECT_EQ(log, std::vector<std::string>{"quit"});
    EXPECT_TRUE(pageLog.empty());
    EXPECT_GE(ticker.ticks, 10);
    EXPECT_GE(dialog.repaints, 10);
    EXPECT_FALSE(dialog.IsRunningModal());
    Run();
    EXPECT_EQ(pageLog.size(), 3u);
}

TEST_F(FrameTest, RunsNestAndQuitOutsideARunDoesNothing)
{
    Dialog outer, inner;
    std::vector<std::string> order;
    outer.CreateFrame(nullptr, 10, 10, 100, 80);
    outer.QuitModal(); // no run: nothing
    backend.Then(
        [&]
        {
            inner.CreateFrame(nullptr, 20, 20, 50, 50);
            outer.QuitModal(); // the outer run ends only after the inner one
            backend.Then([&] { inner.QuitModal(); });
            inner.RunModal();
            order.push_back("inner returned");
        });
    outer.RunModal();
    order.push_back("outer returned");
    EXPECT_EQ(order, (std::vector<std::string>{"inner returned", "outer returned"}));
}

TEST_F(FrameTest, AFrameDestroyedInItsRunEndsIt)
{
    auto dialog = std::make_unique<Dialog>();
    dialog->CreateFrame(nullptr, 10, 10, 100, 80);
    Ticker killer;
    killer.action = [&]
    {
        killer.StopTimer(1);
        dialog.reset();
    };
    killer.StartTimer(1, 50);
    Dialog* raw = dialog.get();
    raw->RunModal();
    EXPECT_EQ(dialog, nullptr);
    EXPECT_EQ(gfx::Surface::All().size(), 1u);
    backend.Click(*surface, 10, 10); // the editor takes input again
    Run();
    EXPECT_EQ(pageLog.size(), 3u);
}

TEST_F(FrameTest, AnAlertInsideADialogReturnsFirst)
{
    Dialog dialog;
    std::vector<std::string> order;
    dialog.log = &order;
    dialog.CreateFrame(nullptr, 10, 10, 100, 80);
    gfx::Surface& s = *dialog.GetFrameWindow();
    backend.Then(
        [&]
        {
            backend.Then([&] { backend.Key(gfx::kKeyReturn); });
            order.push_back(MessageYesNoPopup("Overwrite?", "Save") ? "yes" : "no");
            backend.Click(s, 5, 5, gfx::kButtonRight);
        });
    dialog.RunModal();
    EXPECT_EQ(order, (std::vector<std::string>{"no", "quit"}));
}

class AlertTest : public FrameTest
{
public:
    // Answers the next alert with a click on its button (the first or the second).
    void ClickButton(int which)
    {
        backend.Then(
            [this, which]
            {
                gfx::Surface& alert = Top();
                int x = which == 1 ? alert.Width() - 16 - 150 + 10 : alert.Width() - 16 - 70 + 10;
                backend.Click(alert, x, alert.Height() - 16 - 11);
            });
    }
    std::string Drawn()
    {
        std::string all;
        for (auto const& s : backend.Strings())
            all += s.text + "|";
        return all;
    }
};

TEST_F(AlertTest, YesAndNoByClickReturnAndEscape)
{
    struct Case
    {
        char const* what;
        std::function<void(AlertTest&)> answer;
        bool yes;
    };
    const Case cases[] = {
        {"click Yes", [](AlertTest& t) { t.ClickButton(1); }, true},
        {"click No", [](AlertTest& t) { t.ClickButton(2); }, false},
        // The default is the safe answer: every question asked is about a destructive step.
        {"Return", [](AlertTest& t) { t.backend.Then([&t] { t.backend.Key(gfx::kKeyReturn); }); }, false},
        {"Escape", [](AlertTest& t) { t.backend.Then([&t] { t.backend.Key(gfx::kKeyEscape); }); }, false},
    };
    for (Case const& c : cases)
    {
        c.answer(*this);
        EXPECT_EQ(MessageYesNoPopup("Delete the category?", "Presets"), c.yes) << c.what;
        backend.Pause(std::chrono::seconds(1));
    }
    EXPECT_NE(Drawn().find("Delete the category?|Presets|"), std::string::npos);
    EXPECT_NE(Drawn().find("Yes|"), std::string::npos);
    EXPECT_EQ(gfx::Surface::All().size(), 1u);

    ClickButton(1); // the note's one button sits where "No" sits in a question
    backend.Then([&] { backend.Key(gfx::kKeyReturn); });
    MessagePopup("Saved", "Torvane");
    EXPECT_NE(Drawn().find("OK|"), std::string::npos);
}

TEST_F(AlertTest, ButtonCaptionsSitInTheMiddleOfTheirButtons)
{
    struct Case
    {
        bool question;
        std::vector<char const*> captions; // left to right
    };
    Case const cases[] = {{false, {"OK"}}, {true, {"Yes", "No"}}};
    for (Case const& c : cases)
    {
        SCOPED_TRACE(c.captions[0]);
        backend.ClearStrings();
        // Each button's ink, as probed on the alert.
        struct Box
        {
            int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
        };
        std::vector<Box> inks;
        std::vector<gfx::Rect> buttons;
        backend.Then(
            [&]
            {
                backend.Pause(std::chrono::milliseconds(100));
                backend.Then(
                    [&]
                    {
                        gfx::Surface& alert = Top();
                        int const y = alert.Height() - 16 - 22;
                        int x = alert.Width() - 16 - 70 * static_cast<int>(c.captions.size()) -
                                10 * static_cast<int>(c.captions.size() - 1);
                        for (std::size_t i = 0; i < c.captions.size(); ++i, x += 80)
                        {
                            gfx::Rect const b{x, y, 70, 22};
                            buttons.push_back(b);
                            Box ink;
                            for (int py = b.y; py < b.y + b.h; ++py)
                                for (int px = b.x; px < b.x + b.w; ++px)
                                {
                                    gfx::Pixel const p = backend.Probe(alert, px, py);
                                    // The faces are (70, 110, 200) and (90, 90, 96); the ink white.
                                    if (p.r < 150 || p.g < 150) continue;
                                    ink.left = std::min(ink.left, px);
                                    ink.right = std::max(ink.right, px);
                                    ink.top = std::min(ink.top, py);
                                    ink.bottom = std::max(ink.bottom, py);
                                }
                            inks.push_back(ink);
                        }
                        backend.Key(gfx::kKeyEscape);
                    });
            });
        if (c.question)
            MessageYesNoPopup("Replace it?", "Presets");
        else
            MessagePopup("Saved", "Torvane");
        ASSERT_EQ(inks.size(), c.captions.size());
        for (std::size_t i = 0; i < c.captions.size(); ++i)
        {
            SCOPED_TRACE(c.captions[i]);
            gfx::Rect const b = buttons[i];
            ASSERT_GE(inks[i].right, 0) << "no caption drawn";
            // The ink's middle is the face's middle, to a pixel either way.
            EXPECT_NEAR((inks[i].left + inks[i].right + 1) / 2.0, b.x + b.w / 2.0, 1.5);
            EXPECT_NEAR((inks[i].top + inks[i].bottom + 1) / 2.0, b.y + b.h / 2.0, 1.5);
            // The record agrees: the caption's advance is centred on the face.
            std::vector<gfx::DrawnString> const drawn = backend.FindStrings(c.captions[i]);
            ASSERT_EQ(drawn.size(), 1u);
            double const middle = drawn[0].x + gfx::TextAdvance(c.captions[i], drawn[0].size) / 2.0;
            EXPECT_NEAR(middle, b.x + b.w / 2.0, 1.0);
        }
    }
}

TEST_F(AlertTest, TheRectangleTextAndLongTextWrapped)
{
    backend.Then([&] { backend.Key(gfx::kKeyReturn); });
    GRectangle r;
    r.SetCorners(20, 10, 220, 110); // left, top, right, bottom
    MessagePopup(r, "Bounds");
    EXPECT_NE(Drawn().find("X: 20  Y: 10|Width: 200 Height: 100|Bounds|"), std::string::npos) << Drawn();

    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "word" + std::to_string(i) + " ";
    backend.ClearStrings();
    backend.Then([&] { backend.Key(gfx::kKeyReturn); });
    MessagePopup(text.c_str(), "Long");
    std::string joined;
    int lines = 0;
    for (auto const& s : backend.Strings())
        if (s.text.rfind("word", 0) == 0)
        {
            joined += s.text;
            ++lines;
            EXPECT_LE(gfx::TextAdvance(s.text.c_str(), 12), 380 - 32);
        }
    EXPECT_GT(lines, 3);
    EXPECT_EQ(joined, text); // nothing lost, nothing cut at 255
}

TEST_F(AlertTest, AHugeTextIsCutToTheScreenWithItsButtonsOnIt)
{
    backend.screen = gfx::Rect{0, 0, 1024, 768};
    struct Case
    {
        char const* what;
        std::string text;
    };
    std::string words;
    while (words.size() < 300000)
        words += "word" + std::to_string(words.size()) + " ";
    Case const cases[] = {{"words", words}, {"one word", std::string(300000, 'w')}};
    for (Case const& c : cases)
    {
        backend.ClearStrings();
        gfx::Rect shown{};
        backend.Then(
            [&]
            {
                gfx::Surface& alert = Top();
                gfx::Point const o = alert.ScreenOrigin();
                shown = gfx::Rect{o.x, o.y, alert.Width(), alert.Height()};
            });
        ClickButton(2); // OK, at the bottom right
        MessagePopup(c.text.c_str(), "Huge");
        EXPECT_GE(shown.x, 0) << c.what;
        EXPECT_GE(shown.y, 0) << c.what;
        EXPECT_LE(shown.x + shown.w, 1024) << c.what;
        EXPECT_LE(shown.y + shown.h, 768) << c.what;
        // The last line of the text shown ends with an ellipsis; the caption is still there.
        std::vector<std::string> lines;
        for (auto const& s : backend.Strings())
            if (s.text.rfind("w", 0) == 0) lines.push_back(s.text);
        ASSERT_FALSE(lines.empty()) << c.what;
        EXPECT_EQ(lines.back().substr(lines.back().size() - 3), "\xe2\x80\xa6") << c.what;
        EXPECT_FALSE(backend.FindStrings("Huge").empty()) << c.what;
        for (std::string const& line : lines)
            EXPECT_LE(gfx::TextAdvance(line.c_str(), 12), 380 - 32) << c.what;
    }
}

TEST(WrapText, EachPartOfALongWordIsMeasuredABoundedNumberOfTimes)
{
    for (std::size_t length : {std::size_t(2048), std::size_t(20480)})
    {
        // A word of mixed one- and two-byte characters between two short words.
        std::string word;
        while (word.size() < length)
            word += (word.size() % 7 == 0) ? "\xc3\xa9"
                                           : std::string(1, static_cast<char>('a' + word.size() % 26));
        std::string const text = "start " + word + " end";
        std::size_t calls = 0;
        std::size_t bytes = 0;
        auto characters = [](std::string_view piece)
        {
            std::size_t n = 0;
            for (char c : piece)
                n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            return n;
        };
        gfx::MeasureFunction const measure = [&](std::string_view piece)
        {
            ++calls;
            bytes += piece.size();
            return 7.0 * static_cast<double>(characters(piece));
        };
        std::vector<std::string> const lines = WrapText(text.c_str(), 348.0, measure);
        std::string joined;
        for (std::string const& line : lines)
        {
            EXPECT_LE(7.0 * static_cast<double>(characters(line)), 348.0) << length;
            joined += line;
        }
        EXPECT_EQ(joined, text) << length;
        // Each word once, each character of the long word at most once more.
        EXPECT_LE(bytes, 2 * text.size()) << length;
        EXPECT_LE(calls, 3 + characters(word)) << length;
    }
}

TEST_F(AlertTest, OffTheLoopThreadOrWithNoSurfaceTheyNeverBlock)
{
    bool answer = true;
    std::thread other(
        [&]
        {
            answer = MessageYesNoPopup("From the audio side?", "Torvane");
            MessagePopup("Printed", "Torvane");
        });
    other.join();
    EXPECT_FALSE(answer);
    page.reset();
    surface.reset();
    EXPECT_FALSE(MessageYesNoPopup("No editor open", "Torvane"));
    MessagePopup("No editor open", "Torvane");
    EXPECT_TRUE(backend.Strings().empty());
}

TEST_F(FrameTest, WaitCursorsNest)
{
    EXPECT_FALSE(backend.busy);
    {
        WaitCursor outer;
        EXPECT_TRUE(backend.busy);
        {
            WaitCursor inner;
            EXPECT_EQ(WaitCursor::Count(), 2);
        }
        EXPECT_TRUE(backend.busy);
    }
    EXPECT_FALSE(backend.busy);
    EXPECT_EQ(WaitCursor::Count(), 0);
}
} // namespace
