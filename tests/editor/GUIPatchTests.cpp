// The editor root's patch commands on a real instrument: previous/next with the name label, the
// file menu's Save and Reset Patch, and the MIDI-learn mappings it saves.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "EditorTestSupport.h"
#include "editor/Layout.h"
#include "support/RecordingMessageSink.h"

namespace fs = std::filesystem;
namespace root = layout::root;

namespace
{
std::string ReadFile(fs::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Records each alert with whether the busy cursor showed while it was up.
class BusyRecordingSink : public MessageSink
{
public:
    explicit BusyRecordingSink(gfx::HeadlessBackend& b) : backend(b) {}
    void Show(char const* text, char const*) override { shown.push_back({text, backend.busy}); }
    bool AskYesNo(char const*, char const*) override { return false; }

    gfx::HeadlessBackend& backend;
    std::vector<std::pair<std::string, bool>> shown;
};

class PatchCommandTest : public GUITest
{
public:
    fs::path PatchFile(char const* category, char const* name)
    {
        return fs::path(home.RootFolder()) / "Patches" / category / (std::string(name) + ".trv");
    }
    std::string Label() { return gui->GetPatchNameLabel().GetLabel(); }
    // The first host parameter of the instrument, as the host sees it.
    float FirstParameter() { return host->GetParameter(0); }
};
} // namespace

TEST_F(PatchCommandTest, PreviousAndNextLoadSavedPatchesStepPastABrokenOneAndTheLabelFollows)
{
    ASSERT_TRUE(Synth().SavePatch("Cycle", "A"));
    ASSERT_TRUE(Synth().SavePatch("Cycle", "B"));
    ASSERT_TRUE(Synth().SavePatch("Cycle", "C"));
    // B keeps its header but loses most of its body.
    std::string const whole = ReadFile(PatchFile("Cycle", "B(User)"));
    std::ofstream(PatchFile("Cycle", "B(User)"), std::ios::binary | std::ios::trunc)
        << whole.substr(0, whole.size() / 3);
    ASSERT_TRUE(Synth().LoadPatch("Cycle", "A(User)"));
    OpenEditor();
    EXPECT_EQ(Label(), "A(User)");

    auto sink = std::make_shared<BusyRecordingSink>(backend);
    std::shared_ptr<MessageSink> const previous = SetMessageSink(sink);
    ClickAt(root::kNextPatchButton); // B is passed over: C, one message, under the busy cursor
    EXPECT_EQ(Label(), "C(User)");
    EXPECT_STREQ(Synth().GetPatchName(), "C(User)");
    ASSERT_EQ(sink->shown.size(), 1u);
    EXPECT_EQ(sink->shown[0].first, "Error: Could not load patch: B(User)");
    EXPECT_TRUE(sink->shown[0].second);
    EXPECT_FALSE(backend.busy);
    ClickAt(root::kNextPatchButton); // wraps round
    EXPECT_EQ(Label(), "A(User)");
    ClickAt(root::kPreviousPatchButton);
    EXPECT_EQ(Label(), "C(User)");
    EXPECT_FALSE(backend.busy);
    EXPECT_EQ(sink->shown.size(), 1u);
    SetMessageSink(previous);
    EXPECT_FALSE(backend.FindStrings("C(User)").empty());
}

TEST_F(PatchCommandTest, ResetPatchAnsweredYesRestoresTheDefaultAndNoChangesNothing)
{
    float const byDefault = FirstParameter();
    ASSERT_TRUE(Synth().SavePatch("Pads", "Warm"));
    OpenEditor();
    host->SetParameter(0, byDefault > 0.5f ? 0.1f : 0.9f);
    float const changed = FirstParameter();
    ASSERT_NE(changed, byDefault);

    RecordingMessageSink messages(false);
    ScriptedMenu menu("Reset Patch");
    ClickAt(root::kFileButton);
    ASSERT_EQ(menu.shown.size(), 1u);
    EXPECT_EQ(menu.shown[0], (std::pair<long, long>{root::kFileMenu.x, root::kFileMenu.y}));
    EXPECT_EQ(menu.names, (std::vector<std::string>{"Save", "Save As..", "-", "Reset Patch"}));
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Sure you want clear this patch?");
    EXPECT_EQ(messages.Messages()[0].caption, "Reset Patch");
    EXPECT_TRUE(messages.Messages()[0].question);
    EXPECT_EQ(FirstParameter(), changed);
    EXPECT_EQ(Label(), "Warm(User)");

    messages.SetAnswer(true);
    ClickAt(root::kFileButton);
    EXPECT_EQ(FirstParameter(), byDefault);
    EXPECT_EQ(Label(), "<untitled>");
    EXPECT_STREQ(Synth().GetPatchName(), "<untitled>");

    // A dismissed menu does nothing.
    menu.wanted = "";
    host->SetParameter(0, changed);
    ClickAt(root::kFileButton);
    EXPECT_EQ(FirstParameter(), changed);
    EXPECT_EQ(messages.Messages().size(), 2u);
}

TEST_F(PatchCommandTest, SaveOfANamedPatchRewritesItsFileWithoutADialog)
{
    ASSERT_TRUE(Synth().SavePatch("Pads", "Warm"));
    std::string const before = ReadFile(PatchFile("Pads", "Warm(User)"));
    OpenEditor();
    float const original = FirstParameter();
    float const edited = original > 0.5f ? 0.2f : 0.8f;
    host->SetParameter(0, edited);

    RecordingMessageSink messages;
    ScriptedMenu menu("Save");
    ClickAt(root::kFileButton);
    EXPECT_TRUE(gui->saveDialogs.empty());
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_NE(ReadFile(PatchFile("Pads", "Warm(User)")), before);
    EXPECT_EQ(Label(), "Warm(User)");
    // The file holds the edit.
    host->SetParameter(0, original);
    ASSERT_TRUE(Synth().LoadPatch("Pads", "Warm(User)"));
    EXPECT_EQ(FirstParameter(), edited);
}

TEST_F(PatchCommandTest, SaveOfAnUnnamedPatchTakesTheDialogRouteAndSaveAsOffersTheCurrentOne)
{
    Synth().DefaultPatch();
    OpenEditor();
    RecordingMessageSink messages;
    ScriptedMenu menu("Save");
    ClickAt(root::kFileButton);
    Synth().SetPatchName("Named");
    Synth().SetPatchCategory("");
    ClickAt(root::kFileButton);
    menu.wanted = "Save As..";
    ClickAt(root::kFileButton);
    EXPECT_EQ(gui->saveDialogs, (std::vector<bool>{false, false, true}));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_FALSE(fs::exists(fs::path(home.RootFolder()) / "Patches" / "Named(User).trv"));
}

TEST_F(PatchCommandTest, AFailedSaveShowsExactlyOneAlertAndKeepsTheName)
{
    ASSERT_TRUE(Synth().SavePatch("Pads", "Warm"));
    // The category's folder can't be made: a file has its name.
    std::ofstream(fs::path(home.RootFolder()) / "Patches" / "Blocked") << "x";
    Synth().SetPatchCategory("Blocked");
    OpenEditor();
    RecordingMessageSink messages;
    ScriptedMenu menu("Save");
    ClickAt(root::kFileButton);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Error: Could not save patch: Not a directory");
    EXPECT_EQ(messages.Messages()[0].caption, "Torvane error");
    EXPECT_FALSE(messages.Messages()[0].question);
    EXPECT_EQ(Label(), "Warm(User)");
    EXPECT_STREQ(Synth().GetPatchCategory(), "Blocked");
    EXPECT_TRUE(gui->saveDialogs.empty());
}

TEST_F(PatchCommandTest, LearnedMappingsAreSavedEachSecondAndOnClose)
{
    fs::path const mappings = fs::path(home.RootFolder()) / "Data" / "MidiLearnMappings.dat";
    OpenEditor();
    std::error_code error;
    fs::remove(mappings, error);

    Synth().GetMidiLearnManager()->StartListen(&Synth().freezePosition);
    host->ControlChange(20, 64);
    host->Render(64);
    ASSERT_TRUE(Synth().GetMidiLearnManager()->IsMapped(&Synth().freezePosition));
    EXPECT_FALSE(fs::exists(mappings)); // the audio side writes nothing
    Pump(std::chrono::milliseconds(1100));
    ASSERT_TRUE(fs::exists(mappings));
    std::string const one = ReadFile(mappings);

    Synth().GetMidiLearnManager()->StartListen(&Synth().masterVolume);
    host->ControlChange(21, 64);
    host->Render(64);
    CloseEditor();
    EXPECT_NE(ReadFile(mappings), one);
}

// A learn whose mappings can't be saved (a folder stands where the file goes) is told once with
// the reason, however often the editor's timer tries again.
TEST_F(PatchCommandTest, AFailedMappingsSaveIsToldOnce)
{
    fs::path const mappings = fs::path(home.RootFolder()) / "Data" / "MidiLearnMappings.dat";
    OpenEditor();
    std::error_code error;
    fs::remove(mappings, error);
    fs::create_directories(mappings / "inside");
    RecordingMessageSink messages;
    Synth().GetMidiLearnManager()->StartListen(&Synth().freezePosition);
    host->ControlChange(20, 64);
    host->Render(64);
    ASSERT_TRUE(Synth().GetMidiLearnManager()->IsMapped(&Synth().freezePosition));
    Pump(std::chrono::milliseconds(2300));
    CloseEditor();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Could not save the MIDI-learn mappings: Is a directory");
    EXPECT_EQ(messages.Messages()[0].caption, "Torvane error");
    EXPECT_TRUE(fs::is_directory(mappings / "inside"));
}

// Whatever replaces the patch drops the timeline selection made before: a load by the header's
// buttons, a host's restore and Reset Patch alike. Its points are gone, so no later command may
// act on them.
TEST_F(PatchCommandTest, EveryNewPatchDropsTheTimelineSelection)
{
    ASSERT_TRUE(Synth().SavePatch("Cycle", "A"));
    ASSERT_TRUE(Synth().SavePatch("Cycle", "B"));
    std::vector<unsigned char> const state = host->GetState();
    struct Way
    {
        char const* name;
        std::function<void(PatchCommandTest&)> replace;
    };
    Way const ways[] = {
        {"next patch", [](PatchCommandTest& t) { t.ClickAt(root::kNextPatchButton); }},
        {"previous patch", [](PatchCommandTest& t) { t.ClickAt(root::kPreviousPatchButton); }},
        {"host restore", [&state](PatchCommandTest& t) { t.host->SetState(state); }},
        {"Reset Patch",
         [](PatchCommandTest& t)
         {
             RecordingMessageSink messages(true);
             ScriptedMenu menu("Reset Patch");
             t.ClickAt(root::kFileButton);
         }},
    };
    for (Way const& way : ways)
    {
        SCOPED_TRACE(way.name);
        ASSERT_TRUE(Synth().LoadPatch("Cycle", "A(User)"));
        SynthGUI& page = OpenSynthPage();
        EventsDisplay& d = page.GetEventsDisplay();
        std::vector<MultipleSelectionBreakpoint> all = page.CollectSelection(-1, SynthGUI::Selection::All);
        ASSERT_FALSE(all.empty());
        d.SetSelection(all);
        Pump(std::chrono::milliseconds(300));
        ASSERT_NE(page.GetMultipleSelectionPanel(), nullptr);

        way.replace(*this);
        Pump(std::chrono::milliseconds(300));
        EXPECT_TRUE(d.GetSelection().empty());
        EXPECT_EQ(page.GetMultipleSelectionPanel(), nullptr);
        std::vector<MultipleSelectionBreakpoint>* const held = Synth().GetMultipleSelection();
        EXPECT_TRUE(held == nullptr || held->empty());
        CloseEditor();
    }
}
