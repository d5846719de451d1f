#include "framework/PresetManager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace
{
using Bytes = std::string;
Bytes const patchHeader = Bytes("TorvanePatch\r") + Bytes("\x00\x00\x80\x3F", 4);

Bytes ReadFile(fs::path const& p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(fs::path const& p, Bytes const& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

// Installs a chooser for one scope and puts the previous one back.
class ScopedChooser
{
public:
    explicit ScopedChooser(CascadeList::Chooser c) : previous(CascadeList::SetChooser(std::move(c))) {}
    ~ScopedChooser() { CascadeList::SetChooser(std::move(previous)); }

private:
    CascadeList::Chooser previous;
};

// "category: preset preset ..." per category item, with the item ids.
std::vector<std::string> Menu(BankList const& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.NumItems(); ++i)
    {
        CascadeList::Item* c = list.GetItem(i);
        std::string line = c->name + "#" + std::to_string(c->id) + ":";
        for (int j = 0; j < c->subList->NumItems(); ++j)
        {
            CascadeList::Item* p = c->subList->GetItem(j);
            line += " " + p->name + "#" + std::to_string(p->id);
        }
        out.push_back(line);
    }
    return out;
}

std::string Name(PresetManager::PresetEntry const* e)
{
    return e ? std::string(e->GetCategory()) + "/" + std::string(e->GetPresetName()) : "null";
}

class PresetManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static std::atomic<int> counter{0};
        base = fs::temp_directory_path() /
               ("torvane-presets-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        root = base / "Patches";
        fs::create_directories(root);
        format.extension = "trv";
        format.formatName = "TorvanePatch";
    }
    void TearDown() override { fs::remove_all(base); }

    void Init() { manager.Init(root.c_str(), format); }

    // Saves a preset with one int as payload through the manager.
    bool Save(char const* category, char const* name, int payload = 0)
    {
        ParameterFileWriter writer;
        if (!manager.SaveStart(category, name, writer)) return false;
        writer.Write(payload);
        bool saved = writer.Close();
        manager.SaveEnd();
        return saved;
    }

    fs::path base;
    fs::path root;
    ParameterFileFormat format;
    PresetManager manager;
};
} // namespace

TEST_F(PresetManagerTest, SaveAppliesTheUserSuffixAndCreatesTheCategory)
{
    Init();
    ASSERT_TRUE(Save("Leads", "Bass", 5));
    fs::path bass = root / "Leads" / "Bass(User).trv";
    EXPECT_EQ(ReadFile(bass), patchHeader + Bytes("\x05\x00\x00\x00", 4));

    ASSERT_TRUE(Save("Leads", "Bass(User)", 6)); // already a user name: same file, replaced
    EXPECT_EQ(ReadFile(bass), patchHeader + Bytes("\x06\x00\x00\x00", 4));

    ASSERT_TRUE(Save("Leads", "(User)")); // the bare suffix is no user name
    EXPECT_TRUE(fs::exists(root / "Leads" / "(User)(User).trv"));

    EXPECT_EQ(Menu(manager.GetList()), std::vector<std::string>{"Leads#0: (User)(User)#0 Bass(User)#1"});
    EXPECT_TRUE(PresetManager::IsUserPresetName("Bass(User)"));
    EXPECT_FALSE(PresetManager::IsUserPresetName("(User)"));
    EXPECT_FALSE(PresetManager::IsUserPresetName("Bass(user)"));
    EXPECT_TRUE(manager.GetNext("", "")->IsUserPreset());

    ParameterFileReader reader;
    ASSERT_TRUE(manager.LoadStart("Leads", "Bass(User)", reader));
    int payload = 0;
    EXPECT_TRUE(reader.Read(&payload));
    EXPECT_EQ(payload, 6);
    EXPECT_FALSE(manager.LoadStart("Leads", "Bass", reader)); // names are used as given
    EXPECT_FALSE(reader.IsOpen());
}

TEST_F(PresetManagerTest, ListingIsSortedFilteredByExtensionAndOneLevelDeep)
{
    WriteFile(root / "Pads" / "C.trv", patchHeader);
    WriteFile(root / "Pads" / "B.txt", "");
    WriteFile(root / "Pads" / "A.trv", patchHeader);
    WriteFile(root / "Pads" / "A.trv.tmp", "");               // an unfinished save
    WriteFile(root / "Pads" / "Deep" / "D.trv", patchHeader); // too deep
    WriteFile(root / "Bells" / "Z.trv", patchHeader);
    WriteFile(root / "Loose.trv", patchHeader); // not in a category
    fs::create_directories(root / "Empty");
    Init();

    EXPECT_EQ(Menu(manager.GetList()),
              (std::vector<std::string>{"Bells#0: Z#0", "Empty#1:", "Pads#2: A#0 C#3"}));
    CascadeList::Item* pads = manager.GetList().GetItem(2);
    ASSERT_NE(pads->data, nullptr);
    EXPECT_EQ(std::string(*static_cast<String*>(pads->data)), (root / "Pads").string());
    EXPECT_EQ(std::string(*static_cast<String*>(pads->subList->GetItem(1)->data)),
              (root / "Pads" / "C.trv").string());

    // The flat list follows the menu.
    EXPECT_EQ(Name(manager.GetNext("Bells", "Z")), "Pads/A");
    EXPECT_EQ(Name(manager.GetNext("Pads", "A")), "Pads/C");

    // A missing root gives empty lists.
    PresetManager missing;
    missing.Init((base / "nowhere").c_str(), format);
    EXPECT_EQ(missing.GetList().NumItems(), 0);
    EXPECT_EQ(missing.GetNext("a", "b"), nullptr);
    EXPECT_EQ(missing.GetPrevious("a", "b"), nullptr);
}

TEST_F(PresetManagerTest, NextAndPreviousWrapAround)
{
    WriteFile(root / "K" / "P1.trv", patchHeader);
    WriteFile(root / "K" / "P2.trv", patchHeader);
    WriteFile(root / "L" / "P3.trv", patchHeader);
    Init();

    EXPECT_EQ(Name(manager.GetNext("K", "P1")), "K/P2");
    EXPECT_EQ(Name(manager.GetNext("K", "P2")), "L/P3");
    EXPECT_EQ(Name(manager.GetNext("L", "P3")), "K/P1");
    EXPECT_EQ(Name(manager.GetPrevious("K", "P1")), "L/P3");
    EXPECT_EQ(Name(manager.GetPrevious("L", "P3")), "K/P2");
    EXPECT_EQ(Name(manager.GetNext("K", "nothing")), "K/P1");
    EXPECT_EQ(Name(manager.GetPrevious("L", "P1")), "K/P1"); // the category counts too
    EXPECT_EQ(Name(manager.GetNext(nullptr, nullptr)), "K/P1");
}

TEST_F(PresetManagerTest, NamesThatLeaveTheFolderOrAreNotNamesAreRefused)
{
    WriteFile(root / "Keep" / "Keep.trv", patchHeader);
    WriteFile(base / "Outside.trv", "outside");
    Init();

    char const* bad[] = {"", ".", "..", "a/b", "a\\b", "tab\there", "nl\n", "del\x7F"};
    for (char const* name : bad)
    {
        SCOPED_TRACE(testing::PrintToString(name));
        EXPECT_FALSE(PresetManager::IsValidName(name));
        EXPECT_FALSE(Save("Keep", name));
        EXPECT_FALSE(Save(name, "Fine"));
        EXPECT_FALSE(manager.CreateNewCategory(name, true));
        EXPECT_FALSE(manager.RenameCategory("Keep", name));
        EXPECT_FALSE(manager.RenamePreset("Keep", "Keep", name));
    }
    EXPECT_FALSE(PresetManager::IsValidName(nullptr));
    EXPECT_FALSE(Save(nullptr, "x"));
    EXPECT_TRUE(PresetManager::IsValidName("Warm Pad (2) - ok.v2"));

    // Existing names that would reach outside the root are refused as well.
    EXPECT_FALSE(manager.DeleteCategory("..", true));
    EXPECT_FALSE(manager.DeletePreset("..", "Outside"));
    EXPECT_FALSE(manager.DeletePreset("Keep", "../../Outside"));
    ParameterFileReader reader;
    EXPECT_FALSE(manager.LoadStart(".", "Keep/Keep", reader));
    EXPECT_EQ(std::string(manager.MakePresetPath("Keep", "../x")), "");
    EXPECT_EQ(std::string(manager.MakeCategoryPath("..")), "");

    EXPECT_EQ(ReadFile(base / "Outside.trv"), "outside");
    EXPECT_TRUE(fs::exists(root / "Keep" / "Keep.trv"));
    std::vector<std::string> left;
    for (auto const& e : fs::recursive_directory_iterator(base))
        left.push_back(fs::relative(e.path(), base).string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{"Outside.trv", "Patches", "Patches/Keep", "Patches/Keep/Keep.trv"}));

    // Without a root nothing is built at all.
    PresetManager uninitialised;
    ParameterFileWriter writer;
    EXPECT_FALSE(uninitialised.SaveStart("Leads", "Bass", writer));
    EXPECT_FALSE(writer.Close());
    EXPECT_EQ(std::string(uninitialised.MakeCategoryPath("Leads")), "");
}

TEST_F(PresetManagerTest, RenamesNeverReplaceAndDeletesRemove)
{
    ASSERT_TRUE(fs::create_directories(root / "A"));
    Init();
    ASSERT_TRUE(Save("A", "One", 1));
    ASSERT_TRUE(Save("A", "Two", 2));
    ASSERT_TRUE(Save("B", "Three", 3));

    EXPECT_FALSE(manager.RenamePreset("A", "One(User)", "Two(User)"));
    EXPECT_EQ(ReadFile(root / "A" / "One(User).trv"), patchHeader + Bytes("\x01\x00\x00\x00", 4));
    EXPECT_EQ(ReadFile(root / "A" / "Two(User).trv"), patchHeader + Bytes("\x02\x00\x00\x00", 4));
    EXPECT_FALSE(manager.RenamePreset("A", "Missing", "New"));

    ASSERT_TRUE(manager.RenamePreset("A", "One(User)", "Uno")); // no suffix added on renames
    EXPECT_EQ(ReadFile(root / "A" / "Uno.trv"), patchHeader + Bytes("\x01\x00\x00\x00", 4));
    EXPECT_EQ(Menu(manager.GetList()),
              (std::vector<std::string>{"A#0: Two(User)#0 Uno#1", "B#1: Three(User)#0"}));

    // A category rename onto an existing one, even an empty one, is refused.
    ASSERT_TRUE(manager.CreateNewCategory("Empty", true));
    EXPECT_FALSE(manager.CreateNewCategory("Empty", true));
    EXPECT_FALSE(manager.RenameCategory("A", "B"));
    EXPECT_FALSE(manager.RenameCategory("A", "Empty"));
    EXPECT_TRUE(fs::exists(root / "A" / "Uno.trv"));
    EXPECT_TRUE(fs::exists(root / "B" / "Three(User).trv"));
    ASSERT_TRUE(manager.RenameCategory("A", "C"));
    EXPECT_EQ(Menu(manager.GetList()),
              (std::vector<std::string>{"B#0: Three(User)#0", "C#1: Two(User)#0 Uno#1", "Empty#2:"}));

    ASSERT_TRUE(manager.DeletePreset("C", "Uno"));
    EXPECT_FALSE(manager.DeletePreset("C", "Uno"));
    EXPECT_EQ(Name(manager.GetNext("B", "Three(User)")), "C/Two(User)");

    // Deleting a category without a rebuild leaves the lists until the next one.
    ASSERT_TRUE(manager.DeleteCategory("C", false));
    EXPECT_FALSE(fs::exists(root / "C"));
    EXPECT_EQ(manager.GetList().NumItems(), 3);
    EXPECT_EQ(Name(manager.GetNext("B", "Three(User)")), "C/Two(User)");
    manager.Refresh();
    EXPECT_EQ(Menu(manager.GetList()), (std::vector<std::string>{"B#0: Three(User)#0", "Empty#1:"}));
    ASSERT_TRUE(manager.DeleteCategory("Empty", true));
    EXPECT_FALSE(manager.DeleteCategory("Empty", true));
    EXPECT_EQ(manager.GetList().NumItems(), 1);
}

TEST_F(PresetManagerTest, IndexFormsUseTheMenuAndCheckTheirBounds)
{
    WriteFile(root / "Bass" / "Sub.trv", patchHeader);
    WriteFile(root / "Keys" / "EP.trv", patchHeader);
    Init();

    EXPECT_EQ(std::string(manager.MakeCategoryPath(1)), (root / "Keys").string());
    EXPECT_EQ(std::string(manager.MakePresetPath(0, "Sub")), (root / "Bass" / "Sub.trv").string());
    for (int bad : {-1, 2, 1000})
    {
        EXPECT_EQ(std::string(manager.MakeCategoryPath(bad)), "") << bad;
        EXPECT_EQ(std::string(manager.MakePresetPath(bad, "Sub")), "") << bad;
        EXPECT_FALSE(manager.RenamePreset(bad, "Sub", "New")) << bad;
        EXPECT_FALSE(manager.DeletePreset(bad, "Sub")) << bad;
        EXPECT_FALSE(manager.RenameCategory(bad, "New")) << bad;
    }
    EXPECT_TRUE(fs::exists(root / "Bass" / "Sub.trv"));

    ASSERT_TRUE(manager.RenamePreset(0, "Sub", "Deep"));
    ASSERT_TRUE(manager.RenameCategory(1, "Piano"));
    EXPECT_EQ(Menu(manager.GetList()), (std::vector<std::string>{"Bass#0: Deep#0", "Piano#1: EP#0"}));
    ASSERT_TRUE(manager.DeletePreset(1, "EP"));
    EXPECT_EQ(Menu(manager.GetList()), (std::vector<std::string>{"Bass#0: Deep#0", "Piano#1:"}));
}

TEST_F(PresetManagerTest, SavingOverAPresetKeepsTheOldFileUntilTheNewOneIsComplete)
{
    Init();
    ASSERT_TRUE(Save("A", "P", 1));
    fs::path p = root / "A" / "P(User).trv";
    Bytes const old = ReadFile(p);
    {
        ParameterFileWriter writer;
        ASSERT_TRUE(manager.SaveStart("A", "P", writer));
        writer.Write(2);
        // The payload's writer failed half way: the writer goes without Close.
    }
    manager.SaveEnd();
    EXPECT_EQ(ReadFile(p), old);
    EXPECT_EQ(Menu(manager.GetList()), std::vector<std::string>{"A#0: P(User)#0"});
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "A"), fs::directory_iterator()), 1);
}

TEST_F(PresetManagerTest, MenuChoiceOpensTheChosenPreset)
{
    WriteFile(root / "Leads" / "Good.trv", patchHeader + Bytes("\x09\x00\x00\x00", 4));
    WriteFile(root / "Leads" / "Foreign.trv", Bytes("Timeline\r") + Bytes("\x00\x00\x80\x3F", 4));
    Init();

    std::vector<std::pair<long, long>> places;
    std::string wanted;
    ScopedChooser chooser(
        [&](CascadeList& list, Window*, long x, long y) -> CascadeList::Item*
        {
            places.emplace_back(x, y);
            for (int i = 0; i < list.NumItems(); ++i)
            {
                CascadeList::Item* category = list.GetItem(i);
                if (category->name == wanted) return category;
                for (int j = 0; j < category->subList->NumItems(); ++j)
                    if (category->subList->GetItem(j)->name == wanted) return category->subList->GetItem(j);
            }
            return nullptr;
        });

    ParameterFileReader reader;
    wanted = "";
    EXPECT_EQ(manager.OpenCascadeList(nullptr, reader, 50, 60), 0);
    wanted = "Foreign";
    EXPECT_EQ(manager.OpenCascadeList(nullptr, reader, 0, 0), 2);
    EXPECT_FALSE(reader.IsOpen());
    wanted = "Leads"; // a category is no preset
    EXPECT_EQ(manager.OpenCascadeList(nullptr, reader, 0, 0), 2);
    wanted = "Good";
    ASSERT_EQ(manager.OpenCascadeList(nullptr, reader, 0, 0), 1);
    int payload = 0;
    EXPECT_TRUE(reader.Read(&payload));
    EXPECT_EQ(payload, 9);
    EXPECT_EQ(reader.format.version, 1.0f);
    EXPECT_EQ(places.front(), std::make_pair(50L, 60L));
}

namespace
{
// Counts the manager's rebuilds and checks that the menu is whole when told.
class RebuildCounter : public EventHandler
{
public:
    explicit RebuildCounter(PresetManager& m) : manager(m)
    {
        m.rebuilt.AddHandler(this, &RebuildCounter::Rebuilt);
    }
    void Rebuilt()
    {
        ++count;
        categories = manager.GetList().NumItems();
    }
    PresetManager& manager;
    int count = 0;
    int categories = -1;
};
} // namespace

TEST_F(PresetManagerTest, RebuiltFiresAfterEveryRebuildFailedRenamesAndDeletesIncluded)
{
    Init();
    ASSERT_TRUE(Save("Leads", "Bass"));
    ASSERT_TRUE(Save("Leads", "Pad"));
    struct Case
    {
        char const* what;
        std::function<bool(PresetManager&)> run;
        bool result;
        int rebuilds;
    };
    Case const cases[] = {
        {"refresh",
         [](PresetManager& m)
         {
             m.Refresh();
             return true;
         },
         true, 1},
        {"save end",
         [](PresetManager& m)
         {
             m.SaveEnd();
             return true;
         },
         true, 1},
        {"preset renamed to a name in use",
         [](PresetManager& m) { return m.RenamePreset("Leads", "Bass(User)", "Pad(User)"); }, false, 1},
        {"preset renamed", [](PresetManager& m) { return m.RenamePreset("Leads", "Bass(User)", "Sub"); },
         true, 1},
        {"missing preset deleted", [](PresetManager& m) { return m.DeletePreset("Leads", "Nothing"); }, false,
         1},
        {"preset deleted", [](PresetManager& m) { return m.DeletePreset("Leads", "Sub"); }, true, 1},
        {"category created", [](PresetManager& m) { return m.CreateNewCategory("Pads", true); }, true, 1},
        {"category created without rebuild",
         [](PresetManager& m) { return m.CreateNewCategory("Keys", false); }, true, 0},
        {"existing category created", [](PresetManager& m) { return m.CreateNewCategory("Pads", true); },
         false, 0},
        {"category renamed over another", [](PresetManager& m) { return m.RenameCategory("Pads", "Leads"); },
         false, 1},
        {"missing category deleted", [](PresetManager& m) { return m.DeleteCategory("Nothing", true); },
         false, 0},
        {"category deleted", [](PresetManager& m) { return m.DeleteCategory("Pads", true); }, true, 1},
    };
    for (Case const& c : cases)
    {
        RebuildCounter counter(manager);
        EXPECT_EQ(c.run(manager), c.result) << c.what;
        EXPECT_EQ(counter.count, c.rebuilds) << c.what;
        if (c.rebuilds > 0)
        {
            EXPECT_EQ(counter.categories, manager.GetList().NumItems()) << c.what;
        }
    }
}
