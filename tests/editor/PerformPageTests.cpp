#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "WidgetTestSupport.h"
#include "editor/Layout.h"
#include "editor/PerformGUI.h"
#include "engine/PerformMod.h"
#include "engine/TModConstants.h"
#include "support/AudioChecks.h"
#include "toolkit/PopupMenu.h"

class PerformTest : public WidgetTest
{
public:
    void SetUp() override
    {
        WidgetTest::SetUp();
        InstallToolkitMenus();
        perform = std::make_unique<PerformGUI>();
        perform->Create(page.get(), &Synth());
        Run();
        host->TakeAutomations();
    }
    void TearDown() override
    {
        perform.reset();
        WidgetTest::TearDown();
    }

    PerformModSource& Pad(int i) { return *Synth().GetPerformMods()->GetSource(i); }
    // A point of block i, in surface coordinates.
    gfx::Point At(int i, long x, long y)
    {
        layout::Point const b = layout::perform::kBlocks[i];
        return {static_cast<int>(layout::root::kPerformPage.x + b.x + x),
                static_cast<int>(layout::root::kPerformPage.y + b.y + y)};
    }
    // One tick of the page's timer.
    void Tick()
    {
        backend.Advance(std::chrono::milliseconds(PerformGUI::kTickMs));
        gfx::RunLoop::Turn(false);
        gfx::RunLoop::Turn(false);
    }
    void Gap() { backend.Pause(std::chrono::seconds(1)); }
    // The drawings of a text inside block i.
    std::vector<gfx::DrawnString> DrawnIn(int i, std::string const& text)
    {
        gfx::Point const a = At(i, 0, 0);
        std::vector<gfx::DrawnString> in;
        for (gfx::DrawnString const& s : backend.FindStrings(text))
            if (s.x >= a.x && s.x < a.x + 205 && s.y >= a.y && s.y < a.y + 200) in.push_back(s);
        return in;
    }
    // The strongest of the semitones around A4 in the left channel of the last block.
    int Semitone()
    {
        std::vector<float> const& x = host->Left();
        int best = 0;
        double level = -1.0;
        for (int s = -24; s <= 24; ++s)
        {
            double const a =
                audio::ToneAmplitude(x.data(), x.size(), 440.0 * std::pow(2.0, s / 12.0), 44100.0);
            if (a > level) level = a, best = s;
        }
        return best;
    }

    std::unique_ptr<PerformGUI> perform;
};

TEST_F(PerformTest, DraggingThePadSetsXAndYAndTheHostRecordsThem)
{
    PerformBlock& block = *perform->GetBlock(0);
    EXPECT_EQ(block.GetWindowWidth(), 205);
    EXPECT_EQ(block.GetWindowHeight(), 200);
    EXPECT_FLOAT_EQ(block.XToValue(55), 0.0f);
    EXPECT_FLOAT_EQ(block.YToValue(55), 0.0f);

    struct Case
    {
        long fromX, fromY, toX, toY;
        float x, y;
    };
    const Case cases[] = {
        {55, 55, 5, 5, -1.0f, 1.0f},     // the pad's top-left corner
        {55, 55, 180, 190, 1.0f, -1.0f}, // beyond the edge: pinned
        {0, 0, 0, 0, -1.0f, 1.0f},       // a press 5 px outside the pad starts a drag
        {109, 80, 109, 80, 1.0f, -0.5f}, // and on the other side
        {30, 80, 80, 30, 0.5f, 0.5f},
    };
    int const xIndex = 0, yIndex = 1;
    for (Case const& c : cases)
    {
        Gap();
        backend.Drag(*surface, At(0, c.fromX, c.fromY), At(0, c.toX, c.toY));
        {
            // The page stands alone, without the editor root that names the instance: its
            // input is the user's in the instance's editor all the same.
            EditorInput::Scope user(&Synth());
            Run();
        }
        EXPECT_FLOAT_EQ(static_cast<float>(Pad(0).X), c.x) << c.toX << "," << c.toY;
        EXPECT_FLOAT_EQ(static_cast<float>(Pad(0).Y), c.y) << c.toX << "," << c.toY;
        std::vector<HeadlessHost::Automation> recorded = host->TakeAutomations();
        ASSERT_FALSE(recorded.empty());
        // The last reports of the drag: X and Y at their host indices, normalised.
        float lastX = NAN, lastY = NAN;
        for (auto const& a : recorded)
        {
            EXPECT_TRUE(a.index == xIndex || a.index == yIndex) << a.index;
            (a.index == xIndex ? lastX : lastY) = a.value;
        }
        if (!std::isnan(lastX))
        {
            EXPECT_FLOAT_EQ(lastX, (c.x + 1.0f) / 2.0f);
        }
        if (!std::isnan(lastY))
        {
            EXPECT_FLOAT_EQ(lastY, (c.y + 1.0f) / 2.0f);
        }
        EXPECT_FLOAT_EQ(host->GetParameter(xIndex), (c.x + 1.0f) / 2.0f);
        EXPECT_FLOAT_EQ(host->GetParameter(yIndex), (c.y + 1.0f) / 2.0f);
    }
    backend.ClearStrings();
    Tick();
    EXPECT_TRUE(Drew("0.50"));
    EXPECT_FALSE(block.NeedsRepaint());
}

TEST_F(PerformTest, AssigningAnAxisShowsItAndNoneShowsNotAssigned)
{
    PerformBlock& block = *perform->GetBlock(2);
    GRectangle const assignX = block.GetHotRect(PerformBlock::kAssignX);
    GRectangle const assignY = block.GetHotRect(PerformBlock::kAssignY);
    ASSERT_GT(assignX.width, 0);

    Responders::NextMenu({"Voice3", "Filter Freq."});
    backend.Click(*surface, At(2, assignX.x + 5, assignX.y + 5).x, At(2, assignX.x + 5, assignX.y + 5).y);
    Gap();
    Responders::NextMenu({"All voices", "Osc Pan"});
    backend.Click(*surface, At(2, assignY.x + 5, assignY.y + 5).x, At(2, assignY.x + 5, assignY.y + 5).y);
    Run();
    backend.ClearStrings();
    block.ForceRepaint();
    Run();
    EXPECT_TRUE(Pad(2).GetMapping(0).enabled);
    EXPECT_EQ(Pad(2).GetMapping(0).voice, 2);
    EXPECT_EQ(Pad(2).GetMapping(0).target, kModTargetFilterFreq);
    EXPECT_EQ(Pad(2).GetMapping(1).voice, 4);
    EXPECT_EQ(Pad(2).GetMapping(1).target, kModTargetPan);
    EXPECT_EQ(DrawnIn(2, "Filter Freq.").size(), 1u);
    EXPECT_EQ(DrawnIn(2, "Voice 3").size(), 1u);
    EXPECT_EQ(DrawnIn(2, "All voices").size(), 1u);
    EXPECT_TRUE(DrawnIn(2, "<not assigned>").empty());

    // Dismissed: unchanged. "<None>": no target, shown in grey.
    Gap();
    Responders::NextMenu({});
    backend.Click(*surface, At(2, assignX.x + 5, assignX.y + 5).x, At(2, assignX.x + 5, assignX.y + 5).y);
    Run();
    EXPECT_EQ(Pad(2).GetMapping(0).target, kModTargetFilterFreq);
    Gap();
    Responders::NextMenu({"<None>"});
    backend.Click(*surface, At(2, assignX.x + 5, assignX.y + 5).x, At(2, assignX.x + 5, assignX.y + 5).y);
    Run();
    backend.ClearStrings();
    block.ForceRepaint();
    Run();
    EXPECT_FALSE(Pad(2).GetMapping(0).enabled);
    EXPECT_EQ(Pad(2).GetMapping(0).target, -1);
    auto grey = DrawnIn(2, "<not assigned>");
    ASSERT_EQ(grey.size(), 1u);
    EXPECT_NEAR(grey[0].red * 255.0, layout::perform::kUnassignedInk.r, 1.0);
    EXPECT_STREQ(PerformBlock::VoiceLabel(0), "Voice 1");
    EXPECT_STREQ(PerformBlock::VoiceLabel(4), "All voices");
    EXPECT_STREQ(PerformBlock::VoiceLabel(5), "");
}

TEST_F(PerformTest, PadXAssignedToAllVoicesPitchShiftsAHeldNote)
{
    PerformBlock& block = *perform->GetBlock(0);
    GRectangle const assignX = block.GetHotRect(PerformBlock::kAssignX);
    Responders::NextMenu({"All voices", "Osc Pitch"});
    backend.Click(*surface, At(0, assignX.x + 5, assignX.y + 5).x, At(0, assignX.x + 5, assignX.y + 5).y);
    Run();
    ASSERT_EQ(Pad(0).GetMapping(0).target, kModTargetPitch);

    host->NoteOn(69, 100);
    for (int i = 0; i < 20; ++i)
        host->Render(2048);
    int const before = Semitone();
    Gap();
    backend.Drag(*surface, At(0, 55, 55), At(0, 105, 55)); // X 1
    Run();
    ASSERT_FLOAT_EQ(static_cast<float>(Pad(0).X), 1.0f);
    for (int i = 0; i < 20; ++i)
        host->Render(2048);
    int const after = Semitone();
    EXPECT_EQ(before, 0);
    EXPECT_EQ(after, 12) << "one octave up at X = 1";
    EXPECT_TRUE(host->AllFinite());
}

TEST_F(PerformTest, MidiLearnOfEachAxisAndAMissingPictureReportedOnce)
{
    PerformBlock& block = *perform->GetBlock(1);
    GRectangle const learnY = block.GetHotRect(PerformBlock::kLearnY);
    Responders::NextMenu({"MIDI Learn (click here, then move MIDI controller to assign it to me)"});
    backend.Click(*surface, At(1, learnY.x + 5, learnY.y + 5).x, At(1, learnY.x + 5, learnY.y + 5).y);
    Run();
    EXPECT_TRUE(Pad(1).Y.MidiLearnIsListening());
    EXPECT_FALSE(Pad(1).X.MidiLearnIsListening());
    Pad(1).Y.MidiLearnCancel();

    perform.reset();
    ScopedMissingEditorImage missing("MIDILearnImg.png");
    perform = std::make_unique<PerformGUI>();
    perform->Create(page.get(), &Synth());
    Run();
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].text.find("MIDILearnImg.png"), std::string::npos);
    // The pad still works.
    Gap();
    backend.Drag(*surface, At(3, 55, 55), At(3, 5, 105));
    Run();
    EXPECT_FLOAT_EQ(static_cast<float>(Pad(3).X), -1.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(Pad(3).Y), -1.0f);
}

TEST_F(PerformTest, AutomationFromAnotherThreadShowsWithinOneTick)
{
    Tick();
    PerformBlock& block = *perform->GetBlock(4);
    ASSERT_FALSE(block.NeedsRepaint());
    int const xIndex = 2 * 4;
    std::thread automation([&] { host->SetParameter(xIndex, 0.875f); });
    automation.join();
    EXPECT_FLOAT_EQ(static_cast<float>(Pad(4).X), 0.75f);
    EXPECT_TRUE(block.NeedsRepaint());
    backend.ClearStrings();
    Tick();
    EXPECT_FALSE(block.NeedsRepaint());
    EXPECT_TRUE(Drew("0.75"));

    // Many changes while the editor pumps.
    std::atomic<bool> done{false};
    std::thread busy(
        [&]
        {
            for (int i = 0; i < 200; ++i)
                host->SetParameter(xIndex + (i & 1), static_cast<float>(i % 11) / 10.0f);
            done = true;
        });
    while (!done)
        Tick();
    busy.join();
    Tick();
    EXPECT_FALSE(block.NeedsRepaint());
}

TEST_F(PerformTest, AutomatingThePadsFromAnotherThreadAfterThePageWent)
{
    perform.reset(); // a page switch
    for (int i = 0; i < 12; ++i)
        host->SetParameter(i, 0.25f);
    std::thread automation(
        [&]
        {
            for (int i = 0; i < 12; ++i)
                host->SetParameter(i, 0.75f);
        });
    automation.join();
    EXPECT_FLOAT_EQ(static_cast<float>(Pad(5).Y), 0.5f);
    Run();
}
