#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ToolkitTestSupport.h"
#include "toolkit/FileDialog.h"

namespace
{
class FileDialogTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        page = MakeRoot(200, 200, 0, 0);
        root = std::filesystem::temp_directory_path() / ("torvane-files-" + std::to_string(::getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "sub");
        for (char const* name : {"a.WAV", "a.wav", "b.txt", ".hidden.wav", "sub/c.wav"})
            std::ofstream(root / name) << "x";
        char const* home = std::getenv("HOME");
        oldHome = home ? home : "";
        ::setenv("HOME", root.c_str(), 1);
        types.Add("Wave (*.wav)", "wav");
        FileDialog::SetLastFolder(nullptr); // every test starts at home
    }
    void TearDown() override
    {
        ::setenv("HOME", oldHome.c_str(), 1);
        std::filesystem::remove_all(root);
        ToolkitTest::TearDown();
    }

    // Script steps against the dialog once it is open (it is the surface focused last).
    void Then(std::function<void(gfx::Surface&)> step)
    {
        backend.Then([this, step] { step(*backend.Focused()); });
    }
    void DoubleClickRow(int row)
    {
        Then(
            [this, row](gfx::Surface& s)
            {
                backend.Pause(std::chrono::seconds(1)); // not a third click of the last double click
                backend.DoubleClick(s, 20, 58 + 16 * row);
            });
    }
    void ClickUp()
    {
        Then([this](gfx::Surface& s) { backend.Click(s, 20, 30); });
    }
    void ClickCancel()
    {
        Then([this](gfx::Surface& s) { backend.Click(s, 345, 310); });
    }
    // The names of the listing's last paint (its rows start at y 60 of the dialog).
    std::vector<std::string> Listed()
    {
        std::vector<std::string> names;
        for (auto const& s : backend.Strings())
        {
            // The list's rows start at y 60, below the Up button's caption.
            if (s.size != 10 || s.x >= 40 || s.y < 60) continue;
            if (s.y == 60) names.clear();
            names.push_back(s.text);
        }
        return names;
    }

    std::filesystem::path root;
    std::string oldHome;
    FileDialog::TypeList types;
    std::unique_ptr<RecordingWindow> page;
};

TEST_F(FileDialogTest, TheFilterShowsFoldersAndExactExtensionsOnly)
{
    struct Case
    {
        char const* path;
        bool folder;
        bool shown;
    };
    for (Case c :
         {Case{"/x/a.WAV", false, false}, Case{"/x/a.wav", false, true}, Case{"/x/sub", true, true},
          Case{"/x/a.wav.bak", false, false}, Case{"/x/wav", false, false}, Case{"/x/A.Wav", false, false}})
        EXPECT_EQ(FileDialog::MyNavObjectFilterProc(c.path, c.folder, types), c.shown) << c.path;
    EXPECT_EQ(types.names.size(), 1u);
    EXPECT_STREQ(types.extensions[0], "wav");
}

TEST_F(FileDialogTest, ListsByNameAndCancelLeavesThePath)
{
    String path("unchanged");
    Then([this](gfx::Surface&) { EXPECT_EQ(Listed(), (std::vector<std::string>{"sub", "a.wav"})); });
    ClickCancel();
    EXPECT_FALSE(FileDialog::OpenDialog("Import", types, path));
    EXPECT_STREQ(path, "unchanged");
    EXPECT_EQ(gfx::Surface::All().size(), 1u);
}

TEST_F(FileDialogTest, IntoAFolderAndBackThenChoose)
{
    String path;
    std::vector<std::vector<std::string>> listings;
    auto record = [&] { Then([&, this](gfx::Surface&) { listings.push_back(Listed()); }); };
    record();
    DoubleClickRow(0); // sub
    record();
    ClickUp();
    record();
    DoubleClickRow(1);
    ASSERT_TRUE(FileDialog::OpenDialog("Import", types, path));
    EXPECT_EQ(path.ToStdString(), (root / "a.wav").string());
    EXPECT_EQ(FileDialog::LastFolder().ToStdString(), root.string());
    using Names = std::vector<std::string>;
    EXPECT_EQ(listings, (std::vector<Names>{Names{"sub", "a.wav"}, Names{"c.wav"}, Names{"sub", "a.wav"}}));

    // The next dialog starts where the last file was chosen; a typed name is opened.
    backend.Pause(std::chrono::seconds(1));
    DoubleClickRow(0);
    Then(
        [this](gfx::Surface&)
        {
            backend.Type("c.wav");
            backend.Key(gfx::kKeyReturn);
        });
    ASSERT_TRUE(FileDialog::OpenDialog("Import", types, path));
    EXPECT_EQ(path.ToStdString(), (root / "sub" / "c.wav").string());
}

TEST_F(FileDialogTest, APathOver255CharactersIsReturnedWhole)
{
    std::string a(150, 'a'), b(150, 'b');
    std::filesystem::create_directories(root / a / b);
    std::ofstream(root / a / b / "long.wav") << "x";
    String path;
    DoubleClickRow(0); // aaa... (folders first, by name)
    DoubleClickRow(0); // bbb...
    DoubleClickRow(0); // long.wav
    ASSERT_TRUE(FileDialog::OpenDialog("Import", types, path));
    std::string expected = (root / a / b / "long.wav").string();
    EXPECT_GT(expected.size(), 255u);
    EXPECT_EQ(path.ToStdString(), expected);
}

TEST_F(FileDialogTest, AnUnreadableFolderListsEmpty)
{
    String path("kept");
    Then(
        [this](gfx::Surface&)
        {
            backend.Type("/no/such/folder");
            backend.Key(gfx::kKeyReturn);
            backend.Key(gfx::kKeyEscape);
        });
    EXPECT_FALSE(FileDialog::OpenDialog("Import", types, path));
    EXPECT_STREQ(path, "kept");
}
} // namespace
