// The preset page on a real instrument and real patch files, alone and under the file menu's
// save dialog.

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "EditorTestSupport.h"
#include "editor/Layout.h"
#include "editor/PresetGUI.h"
#include "editor/TSaveDialog.h"
#include "framework/PresetManager.h"
#include "platform/gfx/Types.h"
#include "support/RecordingMessageSink.h"
#include "toolkit/Responders.h"

namespace fs = std::filesystem;

namespace
{
std::string ReadAll(fs::path const& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The editor root as the product builds it (its own pages and save dialog).
class PresetPageTest : public GUITest
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
        if (editor)
        {
            editor->Detach();
            editor.reset();
            gfx::RunLoop::Turn(false);
        }
        Responders::Clear();
        record.reset();
        GUITest::TearDown();
    }

    fs::path Root() { return home.RootFolder() + "Patches"; }
    // Saves the instrument's patch as category/name(User).
    void Save(char const* category, char const* name) { ASSERT_TRUE(Synth().SavePatch(category, name)); }

    PresetGUI& OpenOnPresetPage()
    {
        editor = std::make_unique<GUI>(EditorHandleOf(&Synth()));
        editor->CreateUI(surface.get(), 0, 0);
        Run();
        editor->SetEditMode(GUI::kPresetMode);
        Run();
        auto* page = dynamic_cast<PresetGUI*>(editor->GetPage());
        EXPECT_NE(page, nullptr);
        return *page;
    }
    // A row of the category list (0) or the patch list (1), clicked as the user does.
    void ClickRow(int list, int row)
    {
        layout::Point const at = list == 0 ? layout::preset::kCategoryList : layout::preset::kPatchList;
        backend.Click(*surface, at.x + layout::root::kPresetPage.x + 30,
                      at.y + layout::root::kPresetPage.y + row * 15 + 7);
        Run();
        backend.Pause(std::chrono::seconds(1));
    }
    // The next name popup gets this text added to its field, then Return.
    void AnswerName(std::string text)
    {
        Responders::NextModalRun(
            [this, text](Frame& f)
            {
                backend.Type(*f.GetFrameWindow(), text.c_str());
                backend.Key(*f.GetFrameWindow(), gfx::kKeyReturn);
            });
    }
    std::vector<std::string> Names(TPatchList& l)
    {
        std::vector<std::string> out;
        for (int i = 0; i < l.GetEntryCount(); ++i)
            out.push_back(l.GetItem(i)->name);
        return out;
    }
    std::string Selected(TPatchList& l) { return l.GetSelection() < 0 ? "-" : l.GetSelectedItem()->name; }
    std::vector<std::string> Texts()
    {
        std::vector<std::string> out;
        for (auto const& m : record->Messages())
            out.push_back(m.caption + ": " + m.text);
        return out;
    }

    std::unique_ptr<GUI> editor;
    std::unique_ptr<RecordingMessageSink> record;
};
} // namespace

TEST_F(PresetPageTest, OpensOnTheCurrentPatchWithoutLoadingAndCategoryClicksLoadTheFirstPatch)
{
    Save("Bass", "A");
    Save("Bass", "B");
    Save("Leads", "C");
    Save("Leads", "D");
    ASSERT_TRUE(Synth().LoadPatch("Leads", "D(User)"));
    host->SetParameter(0, 0.25f);
    float const edited = host->GetParameter(0);

    PresetGUI& page = OpenOnPresetPage();
    EXPECT_EQ(Names(page.GetCategoryList()), (std::vector<std::string>{"Bass", "Leads"}));
    EXPECT_EQ(Selected(page.GetCategoryList()), "Leads");
    EXPECT_EQ(Names(page.GetPatchList()), (std::vector<std::string>{"C(User)", "D(User)"}));
    EXPECT_EQ(Selected(page.GetPatchList()), "D(User)");
    EXPECT_EQ(host->GetParameter(0), edited); // nothing loaded

    ClickRow(0, 0);
    EXPECT_STREQ(static_cast<char const*>(Synth().GetPatchCategory()), "Bass");
    EXPECT_STREQ(static_cast<char const*>(Synth().GetPatchName()), "A(User)");
    EXPECT_EQ(Selected(page.GetPatchList()), "A(User)");
    EXPECT_NE(host->GetParameter(0), edited);

    // The selected patch loads again.
    host->SetParameter(0, 0.25f);
    ClickRow(1, 0);
    EXPECT_NE(host->GetParameter(0), edited);
    ClickRow(1, 1);
    EXPECT_STREQ(static_cast<char const*>(Synth().GetPatchName()), "B(User)");
    EXPECT_EQ(Selected(page.GetPatchList()), "B(User)");

    // Set selections: an unknown category changes nothing, an unknown name keeps the first patch.
    page.SetSelection("Nothing", "A(User)");
    EXPECT_EQ(Selected(page.GetCategoryList()), "Bass");
    EXPECT_EQ(Selected(page.GetPatchList()), "B(User)");
    page.SetSelection("Leads", "Nothing");
    EXPECT_EQ(Selected(page.GetCategoryList()), "Leads");
    EXPECT_EQ(Selected(page.GetPatchList()), "C(User)");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(PresetPageTest, DeletingTheSelectedCategoryLeavesTheFirstRemainingAndNoPatches)
{
    Save("Bass", "A");
    Save("Leads", "C");
    Save("Pads", "E");
    PresetGUI& page = OpenOnPresetPage();
    ASSERT_EQ(Selected(page.GetCategoryList()), "Pads");

    record->SetAnswer(false);
    page.ButtonPressed(PresetGUI::kDeleteCategoryId);
    EXPECT_TRUE(fs::exists(Root() / "Pads" / "E(User).trv"));
    page.GetCategoryList().SetSelection("Leads");
    record->SetAnswer(true);
    page.ButtonPressed(PresetGUI::kDeleteCategoryId);
    EXPECT_FALSE(fs::exists(Root() / "Leads"));
    EXPECT_EQ(Names(page.GetCategoryList()), (std::vector<std::string>{"Bass", "Pads"}));
    EXPECT_EQ(Selected(page.GetCategoryList()), "Bass");
    EXPECT_EQ(page.GetPatchList().GetEntryCount(), 0);
    EXPECT_EQ(page.GetPatchList().GetSelection(), -1);
    ASSERT_EQ(record->Messages().size(), 2u);
    EXPECT_EQ(record->Messages()[1].text, "Delete the Category 'Leads' and all its contents?");
    EXPECT_EQ(record->Messages()[1].caption, "Delete Category");
}

TEST_F(PresetPageTest, ACategoryIsDeletedWithItsSubFoldersOrNotAtAllWithTheReason)
{
    Save("Bass", "A");
    Save("Leads", "C");
    // Leads holds sub-folders, a link to a folder outside (which must survive) and a FIFO.
    fs::path const outside = fs::path(home.Path()) / "outside";
    fs::create_directories(outside);
    std::ofstream(outside / "precious.dat") << "x";
    fs::create_directories(Root() / "Leads" / "Sub" / "Deeper");
    std::ofstream(Root() / "Leads" / "Sub" / "Deeper" / "z.trv") << "z";
    fs::create_directory_symlink(outside, Root() / "Leads" / "Sub" / "out");
    ASSERT_EQ(mkfifo((Root() / "Leads" / "pipe").c_str(), 0600), 0);
    // Pads holds folders nested deeper than a delete goes: nothing of it may go.
    fs::path deep = Root() / "Pads";
    for (int i = 0; i < 140; ++i)
        deep /= "d";
    fs::create_directories(deep);
    Save("Pads", "E");
    PresetGUI& page = OpenOnPresetPage();
    record->SetAnswer(true);

    page.GetCategoryList().SetSelection("Leads");
    page.ButtonPressed(PresetGUI::kDeleteCategoryId);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Root() / "Leads")));
    EXPECT_TRUE(fs::exists(outside / "precious.dat"));
    EXPECT_EQ(Names(page.GetCategoryList()), (std::vector<std::string>{"Bass", "Pads"}));
    ASSERT_EQ(record->Messages().size(), 1u); // the question only

    page.GetCategoryList().SetSelection("Pads");
    page.ButtonPressed(PresetGUI::kDeleteCategoryId);
    EXPECT_TRUE(fs::exists(Root() / "Pads" / "E(User).trv"));
    EXPECT_TRUE(fs::exists(deep));
    EXPECT_EQ(Names(page.GetCategoryList()), (std::vector<std::string>{"Bass", "Pads"}));
    ASSERT_EQ(record->Messages().size(), 3u);
    std::string const text = record->Messages()[2].text;
    EXPECT_EQ(text.rfind("Could not delete Category folder: 'Pads/d/d/", 0), 0u) << text;
    EXPECT_NE(text.find("is nested too deeply"), std::string::npos) << text;
    EXPECT_EQ(record->Messages()[2].caption, "Torvane Error");
}

TEST_F(PresetPageTest, ACategoryNamedWithANoncharacterLeavesTheWholeListDrawn)
{
    Save("Alpha", "A");
    Save("Zulu", "Z");
    fs::create_directories(Root() / "Bad\xef\xbf\xbf"
                                    "Cat");
    fs::create_directories(Root() / "\xef\xb7\x90");
    Synth().GetPatchPresetManager()->Refresh();
    OpenOnPresetPage();
    Run();
    for (char const* drawn : {"Alpha",
                              "Bad\xef\xbf\xbd"
                              "Cat",
                              "\xef\xbf\xbd", "Zulu"})
        EXPECT_FALSE(backend.FindStrings(drawn).empty()) << drawn;
}

TEST_F(PresetPageTest, PatchRenamedToANameInUseKeepsTheListsAndRebuiltEntriesAreShown)
{
    Save("Bass", "A");
    Save("Bass", "AB");
    ASSERT_TRUE(Synth().LoadPatch("Bass", "A(User)"));
    PresetGUI& page = OpenOnPresetPage();
    ASSERT_EQ(Selected(page.GetPatchList()), "A(User)");
    // The popup's field holds the old name and typing appends: "A(User)x" is taken.
    fs::copy_file(Root() / "Bass" / "A(User).trv", Root() / "Bass" / "A(User)x.trv");
    Synth().GetPatchPresetManager()->Refresh(); // the page sets its lists again by itself
    EXPECT_EQ(Names(page.GetPatchList()), (std::vector<std::string>{"A(User)", "A(User)x", "AB(User)"}));
    EXPECT_EQ(Selected(page.GetPatchList()), "A(User)");

    AnswerName("x");
    page.ButtonPressed(PresetGUI::kRenamePatchId);
    EXPECT_EQ(Texts(),
              std::vector<std::string>{
                  "Torvane Error: Could not rename preset. The new name is invalid or already in use"});
    EXPECT_EQ(Selected(page.GetCategoryList()), "Bass");
    EXPECT_EQ(Names(page.GetPatchList()), (std::vector<std::string>{"A(User)", "A(User)x", "AB(User)"}));
    EXPECT_EQ(Selected(page.GetPatchList()), "A(User)");
    // Drawn and clicked after the failed rename's rebuild: the entries are the new ones.
    backend.ClearStrings();
    page.ForceRepaint();
    Run();
    EXPECT_FALSE(backend.FindStrings("AB(User)").empty());
    ClickRow(1, 2);
    EXPECT_STREQ(static_cast<char const*>(Synth().GetPatchName()), "AB(User)");

    // A rename that works selects the new name.
    AnswerName("2");
    page.ButtonPressed(PresetGUI::kRenamePatchId);
    EXPECT_TRUE(fs::exists(Root() / "Bass" / "AB(User)2.trv"));
    EXPECT_EQ(Selected(page.GetPatchList()), "AB(User)2");

    // Deleting asks, then lists the category again.
    record->SetAnswer(true);
    page.ButtonPressed(PresetGUI::kDeletePatchId);
    EXPECT_FALSE(fs::exists(Root() / "Bass" / "AB(User)2.trv"));
    EXPECT_EQ(Names(page.GetPatchList()), (std::vector<std::string>{"A(User)", "A(User)x"}));
    EXPECT_EQ(record->Messages().back().text, "Delete the Preset 'AB(User)2'?");
}

TEST_F(PresetPageTest, CategoriesAreAddedAndRenamed)
{
    Save("Bass", "A");
    PresetGUI& page = OpenOnPresetPage();
    AnswerName("Keys");
    page.ButtonPressed(PresetGUI::kAddCategoryId);
    EXPECT_TRUE(fs::is_directory(Root() / "Keys"));
    EXPECT_EQ(Selected(page.GetCategoryList()), "Keys");
    EXPECT_EQ(page.GetPatchList().GetList(), nullptr);

    page.GetCategoryList().SetSelection("Bass");
    AnswerName("2");
    page.ButtonPressed(PresetGUI::kRenameCategoryId);
    EXPECT_TRUE(fs::exists(Root() / "Bass2" / "A(User).trv"));
    EXPECT_EQ(Names(page.GetCategoryList()), (std::vector<std::string>{"Bass2", "Keys"}));
    EXPECT_EQ(Selected(page.GetCategoryList()), "Bass2");

    AnswerName("/..");
    page.ButtonPressed(PresetGUI::kAddCategoryId);
    EXPECT_EQ(Texts(), std::vector<std::string>{": Error: New category named '/..' could not be created."});
}

TEST_F(PresetPageTest, ShowFolderHandsThePatchesFolderToTheOpener)
{
    Save("Bass", "A");
    std::string const bin = home.Path() + "/bin";
    std::string const marker = home.Path() + "/opened";
    fs::create_directories(bin);
    {
        std::ofstream opener(bin + "/xdg-open");
        opener << "#!/bin/sh\nprintf '%s' \"$1\" > '" << marker << "'\n";
    }
    fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
    std::string const oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    PresetGUI& page = OpenOnPresetPage();
    namespace pp = layout::preset;
    backend.Click(*surface, pp::kShowFolder.x + 10, pp::kShowFolder.y + layout::root::kPresetPage.y + 10);
    Run();
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(fs::path(ReadAll(marker)),
              fs::path(static_cast<char const*>(Synth().GetPatchPresetManager()->GetRoot())));
    EXPECT_TRUE(fs::is_directory(ReadAll(marker)));
    (void)page;
}

TEST_F(PresetPageTest, SaveAsFromTheFileMenuWritesTheFileAndThePageSelectsIt)
{
    Save("Bass", "A");
    fs::create_directories(Root() / "Leads");
    fs::create_directories(Root() / "Keys");
    Synth().GetPatchPresetManager()->Refresh();
    PresetGUI& page = OpenOnPresetPage();
    std::string renamedShown;
    Responders::NextModalRun(
        [&](Frame& f)
        {
            auto& dialog = dynamic_cast<TSaveDialog&>(f);
            EXPECT_EQ(dialog.GetCategoryList().GetSelectedName(), "Bass");
            EXPECT_EQ(std::string(dialog.GetNameField().GetText()), "A(User)");
            // A category renamed in the dialog: the page beneath sets its lists again.
            AnswerName("Pads");
            backend.Then([&dialog] { dialog.GetCategoryList().SetSelection("Keys"); });
            backend.Then([&dialog] { dialog.ButtonPressed(TSaveDialog::kRenameCategoryId); });
            backend.Then([&] { renamedShown = Names(page.GetCategoryList()).back(); });
            backend.Then([&dialog] { dialog.GetCategoryList().SetSelection("Leads"); });
            backend.Then([&dialog] { dialog.GetNameField().SetText("Bass"); });
            backend.Then([&dialog] { dialog.ButtonPressed(TSaveDialog::kSaveId); });
        });
    {
        ScriptedMenu menu("Save As..");
        ClickAt(layout::root::kFileButton);
    }
    EXPECT_EQ(renamedShown, "Pads");
    EXPECT_TRUE(fs::is_directory(Root() / "Pads"));
    EXPECT_TRUE(fs::exists(Root() / "Leads" / "Bass(User).trv"));
    EXPECT_STREQ(static_cast<char const*>(Synth().GetPatchName()), "Bass(User)");
    EXPECT_EQ(Names(page.GetCategoryList()), (std::vector<std::string>{"Bass", "Leads", "Pads"}));
    EXPECT_EQ(Selected(page.GetCategoryList()), "Leads");
    EXPECT_EQ(Selected(page.GetPatchList()), "Bass(User)");
    EXPECT_TRUE(Texts().empty());
    // Drawn and clicked after all that: the page shows the new entries.
    backend.ClearStrings();
    page.ForceRepaint();
    Run();
    EXPECT_FALSE(backend.FindStrings("Pads").empty());
    ClickRow(1, 0);
    EXPECT_STREQ(static_cast<char const*>(Synth().GetPatchCategory()), "Leads");
}

TEST_F(PresetPageTest, SaveInPlaceOfAFactoryPatchSelectsTheUserCopyAndAFailedSaveShowsOneMessage)
{
    Save("Bass", "A");
    fs::copy_file(Root() / "Bass" / "A(User).trv", Root() / "Bass" / "Bass.trv");
    Synth().GetPatchPresetManager()->Refresh();
    ASSERT_TRUE(Synth().LoadPatch("Bass", "Bass"));
    PresetGUI& page = OpenOnPresetPage();
    ASSERT_EQ(Selected(page.GetPatchList()), "Bass");
    {
        ScriptedMenu menu("Save");
        ClickAt(layout::root::kFileButton);
    }
    EXPECT_TRUE(fs::exists(Root() / "Bass" / "Bass(User).trv"));
    EXPECT_EQ(Selected(page.GetPatchList()), "Bass(User)");
    EXPECT_TRUE(Texts().empty()); // in place: no question

    // A category that is a file cannot take the patch.
    std::ofstream(Root() / "Blocked") << "x";
    Synth().SetPatchCategory("Blocked");
    Synth().SetPatchName("P");
    {
        ScriptedMenu menu("Save");
        ClickAt(layout::root::kFileButton);
    }
    EXPECT_EQ(Texts(),
              std::vector<std::string>{"Torvane error: Error: Could not save patch: Not a directory"});
}

TEST_F(PresetPageTest, AMissingPictureEndsTheBuildingWithOneMessageAndLoadedButUnshownOnesCount)
{
    Save("Bass", "A");
    ScopedMissingEditorImage missing("CloseUp.png");
    PresetGUI& page = OpenOnPresetPage();
    ASSERT_EQ(record->Messages().size(), 1u);
    EXPECT_EQ(record->Messages()[0].caption, "Torvane error in PresetGUI::Create");
    EXPECT_NE(record->Messages()[0].text.find("CloseUp.png"), std::string::npos);
    // The lists stand; the buttons after the picture do not.
    EXPECT_EQ(Names(page.GetCategoryList()), std::vector<std::string>{"Bass"});
    EXPECT_EQ(page.GetChildren().size(), 2u);
}
