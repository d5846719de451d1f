// The timeline preset dialog on a real instrument and real timeline preset files.

#include <filesystem>
#include <string>
#include <vector>

#include "WidgetTestSupport.h"
#include "editor/Layout.h"
#include "editor/TimelinePresetDlg.h"
#include "engine/Torvane.h"
#include "engine/VoiceDef.h"
#include "framework/ParameterFile.h"
#include "framework/PresetManager.h"
#include "toolkit/Responders.h"

namespace fs = std::filesystem;
namespace tp = layout::timelinepreset;

namespace
{
class TimelinePresetTest : public WidgetTest
{
public:
    PresetManager& Manager() { return *Synth().GetTimelinePresetManager(); }
    fs::path Root() { return Manager().GetRoot().ToStdString(); }
    int Voice() { return Synth().GetCurrentVoice(); }
    long LineSize(int line) { return Synth().GetVoiceDef(Voice())->GetLine(line)->Size(); }
    std::vector<long> Sizes()
    {
        std::vector<long> out;
        for (int i = 0; i < TimelinePresetDlg::kNumLines; ++i)
            out.push_back(LineSize(i));
        return out;
    }
    // The six flags at the head of a stored preset.
    std::vector<bool> StoredFlags(char const* category, char const* name)
    {
        ParameterFileReader reader;
        std::vector<bool> flags;
        EXPECT_TRUE(Manager().LoadStart(category, name, reader));
        EXPECT_TRUE(Synth().TimelineLoadAvailableEnvelopes(flags, reader));
        return flags;
    }
    std::vector<bool> Available(TimelinePresetDlg& d)
    {
        std::vector<bool> out;
        for (int i = 0; i < TimelinePresetDlg::kNumLines; ++i)
            out.push_back(d.GetLineInfo(i).available);
        return out;
    }
    // Saves the current voice's lines 0 to 5 as flagged, through the instrument.
    void SavePreset(char const* category, char const* name, std::vector<bool> lines)
    {
        ASSERT_TRUE(Synth().SaveTimelinePreset(category, name, lines));
    }
    void ClickToggle(gfx::Surface& s, int i)
    {
        backend.Click(s, tp::kToggle0.x + 5, tp::kToggle0.y + tp::kToggleStep * i + 5);
        backend.Pause(std::chrono::seconds(1));
    }
    std::vector<std::string> Texts(std::size_t from = 0)
    {
        std::vector<std::string> out;
        std::vector<RecordingMessageSink::Message> const shown = Messages();
        for (std::size_t i = from; i < shown.size(); ++i)
            out.push_back(shown[i].caption + ": " + shown[i].text);
        return out;
    }
};
} // namespace

TEST_F(TimelinePresetTest, SavedLinesReadBackAndLoadOnlyWhatIsWantedAndAvailable)
{
    fs::create_directories(Root() / "Mine");
    Manager().Refresh();
    std::vector<long> const defaults = Sizes();
    ASSERT_GE(Synth().CreateBreakpoint(Voice(), 0, 1000.0f), 0);
    ASSERT_GE(Synth().CreateBreakpoint(Voice(), 3, 1000.0f), 0);
    ASSERT_GE(Synth().CreateBreakpoint(Voice(), 3, 3000.0f), 0);
    long const edited0 = LineSize(0);
    long const edited3 = LineSize(3);

    {
        TimelinePresetDlg dialog(page.get(), Synth(), false);
        EXPECT_EQ(dialog.GetPresetList().GetView(), nullptr); // no preset list in save mode
        EXPECT_EQ(dialog.GetWindowWidth(), tp::kSaveSize.w);
        EXPECT_TRUE(dialog.GetNameField().HasFocus());
        std::vector<std::string> afterUntitled;
        Responders::NextModalRun(
            [&](Frame& f)
            {
                gfx::Surface& s = *f.GetFrameWindow();
                for (int i : {1, 2, 4, 5})
                    ClickToggle(s, i);
                backend.Then([&] { dialog.ButtonPressed(TimelinePresetDlg::kSaveId); });
                backend.Then([&] { afterUntitled = Texts(); });
                backend.Then([&] { dialog.GetNameField().SetText("Set"); });
                backend.Then([&] { dialog.ButtonPressed(TimelinePresetDlg::kSaveId); });
            });
        dialog.RunModal();
        EXPECT_EQ(afterUntitled, std::vector<std::string>{": Please enter a name for the preset"});
        EXPECT_TRUE(Drew("Save Timeline"));
        EXPECT_TRUE(Drew("Which items to save:"));
    }
    ASSERT_TRUE(fs::exists(Root() / "Mine" / "Set(User).tvl"));
    EXPECT_EQ(StoredFlags("Mine", "Set(User)"), (std::vector<bool>{true, false, false, true, false, false}));

    ASSERT_TRUE(Synth().ClearLine(Voice(), 0));
    ASSERT_TRUE(Synth().ClearLine(Voice(), 3));
    ASSERT_EQ(Sizes(), defaults);
    {
        // Opening previews the first preset: two lines available.
        TimelinePresetDlg dialog(page.get(), Synth(), true);
        EXPECT_EQ(Available(dialog), (std::vector<bool>{true, false, false, true, false, false}));
        Responders::NextModalRun(
            [&](Frame& f)
            {
                gfx::Surface& s = *f.GetFrameWindow();
                ClickToggle(s, 1); // unavailable: ignored
                ClickToggle(s, 0); // Amplitude no longer wanted
                backend.Then([&] { dialog.ButtonPressed(TimelinePresetDlg::kLoadId); });
                backend.Then([&] { EXPECT_TRUE(dialog.IsRunningModal()); });
                backend.Click(s, tp::kClose.x + 5, tp::kClose.y + 5);
            });
        dialog.RunModal();
        EXPECT_TRUE(dialog.GetLineInfo(1).wanted);
        EXPECT_FALSE(dialog.GetLineInfo(0).wanted);
        EXPECT_TRUE(dialog.GetLineInfo(3).wanted);
        EXPECT_TRUE(Drew("Load Timeline preset"));
    }
    std::vector<long> expected = defaults;
    expected[3] = edited3;
    EXPECT_EQ(Sizes(), expected);
    EXPECT_NE(edited0, defaults[0]);
    EXPECT_EQ(Messages().size(), 1u); // the request for a name, nothing since
}

TEST_F(TimelinePresetTest, ASelectionNotPreviewedLoadsNothingAndAShortFileShowsTheMessage)
{
    ASSERT_GE(Synth().CreateBreakpoint(Voice(), 2, 1500.0f), 0);
    SavePreset("A", "First", {true, true, true, true, true, true});
    SavePreset("B", "Second", {true, true, true, true, true, true});
    ASSERT_TRUE(Synth().ClearLine(Voice(), 2));
    std::vector<long> const before = Sizes();

    TimelinePresetDlg dialog(page.get(), Synth(), true);
    EXPECT_EQ(Available(dialog), std::vector<bool>(6, true));
    // A category click selects B's first preset without previewing it.
    dialog.GetCategoryList().SetSelection(1);
    dialog.PatchListSelection(TimelinePresetDlg::kCategoryListId, 1,
                              dialog.GetCategoryList().GetSelectedItem());
    EXPECT_EQ(dialog.GetPresetList().GetSelectedName(), "Second(User)");
    EXPECT_EQ(Available(dialog), std::vector<bool>(6, false));
    dialog.ButtonPressed(TimelinePresetDlg::kLoadId);
    EXPECT_EQ(Sizes(), before);

    // A file cut short after three of its six flags.
    {
        ParameterFileWriter writer;
        ASSERT_TRUE(Manager().SaveStart("B", "Short", writer));
        for (int i = 0; i < 3; ++i)
            writer.Write(true);
        ASSERT_TRUE(writer.Close());
        Manager().SaveEnd();
    }
    EXPECT_EQ(dialog.GetPresetList().GetSelectedName(), "Second(User)"); // kept by name
    dialog.GetPresetList().SetSelection("Short(User)");
    dialog.PatchListSelection(TimelinePresetDlg::kPresetListId, dialog.GetPresetList().GetSelection(),
                              dialog.GetPresetList().GetSelectedItem());
    EXPECT_EQ(Available(dialog), std::vector<bool>(6, false));
    dialog.ButtonPressed(TimelinePresetDlg::kLoadId);
    EXPECT_EQ(Sizes(), before);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Error: Error: Could not open Timeline set: Short(User)",
                                                 "Error: Error while loading Timeline set"}));

    // Previewing the full one makes its lines available again; deleting it selects one not
    // previewed.
    dialog.GetPresetList().SetSelection("Second(User)");
    dialog.PatchListSelection(TimelinePresetDlg::kPresetListId, dialog.GetPresetList().GetSelection(),
                              dialog.GetPresetList().GetSelectedItem());
    EXPECT_EQ(Available(dialog), std::vector<bool>(6, true));
    messageRecord->SetAnswer(true);
    dialog.ButtonPressed(TimelinePresetDlg::kDeletePresetId);
    EXPECT_FALSE(fs::exists(Root() / "B" / "Second(User).tvl"));
    EXPECT_EQ(dialog.GetPresetList().GetSelectedName(), "Short(User)");
    EXPECT_EQ(Available(dialog), std::vector<bool>(6, false));
}

TEST_F(TimelinePresetTest, DeletingTheLastCategoryLeavesBothListsEmpty)
{
    SavePreset("Only", "One", {true, false, false, false, false, false});
    TimelinePresetDlg dialog(page.get(), Synth(), true);
    ASSERT_EQ(dialog.GetPresetList().GetEntryCount(), 1);
    messageRecord->SetAnswer(true);
    dialog.ButtonPressed(TimelinePresetDlg::kDeleteCategoryId);
    EXPECT_FALSE(fs::exists(Root() / "Only"));
    EXPECT_EQ(dialog.GetCategoryList().GetEntryCount(), 0);
    EXPECT_EQ(dialog.GetPresetList().GetEntryCount(), 0);
    EXPECT_EQ(dialog.GetPresetList().GetSelectedItem(), nullptr);
    EXPECT_EQ(Available(dialog), std::vector<bool>(6, false));
    dialog.ButtonPressed(TimelinePresetDlg::kLoadId); // nothing selected: nothing happens
    EXPECT_EQ(Texts().size(), 1u);
}

TEST_F(TimelinePresetTest, CategoriesAndPresetsAreAddedAndRenamedWithTheListsFollowing)
{
    SavePreset("B", "Set", {true, false, false, false, false, false});
    TimelinePresetDlg dialog(page.get(), Synth(), true);
    auto answerName = [this](std::string text)
    {
        Responders::NextModalRun(
            [this, text](Frame& f)
            {
                backend.Type(*f.GetFrameWindow(), text.c_str());
                backend.Key(*f.GetFrameWindow(), gfx::kKeyReturn);
            });
    };
    answerName("Keys");
    dialog.ButtonPressed(TimelinePresetDlg::kAddCategoryId);
    EXPECT_TRUE(fs::is_directory(Root() / "Keys"));
    EXPECT_EQ(dialog.GetCategoryList().GetSelectedName(), "Keys");
    EXPECT_EQ(dialog.GetPresetList().GetList(), nullptr);

    dialog.GetCategoryList().SetSelection("B");
    answerName("2");
    dialog.ButtonPressed(TimelinePresetDlg::kRenameCategoryId);
    EXPECT_TRUE(fs::exists(Root() / "B2" / "Set(User).tvl"));
    EXPECT_EQ(dialog.GetCategoryList().GetSelectedName(), "B2");
    EXPECT_EQ(dialog.GetPresetList().GetSelectedName(), "Set(User)");

    answerName("x");
    dialog.ButtonPressed(TimelinePresetDlg::kRenamePresetId);
    EXPECT_TRUE(fs::exists(Root() / "B2" / "Set(User)x.tvl"));
    EXPECT_EQ(dialog.GetCategoryList().GetSelectedName(), "B2");
    EXPECT_EQ(dialog.GetPresetList().GetSelectedName(), "Set(User)x");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(TimelinePresetTest, FramesSitAtTheParentsPointOnTheScreenAndRefuseOverwritesWhenAsked)
{
    RecordingWindow inner;
    inner.CreateChildWindow(page.get(), 300, 300, 30, 40);
    SavePreset("Mine", "Set", {true, false, false, false, false, false});
    for (bool load : {false, true})
    {
        TimelinePresetDlg dialog(&inner, Synth(), load);
        EXPECT_EQ(dialog.GetScreenPosition().x, 150) << load;
        EXPECT_EQ(dialog.GetScreenPosition().y, 160) << load;
        EXPECT_EQ(dialog.GetWindowWidth(), load ? tp::kLoadSize.w : tp::kSaveSize.w);
    }
    auto const before = fs::file_size(Root() / "Mine" / "Set(User).tvl");
    TimelinePresetDlg dialog(&inner, Synth(), false);
    dialog.GetNameField().SetText("Set");
    messageRecord->SetAnswer(false);
    dialog.ButtonPressed(TimelinePresetDlg::kSaveId);
    EXPECT_EQ(fs::file_size(Root() / "Mine" / "Set(User).tvl"), before);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_TRUE(Messages()[0].question);

    // A name no file can carry is refused with the reason; the typed name stays.
    dialog.GetNameField().SetText("a/b");
    dialog.ButtonPressed(TimelinePresetDlg::kSaveId);
    EXPECT_EQ(Messages().back().text, "Please enter a name without '/', '\\' or control characters");
    EXPECT_EQ(Messages().back().caption, "");
    EXPECT_STREQ(dialog.GetNameField().GetText(), "a/b");
}

TEST_F(TimelinePresetTest, AMissingPictureIsShownAndTheDialogStaysAsFarAsItWasBuilt)
{
    ScopedMissingEditorImage missing("Toggle Unavailable.png");
    TimelinePresetDlg dialog(page.get(), Synth(), true);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].caption, "Torvane Error");
    EXPECT_EQ(Messages()[0].text.rfind("Error in TimelinePresetDlg::Could not load image: ", 0), 0u);
    EXPECT_EQ(dialog.GetToggle(0), nullptr);
    EXPECT_EQ(dialog.GetCategoryList().GetView(), nullptr);
    bool ran = false;
    Responders::NextModalRun([&](Frame& f) { ran = true, f.QuitModal(); });
    dialog.RunModal(); // the frame stands: the run ends at once
    EXPECT_TRUE(ran);
}
