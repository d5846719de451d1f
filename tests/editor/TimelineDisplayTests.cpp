// The timeline display on the synthesizer page of a real instrument: what it draws, mouse edits
// of points, markers and the edit time, rubber-band selections with the sliding panel, zoom,
// snap and the clipboard, on the headless back end's virtual clock.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "EditorTestSupport.h"
#include "editor/SynthGUI.h"
#include "support/RecordingMessageSink.h"

using namespace std::chrono_literals;

namespace
{
constexpr int kPageY = 50;
constexpr int kDisplayX = 105;
constexpr int kDisplayY = kPageY + 244;
constexpr int kPanelOpenY = 497;

// Display pixels to surface pixels.
gfx::Point D(int x, int y)
{
    return {kDisplayX + x, kDisplayY + y};
}

// Centre of row r (timeline line r + 1).
int RowY(int r)
{
    return 105 + 19 * r + 9;
}
} // namespace

class TimelineTest : public GUITest
{
public:
    SynthGUI& OpenPage() { return OpenSynthPage(); }
    EventsDisplay& Display() { return gui->GetSynthPage()->GetEventsDisplay(); }

    std::vector<float> Times(int line)
    {
        Torvane::TimelineSnapshot s;
        EXPECT_TRUE(Synth().CopyTimeline(-1, s));
        std::vector<float> out;
        for (long p = 0; p < s.lines[static_cast<std::size_t>(line)].Size(); ++p)
            out.push_back(s.lines[static_cast<std::size_t>(line)][p].time);
        return out;
    }
    float ValueAt(int line, float time)
    {
        Torvane::TimelineSnapshot s;
        EXPECT_TRUE(Synth().CopyTimeline(-1, s));
        Envelope const& e = s.lines[static_cast<std::size_t>(line)];
        for (long p = 0; p < e.Size(); ++p)
            if (e[p].time == time) return e[p].values[0];
        return -100.0f;
    }
    void Point(int line, float time, float value)
    {
        ASSERT_GE(Synth().CreateBreakpoint(-1, line, time, value), 0);
    }
    void Point(int line, float time) { ASSERT_GE(Synth().CreateBreakpoint(-1, line, time), 0); }
    void Refresh()
    {
        Pump(50ms);
        Display().Update(true);
        Run();
    }
    // Each gesture comes a second after the last, so two never make a double click.
    void Click(int x, int y, unsigned button = gfx::kButtonLeft)
    {
        backend.Pause(1s);
        gfx::Point const p = D(x, y);
        backend.Click(*surface, p.x, p.y, button);
        Run();
    }
    void DragDisplay(int x0, int y0, int x1, int y1, unsigned modifiers = 0)
    {
        backend.Pause(1s);
        backend.Drag(*surface, D(x0, y0), D(x1, y1), 4, gfx::kButtonLeft, modifiers);
        Run();
    }
    void PressPage(int x, int y)
    {
        backend.Pause(1s);
        backend.Click(*surface, x, y + kPageY);
        Run();
    }
    // The selection records of these points of a line, as the page's selections make them.
    std::vector<MultipleSelectionBreakpoint> Records(int line, std::vector<float> const& times)
    {
        std::vector<MultipleSelectionBreakpoint> out;
        for (MultipleSelectionBreakpoint const& b :
             gui->GetSynthPage()->CollectSelection(line, SynthGUI::Selection::All))
            for (float t : times)
                if (b.time == t) out.push_back(b);
        return out;
    }
    static std::vector<float> SelectedTimes(EventsDisplay& d)
    {
        std::vector<float> out;
        for (MultipleSelectionBreakpoint const& b : d.GetSelection())
            out.push_back(static_cast<float>(b.line) * 1e7f + b.time);
        return out;
    }
};

// ---------------------------------------------------------------------------------------------
// Drawing

TEST_F(TimelineTest, PointsHandleGraphLoopRulerAndGridDrawWhereTheViewPutsThem)
{
    SynthGUI& page = OpenPage();
    EventsDisplay& d = page.GetEventsDisplay();
    Point(VoiceDef::kFilterLine, 44100.0f);
    int const y = RowY(2);

    // At the edit time the point is a filled square at x 90 of the default five seconds.
    Synth().SetEditTime(44100.0f);
    Refresh();
    EXPECT_TRUE(Near(Probe(D(89, y - 2).x, D(89, y - 2).y), 0, 255, 0))
        << Describe(Probe(D(89, y - 2).x, D(89, y - 2).y));
    // Away from it an outline: its left edge in the row colour, its inside not.
    Synth().SetEditTime(0.0f);
    Refresh();
    bool edge = false;
    for (int x = 86; x <= 88; ++x)
    {
        gfx::Pixel const p = Probe(D(x, y - 2).x, D(x, y - 2).y);
        edge = edge || (p.g > 120 && p.r < 60 && p.b < 60);
    }
    EXPECT_TRUE(edge);
    EXPECT_FALSE(Near(Probe(D(90, y - 2).x, D(90, y - 2).y), 0, 255, 0));
    // Selected: white.
    std::vector<MultipleSelectionBreakpoint> one = Records(VoiceDef::kFilterLine, {44100.0f});
    d.SetSelection(one);
    Run();
    EXPECT_TRUE(Near(Probe(D(89, y - 2).x, D(89, y - 2).y), 255, 255, 255));
    d.Deselect();
    Pump(300ms);

    // The amplitude graph (0.7 from 0 to 220500) entering a view that starts later starts at x0.
    Synth().SetEditTime(100000.0f);
    d.PanToShowTime(264600.0f, true);
    Refresh();
    ASSERT_FLOAT_EQ(d.GetViewStart(), 44100.0f);
    // Nothing left of x0: the same pixels there with the line moved down to level 0.
    auto band = [&]
    {
        std::vector<gfx::Pixel> out;
        for (int x = 3; x <= 12; ++x)
            for (int yy = 55; yy <= 59; ++yy)
                out.push_back(Probe(D(x, yy).x, D(x, yy).y));
        return out;
    };
    std::vector<gfx::Pixel> const crossing = band();
    for (int i : {0, 1})
        Synth().SetEvent(Synth().GetCurrentVoice(), VoiceDef::kAmplitudeLine, 0, i, 0.0f);
    Refresh();
    std::vector<gfx::Pixel> const moved = band();
    bool greyAtX0 = false;
    for (std::size_t i = 0; i < crossing.size(); ++i)
    {
        int const x = 3 + static_cast<int>(i / 5);
        if (x < 10)
            EXPECT_TRUE(Near(crossing[i], moved[i].r, moved[i].g, moved[i].b, 0)) << "x " << x;
        else
            greyAtX0 = greyAtX0 || crossing[i].r > moved[i].r + 40; // the light grey line
    }
    EXPECT_TRUE(greyAtX0);

    // The loop region tints only while it overlaps the view.
    auto loopPixel = [&](bool looping)
    {
        Synth().SetLoopFlag(-1, looping);
        Refresh();
        return Probe(D(150, 210).x, D(150, 210).y);
    };
    Synth().SetEditTime(44100.0f);
    d.PanToShowTime(0.0f, true);
    gfx::Pixel const plain = loopPixel(false);
    gfx::Pixel const tinted = loopPixel(true);
    EXPECT_FALSE(Near(plain, tinted.r, tinted.g, tinted.b, 0));
    Synth().SetEditTime(400000.0f); // the view follows it past the loop's end
    gfx::Pixel const pastOn = loopPixel(true);
    ASSERT_GT(d.GetViewStart(), 132300.0f);
    gfx::Pixel const pastOff = loopPixel(false);
    EXPECT_TRUE(Near(pastOn, pastOff.r, pastOff.g, pastOff.b, 0));

    // Ruler: the first mark reads 0 (seconds), or 1 (bars) with the tempo switch on.
    Synth().SetEditTime(0.0f);
    d.PanToShowTime(0.0f, true);
    for (bool tempo : {false, true})
    {
        Synth().tempoBridge.SetBool(tempo);
        backend.ClearStrings();
        Refresh();
        bool found = false;
        for (auto const& s : backend.Strings())
            if (std::fabs(s.x - (kDisplayX + 12)) <= 1.0 && std::fabs(s.y - (kDisplayY + 28)) <= 2.0)
                found = found || s.text == (tempo ? "1" : "0");
        EXPECT_TRUE(found) << "tempo " << tempo;
    }

    // The grid at 1/4 with the tempo switch on: a line every 20 pixels, nothing between.
    auto row = [&](bool tempo)
    {
        Synth().tempoBridge.SetBool(tempo);
        Refresh();
        std::vector<gfx::Pixel> out;
        for (int x = 10; x <= 410; ++x)
            out.push_back(Probe(D(x, 101).x, D(x, 101).y));
        return out;
    };
    std::vector<gfx::Pixel> const without = row(false);
    std::vector<gfx::Pixel> const with = row(true);
    std::vector<bool> marked(21, false);
    for (int x = 10; x <= 410; ++x)
    {
        gfx::Pixel const& a = without[static_cast<std::size_t>(x - 10)];
        gfx::Pixel const& b = with[static_cast<std::size_t>(x - 10)];
        if (Near(a, b.r, b.g, b.b, 0)) continue;
        int const offset = (x - 10) % 20;
        EXPECT_TRUE(offset <= 1 || offset == 19) << "grid pixel at " << x;
        marked[static_cast<std::size_t>((x - 10 + 1) / 20)] = true;
    }
    for (int k = 1; k < 20; ++k)
        EXPECT_TRUE(marked[static_cast<std::size_t>(k)]) << "no grid line near " << 10 + 20 * k;
}

TEST_F(TimelineTest, RulerLabelsNeverOverlapAtAnyZoom)
{
    OpenPage();
    EventsDisplay& d = Display();
    Synth().SetEditTime(0.0f);
    Pump(50ms);
    // Seconds from the default view out to the widest, then bars from the widest back in.
    for (bool tempo : {false, true})
    {
        Synth().tempoBridge.SetBool(tempo);
        for (int zoom = 0; zoom <= 30; ++zoom)
        {
            SCOPED_TRACE(testing::Message() << "tempo " << tempo << ", view end " << d.GetViewEnd());
            backend.ClearStrings();
            Refresh();
            std::vector<gfx::DrawnString> labels;
            for (auto const& s : backend.Strings())
                if (std::fabs(s.y - (kDisplayY + 28)) <= 1.0 && s.x >= kDisplayX && s.x < kDisplayX + 420 &&
                    !s.text.empty() && s.text.find_first_not_of("0123456789") == std::string::npos)
                    labels.push_back(s);
            // The display may paint more than once: each label counts once.
            std::sort(labels.begin(), labels.end(), [](auto const& a, auto const& b) { return a.x < b.x; });
            labels.erase(std::unique(labels.begin(), labels.end(),
                                     [](auto const& a, auto const& b)
                                     { return a.x == b.x && a.text == b.text; }),
                         labels.end());
            double const span = static_cast<double>(d.GetViewEnd()) - d.GetViewStart();
            double const unitPixels = static_cast<double>(d.GetPixelsPerSample()) * 44100.0;
            if (tempo && zoom == 0)
            {
                EXPECT_GT(span, EventsDisplay::kMaxTime / 2);
            }
            if (tempo)
                d.ZoomIn();
            else
                d.ZoomOut();
            if (span < 3 * 44100.0) continue; // fewer than three marks
            ASSERT_GE(labels.size(), 2u);
            long long const stepValue = std::stoll(labels[1].text) - std::stoll(labels[0].text);
            EXPECT_GT(stepValue, 0);
            std::string overlaps, uneven;
            for (std::size_t i = 0; i + 1 < labels.size(); ++i)
            {
                // Each label ends (with a pixel to spare) before the next begins.
                double const end = labels[i].x + gfx::TextAdvance(labels[i].text.c_str(), labels[i].size);
                if (end + 1.0 > labels[i + 1].x && overlaps.empty())
                    overlaps = labels[i].text + " runs into " + labels[i + 1].text;
                // Thinned evenly.
                if (std::stoll(labels[i + 1].text) - std::stoll(labels[i].text) != stepValue &&
                    uneven.empty())
                    uneven = labels[i].text + " then " + labels[i + 1].text;
            }
            EXPECT_EQ(overlaps, "");
            EXPECT_EQ(uneven, "");
            // Every unit while they fit.
            if (unitPixels >= 40.0)
            {
                EXPECT_EQ(stepValue, 1);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Editing

TEST_F(TimelineTest, AFirstClickMovesTheEditTimeASecondPressDragsThePointUpToItsNeighbour)
{
    OpenPage();
    Point(VoiceDef::kFilterLine, 44100.0f);
    Point(VoiceDef::kFilterLine, 88200.0f);
    Refresh();
    Click(90, RowY(2));
    EXPECT_FLOAT_EQ(Synth().GetEditTime(), 44100.0f);
    EXPECT_EQ(Times(VoiceDef::kFilterLine), (std::vector<float>{0.0f, 44100.0f, 88200.0f}));
    DragDisplay(90, RowY(2), 250, RowY(2));
    EXPECT_EQ(Times(VoiceDef::kFilterLine), (std::vector<float>{0.0f, 88200.0f, 88200.0f}));
    EXPECT_FLOAT_EQ(Synth().GetEditTime(), 88200.0f);
}

TEST_F(TimelineTest, AnAmplitudeDragMovesTimeAndLevelAlsoUnderTimeFreezeAfterAFollowedNote)
{
    for (bool frozenAfterNote : {false, true})
    {
        SCOPED_TRACE(frozenAfterNote ? "frozen after a followed note" : "plain");
        SynthGUI& page = OpenPage();
        Synth().ClearLine(-1, VoiceDef::kAmplitudeLine);
        Point(VoiceDef::kAmplitudeLine, 44100.0f, 0.5f);
        if (frozenAfterNote)
        {
            ASSERT_TRUE(page.FollowPlayback().GetBool());
            host->NoteOn(60, 100);
            for (int i = 0; i < 40; ++i)
                host->Render(512);
            Pump(100ms);
            ASSERT_TRUE(page.ShowingAnimation());
            Synth().timeFreeze.SetBool(true);
            Pump(100ms);
            ASSERT_FALSE(page.ShowingAnimation());
        }
        Synth().SetEditTime(44100.0f);
        Refresh();
        DragDisplay(90, 68, 130, 40);
        EXPECT_NEAR(ValueAt(VoiceDef::kAmplitudeLine, 66150.0f), 1.0f, 1e-5f);
        EXPECT_FLOAT_EQ(Synth().GetEditTime(), 66150.0f);
        host->NoteOff(60);
        Synth().timeFreeze.SetBool(false);
        CloseEditor();
    }
}

TEST_F(TimelineTest, ADoubleClickCreatesAPointAtTheSnappedTime)
{
    struct Case
    {
        int y;
        int line;
        float value; // < 0: not checked
    };
    for (Case const c :
         {Case{RowY(2), VoiceDef::kFilterLine, -1.0f}, Case{60, VoiceDef::kAmplitudeLine, 37.0f / 57.0f}})
    {
        SCOPED_TRACE(c.line);
        OpenPage();
        Synth().tempoBridge.SetBool(true);
        Refresh();
        gfx::Point const p = D(92, c.y);
        backend.DoubleClick(*surface, p.x, p.y);
        Run();
        std::vector<float> const times = Times(c.line);
        EXPECT_NE(std::find(times.begin(), times.end(), 44100.0f), times.end());
        EXPECT_FLOAT_EQ(Synth().GetEditTime(), 44100.0f);
        if (c.value >= 0.0f)
        {
            EXPECT_NEAR(ValueAt(c.line, 44100.0f), c.value, 1e-5f);
        }
        Synth().tempoBridge.SetBool(false);
        CloseEditor();
    }
}

TEST_F(TimelineTest, ARightClickDeletesAnUnselectedPointAndNeverASelectedOne)
{
    SynthGUI& page = OpenPage();
    Point(VoiceDef::kFilterLine, 44100.0f);
    Point(VoiceDef::kFilterLine, 88200.0f);
    Refresh();
    std::vector<MultipleSelectionBreakpoint> selected = Records(VoiceDef::kFilterLine, {88200.0f});
    page.GetEventsDisplay().SetSelection(selected);
    Run();
    ScriptedMenu menu(""); // dismissed
    Click(170, RowY(2), gfx::kButtonRight);
    EXPECT_EQ(menu.shown.size(), 1u);
    Click(90, RowY(2), gfx::kButtonRight);
    EXPECT_EQ(Times(VoiceDef::kFilterLine), (std::vector<float>{0.0f, 88200.0f}));
    EXPECT_EQ(menu.shown.size(), 1u);
    EXPECT_EQ(menu.names,
              (std::vector<std::string>{"Copy selected points", "Paste points", "-", "Delete selection"}));
}

TEST_F(TimelineTest, TheHandleSnapsToANearbyPointAndReachesTheInstrumentOnlyAtTheNextTick)
{
    OpenPage();
    Point(VoiceDef::kFilterLine, 44100.0f);
    Refresh();
    EventsDisplay& d = Display();
    std::vector<float> seen;
    backend.Press(*surface, D(10, 25).x, D(10, 25).y);
    backend.MoveTo(*surface, D(88, 25).x, D(88, 25).y);
    backend.Then(
        [&]
        {
            seen.push_back(d.GetPendingEditTime());
            seen.push_back(Synth().GetEditTime());
        });
    backend.Pause(40ms);
    backend.Then(
        [&]
        {
            seen.push_back(d.GetPendingEditTime());
            seen.push_back(Synth().GetEditTime());
        });
    backend.Release(*surface, D(88, 25).x, D(88, 25).y);
    Run();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_FLOAT_EQ(seen[0], 44100.0f);
    EXPECT_FLOAT_EQ(seen[1], 0.0f);
    EXPECT_FLOAT_EQ(seen[2], -1.0f);
    EXPECT_FLOAT_EQ(seen[3], 44100.0f);
}

// A drag whose last move lands on the time already applied leaves no pending time behind, so
// the next change of the edit time, whichever way it comes, is not set back by the timer; a
// drag let go before the next tick has its time applied at the release.
TEST_F(TimelineTest, NoPendingEditTimeOutlivesAHandleDrag)
{
    struct Way
    {
        char const* name;
        std::function<void(TimelineTest&)> change;
        float expected;
    };
    Way const ways[] = {
        {"a click on a point", [](TimelineTest& t) { t.Click(170, RowY(2)); }, 88200.0f},
        {"the next-breakpoint step",
         [](TimelineTest& t) { t.gui->GetSynthPage()->ButtonPressed(SynthGUI::kFirstNextBreakpointId + 2); },
         88200.0f},
        {"the instrument", [](TimelineTest& t) { t.Synth().SetEditTime(5000.0f); }, 5000.0f},
    };
    for (Way const& way : ways)
    {
        SCOPED_TRACE(way.name);
        OpenPage();
        EventsDisplay& d = Display();
        Point(VoiceDef::kFilterLine, 44100.0f);
        Point(VoiceDef::kFilterLine, 88200.0f);
        Synth().SetEditTime(0.0f);
        Refresh();
        backend.Pause(1s);
        backend.Press(*surface, D(10, 25).x, D(10, 25).y);
        backend.MoveTo(*surface, D(88, 25).x, D(88, 25).y); // snaps to the point at 44100
        backend.Pause(40ms);                                // applied
        backend.MoveTo(*surface, D(89, 25).x, D(89, 25).y); // the same time again
        backend.Release(*surface, D(89, 25).x, D(89, 25).y);
        Run();
        ASSERT_FLOAT_EQ(Synth().GetEditTime(), 44100.0f);
        EXPECT_FLOAT_EQ(d.GetPendingEditTime(), -1.0f);

        way.change(*this);
        Pump(100ms);
        EXPECT_FLOAT_EQ(Synth().GetEditTime(), way.expected);
        CloseEditor();
    }

    // Let go at once: the handle's time is the edit time on release.
    OpenPage();
    Point(VoiceDef::kFilterLine, 44100.0f);
    Synth().SetEditTime(0.0f);
    Refresh();
    backend.Pause(1s);
    backend.SetStep(1ms);
    backend.Press(*surface, D(10, 25).x, D(10, 25).y);
    backend.MoveTo(*surface, D(88, 25).x, D(88, 25).y);
    backend.Release(*surface, D(88, 25).x, D(88, 25).y);
    Run();
    backend.SetStep(10ms);
    EXPECT_FLOAT_EQ(Display().GetPendingEditTime(), -1.0f);
    EXPECT_FLOAT_EQ(Synth().GetEditTime(), 44100.0f);
}

// At full zoom-out the view ends at 2^31: a handle dragged past the display's right edge stops
// there, where it is still drawn.
TEST_F(TimelineTest, TheHandleStopsAtTheEndOfTheLongestView)
{
    OpenPage();
    EventsDisplay& d = Display();
    Synth().SetEditTime(0.0f);
    Pump(50ms);
    for (int i = 0; i < 40; ++i)
        d.ZoomOut();
    Run();
    ASSERT_FLOAT_EQ(d.GetViewStart(), 0.0f);
    ASSERT_EQ(static_cast<double>(d.GetViewEnd()), EventsDisplay::kMaxTime);
    Synth().SetEditTime(2.1e9f);
    Pump(50ms);
    int const handle = static_cast<int>(d.TimeToX(Synth().GetEditTime()));
    ASSERT_LT(handle, 410);
    backend.Pause(1s);
    backend.Drag(*surface, D(handle, 25), D(handle + 250, 25), 6);
    Run();
    Pump(50ms);
    EXPECT_LE(static_cast<double>(Synth().GetEditTime()), EventsDisplay::kMaxTime);
    EXPECT_GT(Synth().GetEditTime(), 2.1e9f);
    EXPECT_LE(static_cast<double>(d.GetViewEnd()), EventsDisplay::kMaxTime);
    EXPECT_LE(d.TimeToX(Synth().GetEditTime()), 410.0f);
}

TEST_F(TimelineTest, EachLoopMarkerStopsAtTheOther)
{
    OpenPage();
    struct Case
    {
        int fromX;
        int toX;
        float start;
        float end;
    };
    // Region 44100..132300: left marker box left of x 90, right one right of x 250.
    for (Case const c : {Case{85, 400, 132300.0f, 132300.0f}, Case{255, 20, 44100.0f, 44100.0f}})
    {
        ASSERT_TRUE(Synth().SetLoopRegion(-1, 44100.0f, 132300.0f));
        Refresh();
        DragDisplay(c.fromX, 210, c.toX, 210);
        Torvane::TimelineSnapshot s;
        ASSERT_TRUE(Synth().CopyTimeline(-1, s));
        EXPECT_FLOAT_EQ(s.loopStart, c.start);
        EXPECT_FLOAT_EQ(s.loopEnd, c.end);
    }
}

// ---------------------------------------------------------------------------------------------
// Selection

TEST_F(TimelineTest, RubberBandsInEveryDirectionSelectTheSamePointsAndSlideThePanelIn)
{
    SynthGUI& page = OpenPage();
    Point(VoiceDef::kFilterLine, 44100.0f);
    Point(VoiceDef::kEffectsLine, 88200.0f);
    Refresh();
    EventsDisplay& d = page.GetEventsDisplay();
    struct Corner
    {
        int x0, y0, x1, y1;
    };
    for (Corner const c : {Corner{60, 140, 200, 200}, Corner{200, 200, 60, 140}, Corner{60, 200, 200, 140},
                           Corner{200, 140, 60, 200}})
    {
        DragDisplay(c.x0, c.y0, c.x1, c.y1);
        EXPECT_EQ(SelectedTimes(d), (std::vector<float>{3e7f + 44100.0f, 5e7f + 88200.0f}));
        EXPECT_EQ(Synth().GetMultipleSelection(), &d.GetSelection());
        ASSERT_NE(page.GetMultipleSelectionPanel(), nullptr);
        Pump(250ms);
        EXPECT_EQ(page.GetMultipleSelectionPanel()->GetPosition().y, kPanelOpenY);
        d.Deselect();
        Pump(300ms);
        EXPECT_EQ(page.GetMultipleSelectionPanel(), nullptr);
        EXPECT_FALSE(page.PanelClosing());
    }
    // A band around nothing closes nothing and opens nothing.
    DragDisplay(300, 40, 330, 50);
    EXPECT_TRUE(d.GetSelection().empty());
    EXPECT_EQ(page.GetMultipleSelectionPanel(), nullptr);
}

TEST_F(TimelineTest, AShiftDragOfASelectionChangesOnlyLevels)
{
    SynthGUI& page = OpenPage();
    Synth().ClearLine(-1, VoiceDef::kAmplitudeLine);
    Point(VoiceDef::kAmplitudeLine, 44100.0f, 0.5f);
    Refresh();
    DragDisplay(70, 50, 110, 80);
    ASSERT_EQ(page.GetEventsDisplay().GetSelection().size(), 1u);
    DragDisplay(90, 68, 300, 45, gfx::kModShift);
    EXPECT_GT(ValueAt(VoiceDef::kAmplitudeLine, 44100.0f), 0.8f);
    EXPECT_FALSE(page.GetEventsDisplay().IsAutoScrolling());
}

TEST_F(TimelineTest, ARubberBandPastTheRightEdgeScrollsEveryTickUntilReleaseAndBelowTheRowsNot)
{
    OpenPage();
    EventsDisplay& d = Display();
    struct Case
    {
        int x;
        int y;
        bool scrolls;
    };
    for (Case const c : {Case{416, 150, true}, Case{300, 232, false}})
    {
        SCOPED_TRACE(c.x);
        Synth().SetEditTime(0.0f);
        d.PanToShowTime(0.0f, true);
        Run();
        std::vector<float> starts;
        auto record = [&] { starts.push_back(d.GetViewStart()); };
        backend.Press(*surface, D(300, 150).x, D(300, 150).y);
        backend.MoveTo(*surface, D(c.x, c.y).x, D(c.x, c.y).y);
        backend.Then(record);
        backend.Pause(150ms);
        backend.Then(record);
        backend.Pause(100ms);
        backend.Then(record);
        backend.Release(*surface, D(c.x, c.y).x, D(c.x, c.y).y);
        Run();
        record();
        Pump(300ms);
        record();
        ASSERT_EQ(starts.size(), 5u);
        if (c.scrolls)
        {
            EXPECT_GT(starts[1], starts[0]);
            EXPECT_GT(starts[2], starts[1]);
        }
        else
        {
            EXPECT_EQ(starts[2], starts[0]);
        }
        EXPECT_EQ(starts[4], starts[3]);
        EXPECT_FALSE(d.IsAutoScrolling());
        d.Deselect();
        Pump(300ms);
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

TEST_F(TimelineTest, ZoomAroundTheEditTimeStaysBoundedAndRepaints)
{
    OpenPage();
    EventsDisplay& d = Display();
    Synth().SetEditTime(1000.0f);
    Pump(50ms);
    d.ZoomOut();
    EXPECT_FLOAT_EQ(d.GetViewStart(), 0.0f);
    EXPECT_FLOAT_EQ(d.GetViewEnd(), 441000.0f);
    Synth().SetEditTime(0.0f);
    Pump(50ms);
    d.ZoomIn();
    EXPECT_FLOAT_EQ(d.GetViewStart(), 0.0f);
    EXPECT_FLOAT_EQ(d.GetViewEnd(), 220500.0f);

    Synth().tempoBridge.SetBool(true);
    Synth().SetEditTime(123456.0f);
    Pump(50ms);
    for (auto zoom : {&EventsDisplay::ZoomIn, &EventsDisplay::ZoomOut})
    {
        for (int i = 0; i < 30; ++i)
            (d.*zoom)();
        Run();
        EXPECT_GE(d.GetViewStart(), 0.0f);
        EXPECT_LE(static_cast<double>(d.GetViewEnd()), EventsDisplay::kMaxTime);
        EXPECT_GE(d.GetViewEnd() - d.GetViewStart(), 64.0f);
        EXPECT_TRUE(std::isfinite(d.GetPixelsPerSample()));
        EXPECT_GT(d.GetPixelsPerSample(), 0.0f);
        EXPECT_GT(d.LastGridSteps(), 0);
        EXPECT_LT(d.LastGridSteps(), 2000);
    }
}

TEST_F(TimelineTest, SnapFollowsTheTempoSwitchAndTimeFreezeAndIgnoresBadTimings)
{
    OpenPage();
    EventsDisplay& d = Display();
    struct Case
    {
        bool tempo;
        bool freeze;
        float in;
        float out;
    };
    for (Case const c : {Case{false, false, 45202.5f, 45202.5f}, Case{true, true, 45202.5f, 45202.5f},
                         Case{true, false, 45202.5f, 44100.0f}, Case{true, false, 60000.0f, 55125.0f},
                         Case{true, false, 61000.0f, 66150.0f}})
    {
        Synth().tempoBridge.SetBool(c.tempo);
        Synth().timeFreeze.SetBool(c.freeze);
        EXPECT_FLOAT_EQ(d.Snap(c.in), c.out) << c.tempo << c.freeze << " " << c.in;
    }
    Synth().timeFreeze.SetBool(false);
    for (float bad : {0.0f, -0.25f, NAN, INFINITY})
    {
        d.SetSnapTiming(bad);
        EXPECT_FLOAT_EQ(d.GetSnapTiming(), 0.25f);
    }
    EXPECT_FLOAT_EQ(d.Snap(45202.5f), 44100.0f);
}

TEST_F(TimelineTest, SmallCommandsCopyOfNothingPanInsideTheViewAndARescaleDrag)
{
    SynthGUI& page = OpenPage();
    EventsDisplay& d = page.GetEventsDisplay();
    Synth().SetEditTime(3000.0f);
    Pump(50ms);
    d.Copy(); // an empty selection: the edit time goes to 0
    EXPECT_FLOAT_EQ(Synth().GetEditTime(), 0.0f);
    d.PanToShowTime(100000.0f, true);
    EXPECT_FLOAT_EQ(d.GetViewStart(), 0.0f);
    EXPECT_FLOAT_EQ(d.GetViewEnd(), 220500.0f);

    // With the rescale switch on, dragging a selected point to the right stretches the selection.
    Point(VoiceDef::kFilterLine, 44100.0f);
    Point(VoiceDef::kFilterLine, 88200.0f);
    Refresh();
    std::vector<MultipleSelectionBreakpoint> two = Records(VoiceDef::kFilterLine, {44100.0f, 88200.0f});
    d.SetSelection(two);
    Pump(300ms);
    d.Rescale.SetBool(true);
    DragDisplay(90, RowY(2), 110, RowY(2));
    std::vector<float> const times = Times(VoiceDef::kFilterLine);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_GT(times[2] - times[1], 44100.0f);
}

TEST_F(TimelineTest, PanelCopyAndPasteMoveTheEditTimeToTheSelectionsEnd)
{
    SynthGUI& page = OpenPage();
    Point(VoiceDef::kFilterLine, 1000.0f);
    Point(VoiceDef::kFilterLine, 1500.0f);
    Refresh();
    EventsDisplay& d = page.GetEventsDisplay();
    std::vector<MultipleSelectionBreakpoint> two = Records(VoiceDef::kFilterLine, {1000.0f, 1500.0f});
    d.SetSelection(two);
    Pump(300ms);
    PressPage(15 + 5, kPanelOpenY + 30 + 5); // Copy
    EXPECT_FLOAT_EQ(Synth().GetEditTime(), 1500.0f);
    Synth().SetEditTime(5000.0f);
    Pump(50ms);
    PressPage(79 + 5, kPanelOpenY + 30 + 5); // Paste
    EXPECT_EQ(SelectedTimes(d), (std::vector<float>{3e7f + 5000.0f, 3e7f + 5500.0f}));
    EXPECT_FLOAT_EQ(Synth().GetEditTime(), 5500.0f);
    std::vector<float> const times = Times(VoiceDef::kFilterLine);
    EXPECT_NE(std::find(times.begin(), times.end(), 5500.0f), times.end());
}

TEST_F(TimelineTest, AfterAContextMenuDeleteADragMovesTheIntendedPoint)
{
    SynthGUI& page = OpenPage();
    for (float t : {44100.0f, 88200.0f, 132300.0f})
        Point(VoiceDef::kFilterLine, t);
    Refresh();
    std::vector<MultipleSelectionBreakpoint> middle = Records(VoiceDef::kFilterLine, {88200.0f});
    page.GetEventsDisplay().SetSelection(middle);
    Run();
    Synth().SetEditTime(132300.0f);
    Refresh();
    {
        // The drag comes straight after the menu, before the editor's next refresh.
        ScriptedMenu menu("Delete selection");
        backend.Pause(1s);
        backend.Click(*surface, D(170, RowY(2)).x, D(170, RowY(2)).y, gfx::kButtonRight);
        backend.Then(
            [&] {
                EXPECT_EQ(Times(VoiceDef::kFilterLine), (std::vector<float>{0.0f, 44100.0f, 132300.0f}));
            });
        backend.Drag(*surface, D(250, RowY(2)), D(230, RowY(2)));
        Run();
    }
    EXPECT_EQ(Times(VoiceDef::kFilterLine), (std::vector<float>{0.0f, 44100.0f, 121275.0f}));
}

// ---------------------------------------------------------------------------------------------
// The panel and the pointer toggle

TEST_F(TimelineTest, ThePanelTurnsRescaleOffSetsTheSelectionModeAndClosesFromItsOwnButtons)
{
    SynthGUI& page = OpenPage();
    Point(VoiceDef::kFilterLine, 44100.0f);
    Refresh();
    EventsDisplay& d = page.GetEventsDisplay();
    Parameter* mode = Synth().FindParameter("Multiple selection mode", false);
    ASSERT_NE(mode, nullptr);
    for (int button : {MultipleSelectionPanel::kDeselect, MultipleSelectionPanel::kDelete})
    {
        d.Rescale.SetBool(true);
        std::vector<MultipleSelectionBreakpoint> one = Records(VoiceDef::kFilterLine, {44100.0f});
        d.SetSelection(one);
        Pump(300ms);
        MultipleSelectionPanel* panel = page.GetMultipleSelectionPanel();
        ASSERT_NE(panel, nullptr);
        EXPECT_FALSE(d.Rescale.GetBool());
        for (int i : {2, 0, 1})
        {
            PressPage(480 + 5, kPanelOpenY + 5 + 30 * i + 5);
            EXPECT_EQ(static_cast<float>(*mode), static_cast<float>(i));
            for (int j = 0; j < 3; ++j)
                EXPECT_EQ(panel->ModeRadio(j).IsSelected(), j == i);
        }
        layout::Point const at = button == MultipleSelectionPanel::kDelete ? layout::selection::kDelete
                                                                           : layout::selection::kDeselect;
        PressPage(at.x + 5, kPanelOpenY + at.y + 5);
        EXPECT_EQ(page.GetMultipleSelectionPanel(), nullptr);
        EXPECT_TRUE(page.PanelClosing());
        Pump(300ms);
        EXPECT_FALSE(page.PanelClosing());
        EXPECT_TRUE(d.GetSelection().empty());
    }
    // Delete took the point, Deselect did not.
    EXPECT_EQ(Times(VoiceDef::kFilterLine), (std::vector<float>{0.0f}));
}

TEST_F(TimelineTest, ThePointerModeToggleFlipsItsParameterAndShowsItsLetter)
{
    SynthGUI& page = OpenPage();
    ParameterHost owner;
    Parameter pointer;
    pointer.Create("Pointer", &owner, Parameter::Private, 0.0f, 1.0f, Parameter::Discrete);
    PointerModeToggle shown;
    shown.Create(&page, &pointer, 740, 2);
    Run();
    EXPECT_TRUE(Near(Probe(740 + 12, kPageY + 2 + 12), 163, 195, 220));
    for (float expected : {1.0f, 0.0f, 1.0f})
    {
        backend.ClearStrings();
        PressPage(740 + 2, 2 + 2);
        EXPECT_EQ(static_cast<float>(pointer), expected);
        EXPECT_EQ(backend.FindStrings(expected == 1.0f ? "M" : "P").size(), 1u);
    }
    RecordingMessageSink messages;
    backend.Pause(1s);
    backend.DoubleClick(*surface, 740 + 2, kPageY + 2 + 2);
    Run();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Double click");
}

// ---------------------------------------------------------------------------------------------
// The page's wiring

TEST_F(TimelineTest, AVoiceSwitchClosesThePanelWithoutANestedLoopAndTheSnapMenuSetsTheGrid)
{
    SynthGUI& page = OpenPage();
    page.SelectAll(VoiceDef::kFilterLine);
    Pump(300ms);
    ASSERT_NE(page.GetMultipleSelectionPanel(), nullptr);
    std::thread([&] { Synth().SetCurrentVoice(2); }).join();
    Pump(20ms); // the request is applied: the panel starts to slide out, nothing waits for it
    EXPECT_EQ(page.GetMultipleSelectionPanel(), nullptr);
    EXPECT_TRUE(page.PanelClosing());
    EXPECT_TRUE(page.GetEventsDisplay().GetSelection().empty());
    Pump(300ms);
    EXPECT_FALSE(page.PanelClosing());

    // Opening while it closes keeps that panel.
    page.SelectAll(VoiceDef::kFilterLine);
    Pump(300ms);
    MultipleSelectionPanel* first = page.GetMultipleSelectionPanel();
    page.DeselectBreakpoints();
    Pump(60ms);
    page.SelectAll(VoiceDef::kFilterLine);
    EXPECT_EQ(page.GetMultipleSelectionPanel(), first);
    Pump(300ms);
    EXPECT_EQ(first->GetPosition().y, kPanelOpenY);

    ScriptedMenu menu("1/8");
    PressPage(712, 258);
    EXPECT_FLOAT_EQ(page.GetEventsDisplay().GetSnapTiming(), 0.125f);
    EXPECT_FLOAT_EQ(page.GetSnapTiming(), 0.125f);
    EXPECT_STREQ(page.GetSnapLabel().GetLabel(), "1/8");
}

TEST_F(TimelineTest, APageSwitchTakesTheSelectionBackBeforeAVoiceLineParameterChange)
{
    SynthGUI& page = OpenPage();
    Point(VoiceDef::kFilterLine, 44100.0f);
    page.SelectAll(VoiceDef::kFilterLine);
    Pump(300ms);
    ASSERT_NE(Synth().GetMultipleSelection(), nullptr);
    gui->SetEditMode(GUI::kPerformMode);
    Pump(50ms);
    ASSERT_EQ(gui->GetSynthPage(), nullptr);
    EXPECT_EQ(Synth().GetMultipleSelection(), nullptr);
    Synth().SetEditTime(44100.0f);
    Synth().filterCutoffParam.Set(0.25f, nullptr);
    EXPECT_FLOAT_EQ(Synth().GetEvent(Synth().GetCurrentVoice(), VoiceDef::kFilterLine, 0),
                    static_cast<float>(Synth().filterCutoffParam));
}

TEST_F(TimelineTest, PointAndMarkerDragsWhileRendering)
{
    OpenPage();
    for (float t : {44100.0f, 88200.0f})
        Point(VoiceDef::kFilterLine, t);
    Synth().SetLoopFlag(-1, true);
    ASSERT_TRUE(Synth().SetLoopRegion(-1, 44100.0f, 132300.0f));
    Refresh();
    std::atomic<bool> stop{false};
    host->NoteOn(60, 100);
    std::thread audio(
        [&]
        {
            while (!stop.load())
                host->Render(256);
        });
    for (int i = 0; i < 5; ++i)
    {
        Click(90, RowY(2));
        DragDisplay(90, RowY(2), 120, RowY(2));
        DragDisplay(120, RowY(2), 90, RowY(2));
        DragDisplay(85, 210, 150, 210);
        DragDisplay(150 - 5 + 5, 210, 85, 210);
    }
    stop.store(true);
    audio.join();
    EXPECT_TRUE(host->AllFinite());
    Torvane::TimelineSnapshot s;
    ASSERT_TRUE(Synth().CopyTimeline(-1, s));
    EXPECT_LE(s.loopStart, s.loopEnd);
}
