// The synthesizer page's buttons and menus on a real instrument: the "to.." lists, line, voice,
// amplitude and matrix commands, the clipboard and breakpoint steps, the wave dialogs and MIDI
// learn of "Freeze Position".

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EditorTestSupport.h"
#include "editor/EventsDisplay.h"
#include "editor/SynthGUI.h"
#include "editor/TWaveBrowser.h"
#include "editor/TimelinePresetDlg.h"
#include "editor/WaveEditor.h"
#include "engine/VoiceDef.h"
#include "support/RecordingMessageSink.h"
#include "toolkit/Responders.h"

namespace
{
// Chooses the entry reached through `path` from the next menus, and records every menu shown:
// where, and the names of each of its sub-lists by the sub-list's name.
class MenuScript
{
public:
    MenuScript()
    {
        previous = CascadeList::SetChooser(
            [this](CascadeList& list, Window*, long x, long y) -> CascadeList::Item*
            {
                shown.push_back({x, y});
                Record(list);
                CascadeList* at = &list;
                CascadeList::Item* item = nullptr;
                for (std::string const& name : path)
                {
                    item = nullptr;
                    for (int i = 0; at != nullptr && i < at->NumItems(); ++i)
                        if (at->GetItem(i)->name == name) item = at->GetItem(i);
                    if (item == nullptr) return nullptr;
                    at = item->isSubList ? item->subList : nullptr;
                }
                return item;
            });
    }
    ~MenuScript() { CascadeList::SetChooser(std::move(previous)); }
    MenuScript(MenuScript const&) = delete;
    MenuScript& operator=(MenuScript const&) = delete;

    void Record(CascadeList& list)
    {
        for (int i = 0; i < list.NumItems(); ++i)
        {
            CascadeList::Item* item = list.GetItem(i);
            if (!item->isSubList) continue;
            std::vector<std::string> names;
            for (int j = 0; j < item->subList->NumItems(); ++j)
                names.push_back(item->subList->GetItem(j)->name);
            subLists.push_back({item->name, names});
        }
    }

    std::vector<std::string> path;
    std::vector<std::pair<long, long>> shown;
    std::vector<std::pair<std::string, std::vector<std::string>>> subLists;

private:
    CascadeList::Chooser previous;
};

class SynthCommandTest : public GUITest
{
public:
    void SetUp() override
    {
        GUITest::SetUp();
        record = std::make_unique<RecordingMessageSink>();
        Responders::Clear();
    }
    void TearDown() override
    {
        Responders::Clear();
        CloseEditor();
        record.reset();
        GUITest::TearDown();
    }
    SynthGUI& OpenPage() { return OpenSynthPage(); }
    // Chooses the entry through `path` of the menu that button `id` shows.
    void Choose(SynthGUI& page, int id, std::vector<std::string> path)
    {
        MenuScript script;
        script.path = std::move(path);
        page.ButtonPressed(id);
    }
    VoiceDef& Def(int v) { return *Synth().GetVoiceDef(v); }
    long LineSize(int v, int line) { return Def(v).GetLine(line)->Size(); }
    std::vector<float> Times(int v, int line)
    {
        std::vector<float> out;
        EventEnvelope& e = *Def(v).GetLine(line);
        for (long i = 0; i < e.Size(); ++i)
            out.push_back(e[i].time);
        return out;
    }

    std::unique_ptr<RecordingMessageSink> record;
};

using Lines = std::vector<float>;
} // namespace

TEST_F(SynthCommandTest, EveryToListNamesTheOtherVoicesAndMenusOpenWhereTheyBelong)
{
    SynthGUI& page = OpenPage();
    Synth().SetCurrentVoice(1);
    struct Case
    {
        int id;
        long x, y;
        int toLists;
    };
    Case const cases[] = {{27, 635, 335, 1}, {29, 635, 375, 1}, {31, 635, 415, 1},
                          {32, 635, 295, 1}, {33, 590, 270, 3}, {34, 600, 130, 1}};
    std::vector<std::string> const others{"Voice 1", "Voice 3", "Voice 4", "All other voices"};
    for (Case const& c : cases)
    {
        MenuScript script;
        page.ButtonPressed(c.id);
        ASSERT_EQ(script.shown.size(), 1u) << c.id;
        EXPECT_EQ(script.shown[0], std::make_pair(c.x, c.y)) << c.id;
        int toLists = 0;
        for (auto const& [name, items] : script.subLists)
        {
            if (name == "Select..") continue;
            ++toLists;
            EXPECT_EQ(items, others) << c.id << " " << name;
        }
        EXPECT_EQ(toLists, c.toLists) << c.id;
    }
    // Ids outside 0-35 show nothing and open nothing.
    MenuScript script;
    for (int id : {-1, 36, 1000})
        page.ButtonPressed(id);
    EXPECT_TRUE(script.shown.empty());
    EXPECT_TRUE(record->Messages().empty());
}

TEST_F(SynthCommandTest, LinesAreCopiedToOneVoiceOrAllOthersAndClearedWithTheUnisonCount)
{
    SynthGUI& page = OpenPage();
    ASSERT_GE(Synth().CreateBreakpoint(0, 3, 1000.0f), 0);
    ASSERT_GE(Synth().CreateBreakpoint(0, 3, 2000.0f), 0);
    Lines const edited = Times(0, 3);
    Lines const plain = Times(1, 3);
    ASSERT_NE(edited, plain);

    Choose(page, 29, {"Copy Line To..", "Voice 4"});
    EXPECT_EQ(Times(3, 3), edited);
    EXPECT_EQ(Times(1, 3), plain);
    EXPECT_EQ(Times(2, 3), plain);
    Choose(page, 29, {"Copy Line To..", "All other voices"});
    for (int v = 1; v < 4; ++v)
        EXPECT_EQ(Times(v, 3), edited) << v;

    struct Case
    {
        int line;
        float unisonAfter;
    };
    for (Case const c : {Case{3, 4.0f}, Case{1, 1.0f}})
    {
        Synth().unisonBridge.Set(4.0f, nullptr);
        ASSERT_GE(Synth().CreateBreakpoint(0, c.line, 3000.0f), 0);
        Choose(page, SynthGUI::kFirstLineMenuId + c.line - 1, {"Clear this line"});
        EXPECT_EQ(Times(0, c.line), plain) << c.line;
        EXPECT_EQ(static_cast<float>(Def(0).parameters[VoiceDef::kUnisonCount]), c.unisonAfter) << c.line;
    }
}

TEST_F(SynthCommandTest, CopyVoiceTakesLinesSettingsAndMatrixButNotWavesAndResetAsksFirst)
{
    SynthGUI& page = OpenPage();
    ASSERT_GE(Synth().CreateBreakpoint(0, 2, 1500.0f), 0);
    Def(0).parameters[VoiceDef::kUnisonCount] = 3.0f;
    Def(0).parameters[VoiceDef::kTimelineInTempo] = 1.0f;
    Synth().SetModulationEnabled(0, true, 0);
    Synth().SetModulationSource(0, 2, 0);
    Synth().SetModulationTarget(0, 3, 0);
    ASSERT_NE(Synth().LoadStandardWaveform(0, 0, 2), nullptr);
    int const kindBefore = Def(1).waveDef.GetKind(0);
    ASSERT_NE(kindBefore, Def(0).waveDef.GetKind(0));

    Choose(page, SynthGUI::kVoiceMenuId, {"Copy Voice To..", "Voice 2"});
    EXPECT_EQ(Times(1, 2), Times(0, 2));
    EXPECT_EQ(static_cast<float>(Def(1).parameters[VoiceDef::kUnisonCount]), 3.0f);
    EXPECT_EQ(static_cast<float>(Def(1).parameters[VoiceDef::kTimelineInTempo]), 1.0f);
    EXPECT_TRUE(Synth().GetModulationEnabled(0, 1));
    EXPECT_EQ(Synth().GetModulationSource(0, 1), 2);
    EXPECT_EQ(Synth().GetModulationTarget(0, 1), 3);
    EXPECT_EQ(Def(1).waveDef.GetKind(0), kindBefore);
    EXPECT_NE(Times(2, 2), Times(0, 2));

    // Reset: No keeps the voice, Yes resets it.
    record->SetAnswer(false);
    Choose(page, SynthGUI::kVoiceMenuId, {"Reset this voice"});
    EXPECT_EQ(static_cast<float>(Def(0).parameters[VoiceDef::kUnisonCount]), 3.0f);
    record->SetAnswer(true);
    Choose(page, SynthGUI::kVoiceMenuId, {"Reset this voice"});
    EXPECT_EQ(static_cast<float>(Def(0).parameters[VoiceDef::kUnisonCount]), 1.0f);
    EXPECT_EQ(Times(0, 2), Times(2, 2));
    ASSERT_EQ(record->Messages().size(), 2u);
    EXPECT_EQ(record->Messages()[0].text,
              "Reset whole voice to defaults? All settings on this voice will be lost");
    EXPECT_EQ(record->Messages()[0].caption, "Reset voice");
}

TEST_F(SynthCommandTest, AmplitudeMenuCopiesTheGraphTheReleaseOrBoth)
{
    SynthGUI& page = OpenPage();
    ASSERT_GE(Synth().CreateBreakpoint(0, 0, 1200.0f), 0);
    Lines const amp = Times(0, 0);
    Lines const plain = Times(1, 0);
    Def(0).parameters[VoiceDef::kReleaseTime] = 20000.0f;
    Def(0).parameters[VoiceDef::kLoopAfterRelease] = 1.0f;
    float const release = Def(0).parameters[VoiceDef::kReleaseTime];
    float const plainRelease = Def(1).parameters[VoiceDef::kReleaseTime];
    ASSERT_NE(release, plainRelease);

    Choose(page, SynthGUI::kAmplitudeMenuId, {"Copy Release settings to..", "Voice 2"});
    EXPECT_EQ(static_cast<float>(Def(1).parameters[VoiceDef::kReleaseTime]), release);
    EXPECT_EQ(static_cast<float>(Def(1).parameters[VoiceDef::kLoopAfterRelease]), 1.0f);
    EXPECT_EQ(Times(1, 0), plain);
    Choose(page, SynthGUI::kAmplitudeMenuId, {"Copy Amplitude Graph settings to..", "Voice 3"});
    EXPECT_EQ(Times(2, 0), amp);
    EXPECT_EQ(static_cast<float>(Def(2).parameters[VoiceDef::kReleaseTime]), plainRelease);
    Choose(page, SynthGUI::kAmplitudeMenuId,
           {"Copy Amplitude and Release settings to..", "All other voices"});
    EXPECT_EQ(Times(3, 0), amp);
    EXPECT_EQ(static_cast<float>(Def(3).parameters[VoiceDef::kReleaseTime]), release);

    record->SetAnswer(false);
    Choose(page, SynthGUI::kAmplitudeMenuId, {"Reset Amplitude Graph"});
    EXPECT_EQ(Times(0, 0), amp);
    record->SetAnswer(true);
    Choose(page, SynthGUI::kAmplitudeMenuId, {"Reset Amplitude Graph"});
    EXPECT_EQ(Times(0, 0), plain);
    ASSERT_EQ(record->Messages().size(), 2u);
    EXPECT_EQ(record->Messages()[1].caption + ": " + record->Messages()[1].text,
              "Confirm: Reset amplitude graph?");
}

TEST_F(SynthCommandTest, MatrixRoutingsAreCopiedAndCleared)
{
    SynthGUI& page = OpenPage();
    for (int row = 0; row < 5; ++row)
    {
        Synth().SetModulationEnabled(row, row % 2 == 0, 0);
        Synth().SetModulationSource(row, row + 1, 0);
        Synth().SetModulationTarget(row, row + 2, 0);
    }
    Choose(page, SynthGUI::kMatrixMenuId, {"Copy matrix routings to..", "All other voices"});
    for (int v = 1; v < 4; ++v)
        for (int row = 0; row < 5; ++row)
        {
            EXPECT_EQ(Synth().GetModulationEnabled(row, v), row % 2 == 0);
            EXPECT_EQ(Synth().GetModulationSource(row, v), row + 1);
            EXPECT_EQ(Synth().GetModulationTarget(row, v), row + 2);
        }
    Choose(page, SynthGUI::kMatrixMenuId, {"Clear routings"});
    for (int row = 0; row < 5; ++row)
    {
        EXPECT_FALSE(Synth().GetModulationEnabled(row, 0));
        EXPECT_EQ(Synth().GetModulationSource(row, 0), -1);
        EXPECT_EQ(Synth().GetModulationTarget(row, 0), -1);
        EXPECT_EQ(Synth().GetModulationSource(row, 1), row + 1); // the copies stay
    }
}

TEST_F(SynthCommandTest, PasteAndBreakpointStepsWorkAtTheEditTime)
{
    SynthGUI& page = OpenPage();
    ASSERT_GE(Synth().CreateBreakpoint(0, 1, 1000.0f), 0);
    ASSERT_GE(Synth().CreateBreakpoint(0, 1, 5000.0f), 0);
    Synth().SetEditTime(1000.0f);
    page.ButtonPressed(SynthGUI::kCopyAllId);
    Synth().SetEditTime(2345.0f);
    ASSERT_FALSE(Synth().tempoBridge.GetBool());
    page.ButtonPressed(SynthGUI::kFirstPasteLineId + 2); // line 3
    Lines const line3 = Times(0, 3);
    EXPECT_NE(std::find(line3.begin(), line3.end(), 2345.0f), line3.end());
    EXPECT_EQ(Synth().GetEditTime(), 2345.0f);
    page.ButtonPressed(SynthGUI::kPasteAllId);
    Lines const line1 = Times(0, 1);
    EXPECT_NE(std::find(line1.begin(), line1.end(), 2345.0f), line1.end());

    page.ButtonPressed(SynthGUI::kFirstNextBreakpointId); // line 1
    EXPECT_EQ(Synth().GetEditTime(), 5000.0f);
    page.ButtonPressed(SynthGUI::kFirstPrevBreakpointId);
    EXPECT_EQ(Synth().GetEditTime(), 2345.0f);
}

TEST_F(SynthCommandTest, PasteSnapsWithTheSnapSwitchAndStepsAndZoomMoveTheTimelineView)
{
    SynthGUI& page = OpenPage();
    EventsDisplay& view = page.GetEventsDisplay();
    ASSERT_NE(view.GetView(), nullptr);
    Synth().SetEditTime(0.0f);
    page.ButtonPressed(SynthGUI::kCopyAllId);
    struct Case
    {
        bool snap;
        float editTime;
        float pastedAt;
    };
    // A quarter note of a 44100-sample bar is 11025 samples.
    for (Case const c : {Case{false, 12000.0f, 12000.0f}, Case{true, 12000.0f, 11025.0f}})
    {
        Synth().tempoBridge.Set(c.snap ? 1.0f : 0.0f, nullptr);
        Synth().SetEditTime(c.editTime);
        page.ButtonPressed(SynthGUI::kFirstPasteLineId + 1); // line 2
        Lines const line2 = Times(0, 2);
        EXPECT_NE(std::find(line2.begin(), line2.end(), c.pastedAt), line2.end()) << c.snap;
        EXPECT_EQ(Synth().GetEditTime(), c.pastedAt) << c.snap;
    }
    Synth().tempoBridge.Set(0.0f, nullptr);

    float const width = view.GetViewEnd() - view.GetViewStart();
    page.ButtonPressed(SynthGUI::kZoomInId);
    EXPECT_LT(view.GetViewEnd() - view.GetViewStart(), width);
    page.ButtonPressed(SynthGUI::kZoomOutId);
    EXPECT_NEAR(view.GetViewEnd() - view.GetViewStart(), width, 1.0f);

    // A step to a point outside the view pans the view to it.
    float const far = view.GetViewEnd() + 100000.0f;
    ASSERT_GE(Synth().CreateBreakpoint(0, 4, far), 0);
    page.ButtonPressed(SynthGUI::kFirstNextBreakpointId + 3); // line 4
    EXPECT_EQ(Synth().GetEditTime(), far);
    EXPECT_LE(view.GetViewStart(), far);
    EXPECT_GE(view.GetViewEnd(), far);
}

TEST_F(SynthCommandTest, FreezeLearnNeedsTimeFreezeAndDialogsOpenFromTheirButtons)
{
    SynthGUI& page = OpenPage();
    Synth().timeFreeze.SetBool(false);
    {
        MenuScript script;
        page.ButtonPressed(SynthGUI::kFreezeLearnId);
        EXPECT_TRUE(script.shown.empty());
    }
    ASSERT_EQ(record->Messages().size(), 1u);
    EXPECT_EQ(record->Messages()[0].text, "Enable Time Freeze before using MIDI learn");
    EXPECT_EQ(record->Messages()[0].caption, "");
    Synth().timeFreeze.SetBool(true);
    {
        MenuScript script;
        page.ButtonPressed(SynthGUI::kFreezeLearnId);
        ASSERT_EQ(script.shown.size(), 1u);
        EXPECT_EQ(script.shown[0], std::make_pair(88L, 460L));
    }

    // Each dialog runs once and closes; the kind of each frame is recorded.
    std::vector<std::string> opened;
    auto expect = [&](int count)
    {
        for (int i = 0; i < count; ++i)
            Responders::NextModalRun(
                [&](Frame& f)
                {
                    if (auto* b = dynamic_cast<TWaveBrowser*>(&f))
                    {
                        opened.push_back("browser");
                        backend.Then([b] { b->ButtonPressed(TWaveBrowser::kCloseId); });
                    }
                    else if (auto* e = dynamic_cast<WaveEditor*>(&f))
                    {
                        opened.push_back("editor");
                        backend.Then([e] { e->ButtonPressed(WaveEditor::kCloseId); });
                    }
                    else if (dynamic_cast<TimelinePresetDlg*>(&f) != nullptr)
                    {
                        opened.push_back("timeline");
                        backend.Then([&f] { f.QuitModal(); });
                    }
                });
    };
    expect(4);
    page.ButtonPressed(0);
    page.ButtonPressed(3);
    Choose(page, SynthGUI::kVoiceMenuId, {"Load Timeline preset"});
    Choose(page, SynthGUI::kVoiceMenuId, {"Save Timeline preset"});
    EXPECT_EQ(opened, (std::vector<std::string>{"browser", "editor", "timeline", "timeline"}));
}

// Every command button of the page pressed where it sits on the page, each checked by what its
// command does: a button that runs another command (a neighbour's, the other wave dialog, the
// other zoom) fails its row.
TEST_F(SynthCommandTest, EveryCommandButtonPressedWhereItSitsDoesItsCommand)
{
    namespace s = layout::synth;
    SynthGUI& page = OpenPage();
    EventsDisplay& view = page.GetEventsDisplay();
    int const kPageY = layout::root::kSynthPage.y;

    // Lines 1-5 each hold points at 10000 + 1000 l and 50000 + 1000 l; the edit time is 30000.
    auto reset = [&]
    {
        Synth().timeFreeze.SetBool(false);
        Synth().tempoBridge.Set(0.0f, nullptr);
        for (int l = 1; l <= 5; ++l)
        {
            Synth().ClearLine(0, l);
            ASSERT_GE(Synth().CreateBreakpoint(0, l, 10000.0f + 1000.0f * static_cast<float>(l)), 0);
            ASSERT_GE(Synth().CreateBreakpoint(0, l, 50000.0f + 1000.0f * static_cast<float>(l)), 0);
        }
        Synth().SetEditTime(30000.0f);
        view.PanToShowTime(30000.0f, true);
        Pump(std::chrono::milliseconds(50));
    };
    auto hasPointAt = [&](int line, float time)
    {
        Lines const times = Times(0, line);
        return std::find(times.begin(), times.end(), time) != times.end();
    };

    // What a dialog button opened: its kind and its screen place.
    std::string opened;
    auto expectDialog = [&]
    {
        opened.clear();
        Responders::NextModalRun(
            [&](Frame& f)
            {
                gfx::Point const at = backend.ScreenOrigin(*f.GetFrameWindow());
                std::string const where = std::to_string(at.x) + "," + std::to_string(at.y);
                if (auto* b = dynamic_cast<TWaveBrowser*>(&f))
                {
                    opened = "browser at " + where;
                    backend.Then([b] { b->ButtonPressed(TWaveBrowser::kCloseId); });
                }
                else if (auto* e = dynamic_cast<WaveEditor*>(&f))
                {
                    opened = "editor at " + where;
                    backend.Then([e] { e->ButtonPressed(WaveEditor::kCloseId); });
                }
                else
                {
                    opened = "other";
                    backend.Then([&f] { f.QuitModal(); });
                }
            });
    };
    auto dialogAt = [&](char const* kind, int x, int y)
    { return std::string(kind) + " at " + std::to_string(x) + "," + std::to_string(y + kPageY); };

    float lengthBefore = 0.0f;
    auto length = [&] { return view.GetViewEnd() - view.GetViewStart(); };
    std::optional<MenuScript> menu;
    std::size_t messagesBefore = 0;

    struct Row
    {
        std::string name;
        layout::Point at;
        std::function<void()> setup;
        std::function<void()> check;
    };
    std::vector<Row> rows;
    for (int w = 0; w < 4; ++w)
    {
        layout::Point const browseAt[4] = {{50, 50}, {80, 20}, {100, 50}, {80, 80}};
        layout::Point const editAt[4] = {{10, 50}, {50, 10}, {80, 50}, {50, 70}};
        rows.push_back({"load wave " + std::to_string(w), s::kWaveLoad[w], expectDialog,
                        [&, p = browseAt[w]] { EXPECT_EQ(opened, dialogAt("browser", p.x, p.y)); }});
        rows.push_back({"edit wave " + std::to_string(w), s::kWaveEdit[w], expectDialog,
                        [&, p = editAt[w]] { EXPECT_EQ(opened, dialogAt("editor", p.x, p.y)); }});
    }
    rows.push_back({"zoom out",
                    {s::kZoomOut.x, s::kZoomOut.y},
                    [&] { lengthBefore = length(); },
                    [&] { EXPECT_NEAR(length(), 2.0f * lengthBefore, 1.0f); }});
    rows.push_back({"zoom in",
                    {s::kZoomIn.x, s::kZoomIn.y},
                    [&] { lengthBefore = length(); },
                    [&] { EXPECT_NEAR(length(), 0.5f * lengthBefore, 1.0f); }});
    rows.push_back({"copy all", s::kCopyAll,
                    [&]
                    {
                        // The clipboard holds line 3's 0.7 from 20000; line 3 reads 0.3 at 30000.
                        Synth().SetEditTime(20000.0f);
                        Synth().SetEvent(0, 3, 0, 0.7f);
                        Synth().CopyAll(-1);
                        Synth().SetEditTime(30000.0f);
                        Synth().SetEvent(0, 3, 0, 0.3f);
                    },
                    [&]
                    {
                        Synth().SetEditTime(70000.0f);
                        Synth().PasteAll(-1);
                        EXPECT_NEAR(Synth().GetEvent(0, 3, 0), 0.3f, 1e-6f);
                    }});
    auto filledClipboard = [&]
    {
        Synth().SetEditTime(20000.0f);
        Synth().CopyAll(-1);
        Synth().SetEditTime(30000.0f);
    };
    rows.push_back({"paste all", s::kPasteAll, filledClipboard,
                    [&]
                    {
                        for (int l = 1; l <= 5; ++l)
                            EXPECT_TRUE(hasPointAt(l, 30000.0f)) << "line " << l;
                    }});
    for (int l = 1; l <= 5; ++l)
    {
        int const y = s::kLineRowY[l - 1];
        float const before = 10000.0f + 1000.0f * static_cast<float>(l);
        float const after = 50000.0f + 1000.0f * static_cast<float>(l);
        rows.push_back({"paste line " + std::to_string(l),
                        {s::kPasteLineX, y},
                        filledClipboard,
                        [&, l]
                        {
                            for (int other = 1; other <= 5; ++other)
                                EXPECT_EQ(hasPointAt(other, 30000.0f), other == l) << "line " << other;
                        }});
        rows.push_back({"previous point of line " + std::to_string(l),
                        {s::kPrevBreakpointX, y},
                        [] {},
                        [&, before] { EXPECT_EQ(Synth().GetEditTime(), before); }});
        rows.push_back({"next point of line " + std::to_string(l),
                        {s::kNextBreakpointX, y},
                        [] {},
                        [&, after] { EXPECT_EQ(Synth().GetEditTime(), after); }});
        rows.push_back({"menu of line " + std::to_string(l),
                        {s::kLineMenuX, s::kLineMenuY[l - 1]},
                        [&] { menu.emplace(); },
                        [&, l]
                        {
                            ASSERT_EQ(menu->shown.size(), 1u);
                            EXPECT_EQ(menu->shown[0], std::make_pair(635L, 315L + 20L * l));
                            ASSERT_FALSE(menu->subLists.empty());
                            EXPECT_EQ(menu->subLists[0].first, "Copy Line To..");
                            menu.reset();
                        }});
    }
    struct MenuRow
    {
        char const* name;
        layout::Point at;
        long x, y;
        char const* firstList;
    };
    for (MenuRow const m :
         {MenuRow{"voice menu", s::kVoiceMenu, 635, 295, "Copy Voice To.."},
          MenuRow{"amplitude menu", s::kAmplitudeMenu, 590, 270, "Copy Amplitude Graph settings to.."},
          MenuRow{"matrix menu", s::kMatrixMenu, 600, 130, "Copy matrix routings to.."}})
        rows.push_back({m.name, m.at, [&] { menu.emplace(); },
                        [&, m]
                        {
                            ASSERT_EQ(menu->shown.size(), 1u);
                            EXPECT_EQ(menu->shown[0], std::make_pair(m.x, m.y));
                            ASSERT_FALSE(menu->subLists.empty());
                            EXPECT_EQ(menu->subLists[0].first, m.firstList);
                            menu.reset();
                        }});
    rows.push_back(
        {"learn of Freeze Position", s::kTimeFreezeLearn, [&] { messagesBefore = record->Messages().size(); },
         [&]
         {
             ASSERT_EQ(record->Messages().size(), messagesBefore + 1);
             EXPECT_EQ(record->Messages().back().text, "Enable Time Freeze before using MIDI learn");
         }});
    ASSERT_EQ(rows.size(), 36u);

    for (Row const& row : rows)
    {
        SCOPED_TRACE(row.name);
        reset();
        row.setup();
        backend.Pause(std::chrono::seconds(1));
        backend.Click(*surface, row.at.x + 3, row.at.y + kPageY + 3);
        Run();
        row.check();
        menu.reset();
    }
}
