#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "WidgetTestSupport.h"
#include "editor/Layout.h"
#include "editor/TSaveDialog.h"
#include "framework/PresetManager.h"
#include "platform/gfx/Types.h"

namespace fs = std::filesystem;

namespace
{
std::string ReadAll(fs::path const& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file and folder below a folder, relative to it, sorted.
std::vector<std::string> Tree(fs::path const& folder)
{
    std::vector<std::string> out;
    std::error_code error;
    for (auto const& e : fs::recursive_directory_iterator(folder, error))
        out.push_back(fs::relative(e.path(), folder).string());
    std::sort(out.begin(), out.end());
    return out;
}

class SaveDialogTest : public WidgetTest
{
public:
    PresetManager& Manager() { return *Synth().GetPatchPresetManager(); }
    fs::path Root() { return Manager().GetRoot().ToStdString(); }
    void MakeCategories(std::vector<char const*> names)
    {
        for (char const* n : names)
            fs::create_directories(Root() / n);
        Manager().Refresh();
    }

    // Runs a dialog; script is called with it and its surface at the start of the run.
    bool RunDialog(std::function<void(TSaveDialog&, gfx::Surface&)> script,
                   char const* categoryName = nullptr, char const* initialName = "")
    {
        TSaveDialog dialog;
        Responders::NextModalRun([&](Frame&) { script(dialog, *dialog.GetFrameWindow()); });
        bool const saved = dialog.Create(page.get(), 100, 50, &Manager(), category, name, "Save Patch As..",
                                         categoryName, initialName);
        EXPECT_FALSE(dialog.IsRunningModal());
        return saved;
    }
    // The dialog's button, as the user presses it, when the script reaches it.
    void Press(TSaveDialog& d, int id)
    {
        backend.Then([&d, id] { d.ButtonPressed(id); });
    }
    // The next name popup gets this text and Return.
    void AnswerName(std::string text)
    {
        Responders::NextModalRun(
            [this, text](Frame& f)
            {
                backend.Type(*f.GetFrameWindow(), text.c_str());
                backend.Key(*f.GetFrameWindow(), gfx::kKeyReturn);
            });
    }
    // "caption: text" of the messages shown, from the from-th on.
    std::vector<std::string> Texts(std::size_t from = 0)
    {
        std::vector<std::string> out;
        std::vector<RecordingMessageSink::Message> const shown = Messages();
        for (std::size_t i = from; i < shown.size(); ++i)
            out.push_back(shown[i].caption + ": " + shown[i].text);
        return out;
    }

    String category{"keep-category"};
    String name{"keep-name"};
};
} // namespace

TEST_F(SaveDialogTest, SaveWithoutACategoryWarnsAndCancelLeavesTheStrings)
{
    MakeCategories({"Bass", "Leads"});
    std::vector<std::string> shownAfterSave;
    bool const saved = RunDialog(
        [&](TSaveDialog& d, gfx::Surface& s)
        {
            EXPECT_EQ(d.GetCategoryList().GetSelection(), -1);
            EXPECT_TRUE(d.GetNameField().HasFocus());
            backend.Type(s, "Bass");
            namespace sd = layout::savedialog;
            backend.Pause(std::chrono::seconds(1));
            backend.Click(s, sd::kSave.x + 5, sd::kSave.y + 5);
            backend.Pause(std::chrono::seconds(1));
            backend.Then([&] { shownAfterSave = Texts(); });
            backend.Click(s, sd::kCancel.x + 5, sd::kCancel.y + 5);
        });
    EXPECT_FALSE(saved);
    EXPECT_EQ(shownAfterSave, std::vector<std::string>{": Please create or select a category before saving"});
    EXPECT_STREQ(static_cast<char const*>(category), "keep-category");
    EXPECT_STREQ(static_cast<char const*>(name), "keep-name");
    EXPECT_TRUE(Drew("Save Patch As.."));
}

TEST_F(SaveDialogTest, ClickingACategoryAndSavingReturnsItWithTheTypedName)
{
    MakeCategories({"Bass", "Leads"});
    bool const saved = RunDialog(
        [&](TSaveDialog&, gfx::Surface& s)
        {
            namespace sd = layout::savedialog;
            backend.Click(s, sd::kCategoryList.x + 20, sd::kCategoryList.y + 15 + 5);
            backend.Type(s, " 2");
            backend.Pause(std::chrono::seconds(1));
            backend.Click(s, sd::kSave.x + 5, sd::kSave.y + 5);
        },
        "Bass", "Wobble");
    EXPECT_TRUE(saved);
    EXPECT_STREQ(static_cast<char const*>(category), "Leads");
    EXPECT_STREQ(static_cast<char const*>(name), "Wobble 2");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(SaveDialogTest, EscapeCancelsThePatchAndWaveformSavesWhereverTheFocusIs)
{
    MakeCategories({"Bass", "Leads"});
    fs::create_directories(fs::path(Synth().GetWaveformPresetManager()->GetRoot().ToStdString()) / "Mine");
    Synth().GetWaveformPresetManager()->Refresh();
    struct Case
    {
        char const* what;
        PresetManager* manager;
        char const* title;
        std::function<void(SaveDialogTest&, TSaveDialog&, gfx::Surface&)> before;
    };
    Case const cases[] = {
        {"patch, typing a name", &Manager(), "Save Patch As..",
         [](SaveDialogTest& t, TSaveDialog&, gfx::Surface& s) { t.backend.Type(s, "Wobble"); }},
        {"patch, a category chosen", &Manager(), "Save Patch As..",
         [](SaveDialogTest& t, TSaveDialog&, gfx::Surface& s)
         {
             namespace sd = layout::savedialog;
             t.backend.Click(s, sd::kCategoryList.x + 20, sd::kCategoryList.y + 5);
         }},
        {"patch, after Escape left a category's name popup", &Manager(), "Save Patch As..",
         [](SaveDialogTest& t, TSaveDialog& d, gfx::Surface&)
         {
             Responders::NextModalRun([&t](Frame& f)
                                      { t.backend.Key(*f.GetFrameWindow(), gfx::kKeyEscape); });
             t.Press(d, TSaveDialog::kAddCategoryId);
         }},
        {"waveform", Synth().GetWaveformPresetManager(), "Save waveform",
         [](SaveDialogTest& t, TSaveDialog&, gfx::Surface& s) { t.backend.Type(s, "Saw 2"); }},
    };
    for (Case const& c : cases)
    {
        SCOPED_TRACE(c.what);
        TSaveDialog dialog;
        bool stillOpen = false;
        Responders::NextModalRun(
            [&](Frame&)
            {
                gfx::Surface& s = *dialog.GetFrameWindow();
                c.before(*this, dialog, s);
                backend.Then([&] { stillOpen = dialog.IsRunningModal(); });
                backend.Key(s, gfx::kKeyEscape);
            });
        bool const saved = dialog.Create(page.get(), 100, 50, c.manager, category, name, c.title, "Bass", "");
        EXPECT_FALSE(saved);
        EXPECT_TRUE(stillOpen);
        EXPECT_FALSE(dialog.IsRunningModal());
        EXPECT_EQ(backend.PendingInput(), 0u);
        EXPECT_STREQ(static_cast<char const*>(category), "keep-category");
        EXPECT_STREQ(static_cast<char const*>(name), "keep-name");
        backend.Pause(std::chrono::seconds(1));
    }
    EXPECT_TRUE(Texts().empty());
}

TEST_F(SaveDialogTest, AddedCategoryIsCreatedAndSelected)
{
    MakeCategories({"Bass", "Pads"});
    bool const saved = RunDialog(
        [&](TSaveDialog& d, gfx::Surface& s)
        {
            AnswerName("Leads");
            Press(d, TSaveDialog::kAddCategoryId);
            backend.Then([&] { EXPECT_EQ(d.GetCategoryList().GetSelectedName(), "Leads"); });
            backend.Type(s, "Bass");
            Press(d, TSaveDialog::kSaveId);
        });
    EXPECT_TRUE(saved);
    EXPECT_TRUE(fs::is_directory(Root() / "Leads"));
    EXPECT_STREQ(static_cast<char const*>(category), "Leads");
    EXPECT_STREQ(static_cast<char const*>(name), "Bass");
}

TEST_F(SaveDialogTest, NamesThatLeaveTheFolderOrAreNoNamesAreRefused)
{
    MakeCategories({"Bass"});
    fs::path const outside = Root().parent_path();
    std::vector<std::string> const before = Tree(outside);
    struct Case
    {
        char const* bad;
        char const* message;
    };
    Case const cases[] = {{"a/b", "Please enter a name without '/', '\\' or control characters"},
                          {"..", "Please enter another name: '.' and '..' can't name a file"},
                          {"", "Please enter a name: the name is empty"}};
    for (Case const& c : cases)
    {
        char const* const bad = c.bad;
        // As a new category name, and as the name to save under.
        std::size_t const from = Messages().size();
        bool const saved = RunDialog(
            [&](TSaveDialog& d, gfx::Surface& s)
            {
                AnswerName(bad);
                Press(d, TSaveDialog::kAddCategoryId);
                backend.Type(s, bad);
                Press(d, TSaveDialog::kSaveId);
                Press(d, TSaveDialog::kCancelId);
            },
            "Bass");
        EXPECT_FALSE(saved) << bad;
        std::vector<std::string> expected = {std::string(": Error: New category named '") + bad +
                                                 "' could not be created.",
                                             std::string(": ") + c.message};
        EXPECT_EQ(Texts(from), expected) << bad;
        EXPECT_EQ(Tree(outside), before) << bad;
    }
}

TEST_F(SaveDialogTest, NamesTooLongForAFileAreRefusedWithTheReasonAndKept)
{
    MakeCategories({"Bass"});
    std::string const e2 = "\xc3\xa9"; // two bytes
    std::string twoByte;
    for (int i = 0; i < 121; ++i)
        twoByte += e2;
    struct Case
    {
        std::string typed;
        bool saved;
    };
    // The file takes the name, "(User)" unless it ends so, ".trv" and, while written, ".tmp":
    // 255 bytes in all.
    Case const cases[] = {{std::string(241, 'a'), true},
                          {std::string(242, 'a'), false},
                          {twoByte, false},
                          {std::string(241, 'b') + "(User)", true},
                          {std::string(242, 'b') + "(User)", false}};
    for (Case const& c : cases)
    {
        std::size_t const from = Messages().size();
        std::string kept;
        bool open = false;
        bool const saved = RunDialog(
            [&](TSaveDialog& d, gfx::Surface&)
            {
                Press(d, TSaveDialog::kSaveId);
                if (c.saved) return; // the run ends there
                backend.Then(
                    [&]
                    {
                        open = d.IsRunningModal();
                        kept = d.GetNameField().GetText().ToStdString();
                    });
                Press(d, TSaveDialog::kCancelId);
            },
            "Bass", c.typed.c_str());
        EXPECT_EQ(saved, c.saved) << c.typed.size();
        if (c.saved)
        {
            EXPECT_EQ(std::string(static_cast<char const*>(name)), c.typed);
            EXPECT_TRUE(Texts(from).empty());
            // The instrument saves under it.
            EXPECT_EQ(Synth().SavePatch("Bass", c.typed.c_str()), 1) << c.typed.size();
            continue;
        }
        EXPECT_TRUE(open) << c.typed.size();
        EXPECT_EQ(kept, c.typed);
        std::vector<std::string> const expected = {": Please enter a shorter name: this one has " +
                                                   std::to_string(c.typed.size()) +
                                                   " bytes, a file name takes at most 241"};
        EXPECT_EQ(Texts(from), expected);
    }
}

TEST_F(SaveDialogTest, DeletingAsksAndSelectsTheFirstRemainingCategory)
{
    MakeCategories({"Bass", "Leads", "Pads"});
    struct Case
    {
        bool answer;
        std::vector<std::string> left;
        std::string selected;
    };
    Case const cases[] = {{false, {"Bass", "Leads", "Pads"}, "Leads"},
                          {true, {"Bass", "Pads"}, "Bass"},
                          {true, {"Pads"}, "Pads"},
                          {true, {}, ""}};
    char const* select[] = {"Leads", "Leads", "Bass", "Pads"};
    for (std::size_t i = 0; i < std::size(cases); ++i)
    {
        Case const& c = cases[i];
        messageRecord->SetAnswer(c.answer);
        std::string selected = "unset";
        int selection = -2;
        RunDialog(
            [&](TSaveDialog& d, gfx::Surface&)
            {
                Press(d, TSaveDialog::kDeleteCategoryId);
                backend.Then(
                    [&]
                    {
                        selected = d.GetCategoryList().GetSelectedName();
                        selection = d.GetCategoryList().GetSelection();
                    });
                Press(d, TSaveDialog::kCancelId);
            },
            select[i]);
        std::vector<std::string> left;
        for (auto const& e : fs::directory_iterator(Root()))
            left.push_back(e.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, c.left) << i;
        EXPECT_EQ(selected, c.selected) << i;
        EXPECT_EQ(selection, c.left.empty() ? -1 : (c.answer ? 0 : 1)) << i;
    }
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages()[0].text, "Delete the Category 'Leads' and all its contents?");
    EXPECT_EQ(Messages()[0].caption, "Delete Category");
}

TEST_F(SaveDialogTest, SavingOverAFileAsksAndNoKeepsTheDialogOpen)
{
    MakeCategories({"Leads"});
    {
        std::ofstream old(Root() / "Leads" / "Bass(User).trv", std::ios::binary);
        old << "old bytes";
    }
    Manager().Refresh();
    for (char const* typed : {"Bass", "Bass(User)"})
    {
        messageRecord->SetAnswer(false);
        bool stillOpen = false;
        bool const saved = RunDialog(
            [&](TSaveDialog& d, gfx::Surface& s)
            {
                backend.Type(s, typed);
                Press(d, TSaveDialog::kSaveId);
                backend.Then([&] { stillOpen = d.IsRunningModal(); });
                Press(d, TSaveDialog::kCancelId);
            },
            "Leads");
        EXPECT_FALSE(saved) << typed;
        EXPECT_TRUE(stillOpen) << typed;
        EXPECT_EQ(ReadAll(Root() / "Leads" / "Bass(User).trv"), "old bytes");
    }
    ASSERT_EQ(Messages().size(), 2u);
    EXPECT_TRUE(Messages()[0].question);
    EXPECT_EQ(Messages()[0].text, "'Bass(User)' already exists in the category 'Leads'. Replace it?");

    messageRecord->SetAnswer(true);
    EXPECT_TRUE(RunDialog(
        [&](TSaveDialog& d, gfx::Surface& s)
        {
            backend.Type(s, "Bass");
            Press(d, TSaveDialog::kSaveId);
        },
        "Leads"));
    EXPECT_STREQ(static_cast<char const*>(name), "Bass");
}

TEST_F(SaveDialogTest, RenamingToANameInUseKeepsTheListAndAMissingPictureEndsCreation)
{
    MakeCategories({"Bass", "Leads"});
    std::string afterFailed;
    std::string afterRenamed;
    RunDialog(
        [&](TSaveDialog& d, gfx::Surface&)
        {
            AnswerName("Leads");
            AnswerName("Keys");
            Press(d, TSaveDialog::kRenameCategoryId);
            backend.Then([&] { afterFailed = d.GetCategoryList().GetSelectedName(); });
            Press(d, TSaveDialog::kRenameCategoryId);
            backend.Then([&] { afterRenamed = d.GetCategoryList().GetSelectedName(); });
            Press(d, TSaveDialog::kCancelId);
        },
        "Bass");
    EXPECT_EQ(afterFailed, "Bass");
    EXPECT_EQ(afterRenamed, "Keys");
    EXPECT_TRUE(fs::is_directory(Root() / "Keys"));
    EXPECT_EQ(Texts(),
              std::vector<std::string>{
                  "Torvane Error: Could not rename category. The new name is invalid or already in use"});

    for (char const* picture : {"SaveDialog.png", "RenameDisabledBut.png"})
    {
        ScopedMissingEditorImage missing(picture);
        bool ran = false;
        Responders::NextModalRun([&](Frame& f) { ran = true, f.QuitModal(); });
        TSaveDialog dialog;
        EXPECT_FALSE(dialog.Create(page.get(), 10, 10, &Manager(), category, name, "t", 0, "x")) << picture;
        EXPECT_FALSE(ran) << picture;
        EXPECT_EQ(Messages().back().caption, "Torvane error in TSaveDialog::Create");
        Responders::Clear();
    }
}
