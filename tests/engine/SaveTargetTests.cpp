// Every kind of file the instrument saves (patches, waveforms, timeline presets, MIDI-learn
// mappings) against something planted where the writer works: a link, a FIFO or a folder at the
// name of its temporary file, or at the file it replaces. Nothing planted is written through or
// removed; a link in place of the file is replaced; a FIFO or folder there refuses the save.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "EditingTestSupport.h"
#include "framework/MidiLearn.h"
#include "framework/SaveReport.h"
#include "framework/Streams.h"
#include "support/HostileEntries.h"
#include "support/RecordingMessageSink.h"
#include "support/TemporaryDataHome.h"
#include "support/syscalls/SyscallLog.h"

using namespace editing;
namespace fs = std::filesystem;

namespace
{

// The temporary names writers try, in order: "AAAAAA", "BBBBBB", ...
int nameCount = 0;
std::string PlannedName()
{
    return std::string(6, static_cast<char>('A' + nameCount++ % 26));
}

enum class Plant
{
    LinkAtTemporaryName,
    FifoAtTemporaryName,
    FolderAtTemporaryName,
    LinkAtTarget,
    LinkAtTargetDotTmp, // where earlier versions put their temporary file
    FifoAtTarget,
    FolderAtTarget,
};

struct PlantRow
{
    char const* what;
    Plant plant;
    bool saved;
};

PlantRow const kPlants[] = {
    {"a link at the temporary name", Plant::LinkAtTemporaryName, true},
    {"a FIFO at the temporary name", Plant::FifoAtTemporaryName, true},
    {"a folder at the temporary name", Plant::FolderAtTemporaryName, true},
    {"a link at the file", Plant::LinkAtTarget, true},
    {"a link at the file's name with .tmp", Plant::LinkAtTargetDotTmp, true},
    {"a FIFO at the file", Plant::FifoAtTarget, false},
    {"a folder at the file", Plant::FolderAtTarget, false},
};

struct Kind
{
    char const* what;
    std::function<fs::path()> target; // the file a save writes
    char const* failure;              // the message of a failed save, before the reason
    char const* done;                 // how a save whose folder was not synced is told, before the reason
    std::function<bool(Kind const&)> save; // true when saved; tells the user as the editor does
};

// What a save came to: whether it saved, and the messages the user was given.
struct Saved
{
    bool saved = false;
    std::vector<std::string> told;
};

Saved Save(Kind const& kind)
{
    RecordingMessageSink messages;
    Saved result{kind.save(kind), {}};
    for (auto const& m : messages.Messages())
        result.told.push_back(m.text);
    return result;
}

// The entries of a folder whose names start as the writers' temporary files.
std::vector<std::string> TemporaryEntries(fs::path const& folder)
{
    std::vector<std::string> names;
    for (auto const& entry : fs::directory_iterator(folder))
    {
        std::string const name = entry.path().filename().string();
        if (name.rfind(kTemporaryNamePrefix, 0) == 0) names.push_back(name);
    }
    return names;
}

class SaveTargets : public ::testing::Test
{
protected:
    void SetUp() override
    {
        t = &FreshInstrument();
        SetTemporaryNameSource(PlannedName);
    }
    void TearDown() override { SetTemporaryNameSource(nullptr); }

    std::vector<Kind> Kinds()
    {
        auto preset = [](PresetManager* m, char const* name)
        { return fs::path(m->MakePresetPath("Planted", name).ToStdString()); };
        fs::path const mappings = fs::path(home.Path()) / "Data" / "MidiLearnMappings.dat";
        return {
            {"patch", [=, this] { return preset(t->GetPatchPresetManager(), "Pad(User)"); },
             "Error: Could not save patch", "The patch was saved",
             [this](Kind const& k)
             {
                 SaveOutcome outcome;
                 t->SavePatch("Planted", "Pad", &outcome);
                 return ReportSave(outcome, k.failure, k.done, "Error");
             }},
            {"waveform", [=, this] { return preset(t->GetWaveformPresetManager(), "Wave(User)"); },
             "Error: Could not save waveform", "The waveform was saved",
             [this](Kind const& k)
             {
                 SaveOutcome outcome;
                 t->SaveWaveform(&t->GetVoiceDef(0)->waveDef, 0, "Planted", "Wave(User)", &outcome);
                 return ReportSave(outcome, k.failure, k.done, "Error");
             }},
            {"timeline preset", [=, this] { return preset(t->GetTimelinePresetManager(), "Sweep(User)"); },
             "Could not save the timeline preset \"Sweep(User)\"",
             "The timeline preset \"Sweep(User)\" was saved",
             [this](Kind const&)
             { return t->SaveTimelinePreset("Planted", "Sweep(User)", std::vector<bool>(6, true)); }},
            {"MIDI-learn mappings", [=] { return mappings; }, "Could not save the MIDI-learn mappings",
             "The MIDI-learn mappings were saved",
             [=](Kind const&)
             {
                 MidiLearnManager learn;
                 learn.AutoLoadAndSave(mappings.c_str());
                 bool const saved = learn.DoAutoSave();
                 if (std::string const report = learn.TakeSaveReport(); !report.empty())
                     MessagePopup(report.c_str(), "Error");
                 return saved;
             }},
        };
    }

    // The target's folder made anew; the target holds "old" with that mode (none for 0).
    static void PlantTarget(fs::path const& target, mode_t oldMode)
    {
        std::error_code error;
        fs::remove_all(target.parent_path(), error);
        fs::create_directories(target.parent_path());
        if (oldMode == 0) return;
        std::ofstream(target) << "old";
        ASSERT_EQ(chmod(target.c_str(), oldMode), 0);
    }

    TemporaryDataHome home;
    Torvane* t = nullptr;
};

} // namespace

TEST_F(SaveTargets, NothingPlantedIsWrittenThroughAndALinkAtTheFileIsReplaced)
{
    RecordingMessageSink messages;
    for (Kind const& kind : Kinds())
    {
        for (PlantRow const& row : kPlants)
        {
            SCOPED_TRACE(std::string(kind.what) + ", " + row.what);
            fs::path const target = kind.target();
            fs::path const folder = target.parent_path();
            std::error_code error;
            fs::remove_all(folder, error);
            fs::create_directories(folder);
            fs::path const victim = fs::path(home.Path()) / "victim.dat";
            {
                std::ofstream(victim) << "victim";
            }
            nameCount = 0;
            fs::path const temporary = folder / (std::string(kTemporaryNamePrefix) + "AAAAAA");
            fs::path planted = target;
            if (row.plant == Plant::LinkAtTemporaryName || row.plant == Plant::FifoAtTemporaryName ||
                row.plant == Plant::FolderAtTemporaryName)
                planted = temporary;
            if (row.plant == Plant::LinkAtTargetDotTmp) planted = target.string() + ".tmp";
            switch (row.plant)
            {
            case Plant::LinkAtTemporaryName:
            case Plant::LinkAtTarget:
            case Plant::LinkAtTargetDotTmp:
                fs::create_symlink(victim, planted);
                break;
            case Plant::FifoAtTemporaryName:
            case Plant::FifoAtTarget:
                ASSERT_EQ(mkfifo(planted.c_str(), 0600), 0);
                break;
            case Plant::FolderAtTemporaryName:
            case Plant::FolderAtTarget:
                fs::create_directory(planted);
                break;
            }
            FifoWatchdog watchdog({planted});

            Saved const result = Save(kind);
            bool const saved = result.saved;
            EXPECT_FALSE(watchdog.End()) << "a FIFO was opened";
            // A FIFO or folder at the file says what it is.
            if (row.plant == Plant::FifoAtTarget || row.plant == Plant::FolderAtTarget)
            {
                std::string const what = row.plant == Plant::FifoAtTarget
                                             ? target.filename().string() + " is not a regular file"
                                             : std::strerror(EISDIR);
                EXPECT_EQ(result.told, std::vector<std::string>{kind.failure + (": " + what)});
            }
            EXPECT_EQ(saved, row.saved);
            EXPECT_EQ(ReadFile(victim), "victim");
            // What was planted stays as it was, except a link at the file, which the file replaces.
            fs::file_status const now = fs::symlink_status(planted);
            switch (row.plant)
            {
            case Plant::LinkAtTemporaryName:
            case Plant::LinkAtTargetDotTmp:
                EXPECT_TRUE(fs::is_symlink(now));
                break;
            case Plant::LinkAtTarget:
                EXPECT_TRUE(fs::is_regular_file(now));
                EXPECT_GT(fs::file_size(target), 0u);
                break;
            case Plant::FifoAtTemporaryName:
            case Plant::FifoAtTarget:
                EXPECT_TRUE(fs::is_fifo(now));
                break;
            case Plant::FolderAtTemporaryName:
            case Plant::FolderAtTarget:
                EXPECT_TRUE(fs::is_directory(now));
                EXPECT_TRUE(fs::is_empty(planted));
                break;
            }
            if (row.saved)
            {
                EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
            }
            // No temporary file of the writer's is left behind.
            std::vector<std::string> const left = TemporaryEntries(folder);
            bool const plantedThere = planted == temporary;
            EXPECT_EQ(left.size(), plantedThere ? 1u : 0u);
        }
    }
}

// Each save, call by call on the real descriptors: the temporary file takes the old file's
// mode before any data; its data are synced before the rename and the folder after it. A failed
// write, data sync, close or rename leaves the old file and no temporary file, and the user is
// told why, once; a failed folder sync leaves the file saved and says so.
TEST_F(SaveTargets, DataAreSyncedBeforeTheRenameAndTheFolderAfterIt)
{
    SetTemporaryNameSource(nullptr);
    mode_t const mask = umask(022);
    for (Kind const& kind : Kinds())
    {
        for (ReplaceCallRow const& row : ReplaceCallRows())
        {
            SCOPED_TRACE(std::string(kind.what) + ", " + row.what);
            fs::path const target = kind.target();
            ASSERT_NO_FATAL_FAILURE(PlantTarget(target, row.oldMode));
            Saved result;
            std::string story;
            {
                SyscallLog log(kTemporaryNamePrefix, target.filename().c_str());
                if (row.failing != nullptr) log.Fail(row.failing, row.error);
                result = Save(kind);
                story = log.Story();
            }
            EXPECT_EQ(story, row.story);
            EXPECT_EQ(result.saved, row.saved);
            EXPECT_TRUE(TemporaryEntries(target.parent_path()).empty());
            struct stat facts
            {
            };
            ASSERT_EQ(stat(target.c_str(), &facts), row.saved || row.oldMode != 0 ? 0 : -1);
            if (row.saved || row.oldMode != 0)
            {
                EXPECT_EQ(ReadFile(target) == "old", !row.saved);
                EXPECT_EQ(facts.st_mode & 07777, row.oldMode != 0 ? row.oldMode : 0644u);
            }
            EXPECT_EQ(result.told, row.Messages(kind.failure, kind.done));
        }
    }
    umask(mask);
}

TEST(TemporaryFiles, AreNewNamedAlikeAndOutsideEveryListedExtension)
{
    TemporaryDataHome home;
    std::vector<std::string> names;
    int const folder = open(home.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    for (int i = 0; i < 50; ++i)
    {
        std::string name;
        int const fd = CreateTemporaryFile(folder, name);
        ASSERT_GE(fd, 0);
        struct stat facts
        {
        };
        ASSERT_EQ(fstat(fd, &facts), 0);
        close(fd);
        EXPECT_TRUE(fs::is_regular_file(fs::path(home.Path()) / name)) << name;
        EXPECT_EQ(name.size(), sizeof kTemporaryNamePrefix - 1 + 6) << name;
        EXPECT_EQ(name.rfind(kTemporaryNamePrefix, 0), 0u) << name;
        // No '.' after the prefix: no extension any kind of file is listed by.
        EXPECT_EQ(name.find('.', 1), std::string::npos) << name;
        EXPECT_EQ(
            facts.st_mode & 0777, 0666u &
                                      ~[]
                                      {
                                          mode_t const m = umask(0);
                                          umask(m);
                                          return m;
                                      }());
        names.push_back(name);
    }
    close(folder);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
}

// A replaced file keeps exactly its ACL: the same one where it had one, none where it had none
// (not the one its folder's default would give); where the ACL can't be set, the group gets no
// more than the mask allowed it. Only a new file inherits its folder's default.
TEST_F(SaveTargets, AReplacedFileKeepsExactlyItsAcl)
{
    if (!KeepsAcls(home.Path().c_str())) GTEST_SKIP() << "the file system keeps no ACLs";
    for (Kind const& kind : Kinds())
    {
        for (AclRow const& row : AclRows())
        {
            SCOPED_TRACE(std::string(kind.what) + ", " + row.what);
            fs::path const target = kind.target();
            ASSERT_NO_FATAL_FAILURE(PlantTarget(target, row.oldMode));
            if (row.oldMode != 0)
            {
                ASSERT_TRUE(row.oldAcl.empty() || SetAcl(target.c_str(), row.oldAcl));
            }
            ASSERT_TRUE(SetDefaultAcl(target.parent_path().c_str(), row.folderDefault));
            Saved result;
            {
                SyscallLog log(kTemporaryNamePrefix, target.filename().c_str());
                if (row.failing != nullptr) log.Fail(row.failing, EOPNOTSUPP);
                result = Save(kind);
            }
            EXPECT_TRUE(result.saved);
            struct stat facts
            {
            };
            ASSERT_EQ(stat(target.c_str(), &facts), 0);
            EXPECT_EQ(facts.st_mode & 07777, row.newMode);
            std::string const acl = AclOf(target.c_str());
            EXPECT_EQ(acl, row.newAcl == "inherited" && !acl.empty() ? acl : row.newAcl);
        }
    }
}
