#include "framework/Paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/PluginBase.h"

namespace fs = std::filesystem;

namespace
{
// Sets (or unsets, with null) an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(char const* name, char const* value) : name(name)
    {
        if (char const* old = std::getenv(name)) previous = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (previous)
            setenv(name.c_str(), previous->c_str(), 1);
        else
            unsetenv(name.c_str());
    }

private:
    std::string name;
    std::optional<std::string> previous;
};

// A fresh folder below the system's temporary folder, removed afterwards. The process-wide
// folder texts are put back as they were.
class PathsTests : public testing::Test
{
protected:
    void SetUp() override
    {
        static int counter = 0;
        temp = fs::temp_directory_path() /
               ("torvane-paths-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
        fs::create_directories(temp);
        saved = {GetRootPath(), GetImagePath(), GetDataPath(), GetPresetsPath()};
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(temp, ec);
        SetRootPath(saved[0].c_str());
        SetImagePath(saved[1].c_str());
        SetDataPath(saved[2].c_str());
        SetPresetsPath(saved[3].c_str());
    }

    std::string T(std::string const& relative) const { return (temp / relative).string(); }
    static void Touch(std::string const& path) { std::ofstream(path) << "x"; }

    static std::vector<std::string> Texts(std::vector<String> const& v)
    {
        std::vector<std::string> out;
        for (auto const& s : v)
            out.emplace_back(s);
        return out;
    }

    fs::path temp;
    std::vector<std::string> saved;
};

std::string Text(String const& s)
{
    return std::string(static_cast<char const*>(s));
}
} // namespace

TEST_F(PathsTests, RootDerivesTheOtherFoldersAndImagePathsFollowTheImageFolder)
{
    EXPECT_TRUE(SetRootPath("/x/"));
    EXPECT_STREQ(GetRootPath(), "/x/");
    EXPECT_STREQ(GetImagePath(), "/x/Data/Images/");
    EXPECT_STREQ(GetDataPath(), "/x/Data/");
    EXPECT_STREQ(GetPresetsPath(), "/x/Data/Patches/");
    EXPECT_EQ(Text(MakeImagePath("knob.png")), "/x/Data/Images/knob.png");

    // The instrument overrides the image and presets folders after setting the root.
    EXPECT_TRUE(SetImagePath("/y/Images/"));
    EXPECT_TRUE(SetPresetsPath("/y/Patches"));
    EXPECT_EQ(Text(MakeImagePath("Fader.png")), "/y/Images/Fader.png");
    EXPECT_STREQ(GetPresetsPath(), "/y/Patches");
    EXPECT_STREQ(GetDataPath(), "/x/Data/");
}

TEST_F(PathsTests, FolderTextsThatDoNotFitChangeNothing)
{
    SetRootPath("/x/");
    // "Data/Patches/" is the longest derived ending: 13 characters.
    std::string const fits = "/" + std::string(kMaxFolderPathLength - 13 - 2, 'r') + "/";
    std::string const tooLong = "/" + fits;
    EXPECT_FALSE(SetRootPath(tooLong.c_str()));
    EXPECT_STREQ(GetRootPath(), "/x/");
    EXPECT_STREQ(GetPresetsPath(), "/x/Data/Patches/");
    EXPECT_TRUE(SetRootPath(fits.c_str()));
    EXPECT_EQ(std::string(GetPresetsPath()), fits + "Data/Patches/");
    EXPECT_EQ(std::string(GetPresetsPath()).size(), size_t(kMaxFolderPathLength));

    std::string const longest(kMaxFolderPathLength, 'i');
    EXPECT_TRUE(SetImagePath(longest.c_str()));
    EXPECT_FALSE(SetImagePath((longest + "i").c_str()));
    EXPECT_FALSE(SetDataPath(nullptr));
    EXPECT_FALSE(SetRootPath(nullptr));
    EXPECT_EQ(std::string(GetImagePath()), longest);
}

TEST_F(PathsTests, TakingPathsApart)
{
    struct Case
    {
        char const* path;
        char const* extension;
        char const* fileName;
        char const* withoutExtension;
        char const* parent;
    };
    Case const cases[] = {
        {"/a/b/c", "", "c", "/a/b/c", "/a/b"},
        {"/a/b/", "", "", "/a/b/", "/a"},
        {"/a", "", "a", "/a", ""},
        {"abc", "", "", "abc", ""},
        {"", "", "", "", ""},
        {"/", "", "", "/", ""},
        {"//", "", "", "//", ""},
        {"a/", "", "", "a/", ""},
        {"/a/b.txt", "txt", "b.txt", "/a/b", "/a"},
        {"b.txt", "txt", "", "b", ""},
        {"/a/b.c/d", "", "d", "/a/b.c/d", "/a/b.c"},
        {"/a/b.tar.gz", "gz", "b.tar.gz", "/a/b.tar", "/a"},
        {"/a/b.", "", "b.", "/a/b", "/a"},
        {"/a.b/c", "", "c", "/a.b/c", "/a.b"},
        {"/a/c.d.e", "e", "c.d.e", "/a/c.d", "/a"},
        {"C:\\pre\\sets\\x.tvp", "tvp", "x.tvp", "C:\\pre\\sets\\x", "C:\\pre\\sets"},
        {"/a/b\\", "", "", "/a/b\\", "/a"},
        {"/a/.hidden", "hidden", ".hidden", "/a/", "/a"},
    };
    for (Case const& c : cases)
    {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Text(PathManager::ExtractExtension(c.path)), c.extension);
        EXPECT_EQ(Text(PathManager::ExtractFilenameFromPath(c.path)), c.fileName);
        String stripped(c.path);
        PathManager::RemoveExtension(stripped);
        EXPECT_EQ(Text(stripped), c.withoutExtension);
        EXPECT_EQ(stripped.GetLength(), long(std::string(c.withoutExtension).size()));
        String parent(c.path);
        EXPECT_EQ(PathManager::PathMakeParent(parent), long(std::string(c.parent).size()));
        EXPECT_EQ(Text(parent), c.parent);
        EXPECT_EQ(parent.GetLength(), long(std::string(c.parent).size()));
    }
    EXPECT_EQ(Text(PathManager::ExtractExtension(nullptr)), "");
    EXPECT_EQ(Text(PathManager::ExtractFilenameFromPath(nullptr)), "");
}

TEST_F(PathsTests, ApplicationAndDocumentFoldersFollowTheEnvironment)
{
    ScopedEnv home("HOME", "/home/user/");
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/data/home/");
        EXPECT_EQ(Text(PathManager::GetApplicationDataPath()), "/data/home");
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative/data"); // not absolute: ignored
        EXPECT_EQ(Text(PathManager::GetApplicationDataPath()), "/home/user/.local/share");
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", nullptr);
        EXPECT_EQ(Text(PathManager::GetApplicationDataPath()), "/home/user/.local/share");
        String root;
        root.Format("%s/Corvella Audio/Torvane/",
                    static_cast<char const*>(PathManager::GetApplicationDataPath()));
        EXPECT_EQ(Text(root), "/home/user/.local/share/Corvella Audio/Torvane/");
    }
    EXPECT_EQ(Text(PathManager::GetUserDocumentsPath()), "/home/user/Documents");
}

TEST_F(PathsTests, CreatingFoldersMakesMissingParentsOnce)
{
    std::string const deep = T("a/b/c");
    EXPECT_TRUE(PathManager::CreateFolder(deep.c_str()));
    EXPECT_TRUE(fs::is_directory(T("a")));
    EXPECT_TRUE(fs::is_directory(T("a/b")));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_FALSE(PathManager::CreateFolder(deep.c_str())); // exists already

    // Final separators are ignored, so the data folder text can be passed as it is.
    EXPECT_TRUE(PathManager::CreateFolder(T("d/e/").c_str()));
    EXPECT_TRUE(fs::is_directory(T("d/e")));

    Touch(T("file"));
    EXPECT_FALSE(PathManager::CreateFolder(T("file/sub").c_str()));
    EXPECT_TRUE(fs::is_regular_file(T("file")));
    EXPECT_FALSE(PathManager::CreateFolder(""));
    EXPECT_FALSE(PathManager::CreateFolder("/"));
    EXPECT_FALSE(PathManager::CreateFolder(nullptr));
}

TEST_F(PathsTests, ListingIsSortedByNameAndLeavesOutFinderFiles)
{
    fs::create_directories(T("list/sub/nested"));
    fs::create_directories(T("list/Alpha"));
    for (char const* name : {"b.dat", "a.dat", "Z.txt", ".DS_Store", "_x", "sub.tvp"})
        Touch(T(std::string("list/") + name));
    Touch(T("list/sub/inside.dat"));

    std::vector<String> folders{String("stale")};
    std::vector<String> files{String("stale")};
    ASSERT_TRUE(PathManager::BuildDirectoryList(T("list").c_str(), &folders, &files));
    std::string const base = T("list");
    EXPECT_EQ(Texts(folders), (std::vector<std::string>{base + "/Alpha", base + "/sub"}));
    EXPECT_EQ(Texts(files), (std::vector<std::string>{base + "/Z.txt", base + "/_x", base + "/a.dat",
                                                      base + "/b.dat", base + "/sub.tvp"}));

    // A final separator on the folder does not double the separator in the entries.
    ASSERT_TRUE(PathManager::BuildDirectoryList((base + "/").c_str(), nullptr, &files));
    EXPECT_EQ(Text(files.front()), base + "/Z.txt");
    ASSERT_TRUE(PathManager::BuildDirectoryList(base.c_str(), &folders, nullptr));
    EXPECT_EQ(folders.size(), 2u);

    ASSERT_TRUE(PathManager::BuildDirectoryList(T("list/Alpha").c_str(), &folders, &files));
    EXPECT_TRUE(folders.empty());
    EXPECT_TRUE(files.empty());
}

TEST_F(PathsTests, ListingSomethingThatIsNotAFolderFailsWithEmptyLists)
{
    Touch(T("plain"));
    for (std::string const& path : {T("missing"), T("plain"), std::string()})
    {
        std::vector<String> folders{String("stale")};
        std::vector<String> files{String("stale")};
        EXPECT_FALSE(PathManager::BuildDirectoryList(path.c_str(), &folders, &files));
        EXPECT_TRUE(folders.empty());
        EXPECT_TRUE(files.empty());
    }
    EXPECT_FALSE(PathManager::BuildDirectoryList(nullptr, nullptr, nullptr));
}

TEST_F(PathsTests, RemovingFolders)
{
    fs::create_directories(T("two"));
    Touch(T("two/1.dat"));
    Touch(T("two/2.dat"));
    EXPECT_FALSE(PathManager::RemoveFolder(T("two").c_str(), false)); // not empty
    EXPECT_TRUE(fs::exists(T("two/1.dat")));
    EXPECT_TRUE(PathManager::RemoveFolder(T("two").c_str(), true));
    EXPECT_FALSE(fs::exists(T("two")));

    // Sub-folders go with everything in them, at any depth.
    fs::create_directories(T("nest/empty"));
    fs::create_directories(T("nest/full/deeper"));
    Touch(T("nest/full/keep.dat"));
    Touch(T("nest/full/deeper/deep.dat"));
    Touch(T("nest/top.dat"));
    String why("unset");
    EXPECT_TRUE(PathManager::RemoveFolder(T("nest").c_str(), true, &why));
    EXPECT_FALSE(fs::exists(T("nest")));
    EXPECT_STREQ(why, "");

    // Files that lists leave out go too.
    fs::create_directories(T("finder"));
    Touch(T("finder/.DS_Store"));
    ASSERT_EQ(mkfifo(T("finder/pipe").c_str(), 0600), 0);
    EXPECT_TRUE(PathManager::RemoveFolder(T("finder").c_str(), true));
    EXPECT_FALSE(fs::exists(T("finder")));

    fs::create_directories(T("bare"));
    EXPECT_TRUE(PathManager::RemoveFolder(T("bare").c_str(), false));
    EXPECT_FALSE(PathManager::RemoveFolder(T("bare").c_str(), true));
    EXPECT_FALSE(PathManager::RemoveFolder(nullptr, true));
}

TEST_F(PathsTests, AFolderThatCannotGoWhollyIsLeftWholeAndTheReasonNamesThePart)
{
    struct Case
    {
        char const* what;
        bool forSuperUser; // whether the case can be made when permissions don't stop the user
        std::function<void(fs::path const&)> make;
        char const* reason;
    };
    Case const cases[] = {
        {"nested too deeply", true,
         [](fs::path const& f)
         {
             fs::path deep = f;
             for (int i = 0; i < 140; ++i)
                 deep /= "d";
             fs::create_directories(deep);
         },
         "is nested too deeply"},
        {"a sub-folder that can't be changed", false,
         [](fs::path const& f)
         {
             fs::create_directories(f / "locked");
             Touch((f / "locked" / "in.dat").string());
             chmod((f / "locked").c_str(), 0500);
         },
         "'cat/locked' can't be changed"},
        {"a sub-folder that can't be read", false,
         [](fs::path const& f)
         {
             fs::create_directories(f / "closed");
             chmod((f / "closed").c_str(), 0300);
         },
         "'cat/closed' can't be changed"},
    };
    for (Case const& c : cases)
    {
        if (!c.forSuperUser && geteuid() == 0) continue;
        fs::path const folder = T("cat");
        fs::create_directories(folder / "sub");
        Touch((folder / "top.dat").string());
        Touch((folder / "sub" / "inner.dat").string());
        c.make(folder);
        String why;
        EXPECT_FALSE(PathManager::RemoveFolder(folder.c_str(), true, &why)) << c.what;
        EXPECT_NE(std::string(why).find(c.reason), std::string::npos) << c.what << ": " << why;
        EXPECT_TRUE(fs::exists(folder / "top.dat")) << c.what;
        EXPECT_TRUE(fs::exists(folder / "sub" / "inner.dat")) << c.what;
        for (auto const& entry :
             fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied))
            chmod(entry.path().c_str(), 0700);
        std::error_code error;
        fs::remove_all(folder, error);
    }
}

TEST_F(PathsTests, RemovingALinkedFolderWithContentsRemovesOnlyTheLink)
{
    fs::create_directories(T("target"));
    Touch(T("target/precious.dat"));
    fs::create_directories(T("holder"));
    fs::create_directory_symlink(T("target"), T("holder/linked"));
    fs::create_directory_symlink(T("target"), T("link"));

    EXPECT_TRUE(PathManager::RemoveFolder(T("link").c_str(), true));
    EXPECT_FALSE(fs::exists(fs::symlink_status(T("link"))));
    EXPECT_TRUE(PathManager::RemoveFolder(T("holder").c_str(), true));
    EXPECT_TRUE(fs::exists(T("target/precious.dat")));
}

TEST_F(PathsTests, FilesExistRenameAndGo)
{
    std::string const a = T("a.tvp");
    std::string const b = T("b.tvp");
    EXPECT_FALSE(PathManager::Exists(a.c_str()));
    Touch(a);
    EXPECT_TRUE(PathManager::Exists(a.c_str()));
    EXPECT_TRUE(PathManager::Exists(temp.string().c_str()));
    EXPECT_TRUE(PathManager::Rename(a.c_str(), b.c_str()));
    EXPECT_FALSE(PathManager::Exists(a.c_str()));
    EXPECT_FALSE(PathManager::Rename(a.c_str(), b.c_str()));
    EXPECT_TRUE(PathManager::RemoveFile(b.c_str()));
    EXPECT_FALSE(PathManager::RemoveFile(b.c_str()));
    EXPECT_FALSE(PathManager::Exists(nullptr));
    EXPECT_FALSE(PathManager::Rename(nullptr, b.c_str()));
    EXPECT_FALSE(PathManager::RemoveFile(nullptr));
}

// A stand-in opener on PATH records how it was called, so the tests see exactly what the
// desktop would be given.
TEST_F(PathsTests, DesktopOpenerGetsThePathAsOneArgumentWithoutAShell)
{
    fs::create_directories(T("bin"));
    std::string const opener = T("bin/xdg-open");
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > \"$TORVANE_OPEN_LOG\"\n"
                             "exit \"${TORVANE_OPEN_STATUS:-0}\"\n";
    fs::permissions(opener, fs::perms::owner_all);
    std::string const log = T("open.log");
    ScopedEnv path("PATH", T("bin").c_str());
    ScopedEnv logEnv("TORVANE_OPEN_LOG", log.c_str());
    auto lastCall = [&]
    {
        std::stringstream s;
        s << std::ifstream(log).rdbuf();
        return s.str();
    };

    std::string const awkward = T("it's a \"patch\"; touch pwned $(id) `id`.pdf");
    EXPECT_TRUE(Shell::Run(awkward.c_str()));
    EXPECT_EQ(lastCall(), "1\n" + awkward + "\n");
    EXPECT_FALSE(fs::exists("pwned"));

    EXPECT_TRUE(Shell::ExploreFolder(temp.string().c_str()));
    EXPECT_EQ(lastCall(), "1\n" + temp.string() + "\n");

    EXPECT_TRUE(Shell::Run("-v")); // never taken for an option
    EXPECT_EQ(lastCall(), "1\n./-v\n");

    {
        ScopedEnv status("TORVANE_OPEN_STATUS", "4");
        EXPECT_FALSE(Shell::Run(temp.string().c_str()));
    }
    EXPECT_FALSE(Shell::Run(nullptr));
    EXPECT_FALSE(Shell::ExploreFolder(""));

    ScopedEnv noOpener("PATH", T("nothing-here").c_str());
    EXPECT_FALSE(Shell::ExploreFolder(temp.string().c_str()));
}

namespace
{
// A plug-in core that keeps the folders it saw right after it was built.
class FolderProbe : public PluginBase
{
public:
    explicit FolderProbe(std::string const& root)
        : PluginBase(0, nullptr, root.c_str()), data(GetDataPath()), images(GetImagePath()),
          presets(GetPresetsPath())
    {
    }
    void Render(float*, float*, float*, float*, long, int) override {}

    std::string data;
    std::string images;
    std::string presets;
};
} // namespace

TEST_F(PathsTests, TwoInstancesBuiltOnTwoThreadsKeepTheirOwnFolders)
{
    std::atomic<int> wrong{0};
    auto build = [&wrong](std::string const& home)
    {
        for (int i = 0; i < 2000; ++i)
        {
            FolderProbe probe(home);
            if (probe.data != home + "Data/" || probe.images != home + "Data/Images/" ||
                probe.presets != home + "Data/Patches/" || std::string(GetRootPath()) != home)
                wrong.fetch_add(1);
        }
    };
    std::thread first(build, std::string("/home/first/Torvane/"));
    std::thread second(build, std::string("/home/second/Torvane/"));
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);

    // A thread that set no folders reads those set last by any thread.
    std::string seen;
    std::thread([&] { seen = GetRootPath(); }).join();
    EXPECT_TRUE(seen == "/home/first/Torvane/" || seen == "/home/second/Torvane/") << seen;
}
