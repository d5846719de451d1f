// Both command-line hosts (vsthost on Torvane.so, authost on TorvaneAU.so) on the same inputs: every
// bad file or option gives a message and its exit code, never an abort or a wait; the state and the
// parameters are applied before the facts are printed; a view or editor run saves the state it
// leaves.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "editor/Layout.h"
#include "support/gfx/RunProgram.h"

#if defined(TORVANE_AUHOST_PATH) && defined(TORVANE_VSTHOST_PATH)

namespace
{

namespace fs = std::filesystem;

struct Host
{
    char const* program;
    char const* plugin;
};

Host const kHosts[] = {
    {TORVANE_VSTHOST_PATH, TORVANE_PLUGIN_PATH},
    {TORVANE_AUHOST_PATH, TORVANE_AU_PLUGIN_PATH},
};

char const* Suppressions()
{
#ifdef TORVANE_HOST_LSAN_SUPPRESSIONS
    return TORVANE_HOST_LSAN_SUPPRESSIONS;
#else
    return nullptr;
#endif
}

// The program with the arguments, the plug-in last unless `plugin` is false. A program that
// waits on an input is stopped after a minute (exit code 124).
ProgramRun RunHost(Host const& host, std::string const& arguments, bool plugin = true)
{
    std::string const command = std::string("timeout 60 ") + host.program + " " + arguments +
                                (plugin ? std::string(" ") + host.plugin : std::string());
    return RunProgram(command, Suppressions());
}

// The value the facts print for a parameter ("  NN name value").
double PrintedValue(std::string const& out, int index)
{
    std::string const tag = (index < 10 ? "   " : "  ") + std::to_string(index) + " ";
    std::size_t const at = out.find(tag);
    if (at == std::string::npos) return -1.0;
    std::size_t const end = out.find('\n', at);
    std::size_t const space = out.rfind(' ', end);
    return std::atof(out.c_str() + space + 1);
}

class Files
{
public:
    Files() : root(fs::temp_directory_path() / ("torvane-hosts-" + std::to_string(::getpid())))
    {
        fs::create_directories(root / "folder");
        ::mkfifo(Path("fifo").c_str(), 0600);
        Write("garbage", std::string(100, 'x'));
        // A far note: a note, then another one days later (deltas of 2^28 - 1 ticks, one tick a quarter).
        std::vector<unsigned char> const far = {
            'M',  'T', 'h', 'd',  0,    0,    0,    6,    0,    0,  0,    1,    0,    1,    'M',
            'T',  'r', 'k', 0,    0,    0,    22,   0x00, 0x90, 60, 100,  0xFF, 0xFF, 0xFF, 0x7F,
            0x80, 60,  0,   0xFF, 0xFF, 0xFF, 0x7F, 0x90, 62,   10, 0x00, 0xFF, 0x2F, 0x00};
        Write("far.mid", std::string(far.begin(), far.end()));
        Write("file", "");
    }
    ~Files()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    std::string Path(char const* name) const { return (root / name).string(); }
    void Write(char const* name, std::string const& bytes) const
    {
        std::ofstream(root / name, std::ios::binary) << bytes;
    }
    // A file of `size` bytes that takes no room (all holes).
    std::string Sparse(char const* name, std::uintmax_t size) const
    {
        std::ofstream(root / name, std::ios::binary).flush();
        fs::resize_file(root / name, size);
        return Path(name);
    }

private:
    fs::path root;
};

} // namespace

TEST(HostPrograms, BadInputsGiveAMessageAndTheirExitCodeInBothHosts)
{
    Files const files;
    std::string const wav = files.Path("out.wav");
    std::string const out = " -o " + wav;
    struct Case
    {
        std::string arguments;
        int code;
        char const* message;
        bool plugin = true;
    };
    std::vector<Case> cases = {
        // Files that cannot be read as a whole, before the plug-in is loaded.
        {"--load-state " + files.Path("folder") + out, 1, "is not a file"},
        {"--midi " + files.Path("folder") + out, 1, "is not a file"},
        {"--load-state " + files.Path("fifo") + out, 1, "is not a file"},
        {"--midi " + files.Path("fifo") + out, 1, "is not a file"},
        {"--load-state " + files.Path("missing") + out, 1, "no such file"},
        {"--midi " + files.Path("file") + "/x.mid" + out, 1, "no such file"},
        {"--load-state " + files.Sparse("huge.state", 256u * 1024u * 1024u + 1u) + out, 1, "is larger than"},
        {"--midi " + files.Sparse("huge.mid", 16u * 1024u * 1024u + 1u) + out, 1, "is larger than"},
        {"--midi " + files.Path("garbage") + out, 1, "MIDI"},
        {"--midi " + files.Path("far.mid") + out, 1, "the limit is"},
        {"--load-state " + files.Path("garbage") + out, 1, "refused the state"},
        {"--info " + files.Path("folder"), 1, "is not a file", false},
        {"--info " + files.Path("fifo"), 1, "is not a file", false},
        {"--info " + files.Path("missing.so"), 1, "no such file", false},
        {"-o " + files.Path("folder") + " --tail 0", 1, "cannot write"},
        // Bad options.
        {"-b 0" + out, 2, "--block wants a number from 1 up to 65536"},
        {"--tail nan" + out, 2, "--tail wants a number from 0 up to 600"},
        {"-p 1.5=0.5" + out, 2, "a whole number from 0"},
        {"-p 1=2" + out, 2, "from 0 up to 1"},
        {"-p 99=0.5" + out, 2, "its parameters are 0 up to 39"},
        {"--bogus" + out, 2, "bad or incomplete option '--bogus'"},
        {"-o", 2, "-o wants a file name", false},
        {"", 2, "usage:", false},
    };
    // A file its owner may not read (root reads every file).
    if (::geteuid() != 0)
    {
        files.Write("locked.state", "x");
        ::chmod(files.Path("locked.state").c_str(), 0);
        cases.push_back(
            {"--load-state " + files.Path("locked.state") + out, 1, "cannot open the state file"});
    }
    for (Host const& host : kHosts)
    {
        for (Case const& c : cases)
        {
            ProgramRun const run = RunHost(host, c.arguments, c.plugin);
            EXPECT_EQ(run.status, c.code) << host.program << " " << c.arguments << ": " << run.out;
            EXPECT_NE(run.out.find(c.message), std::string::npos)
                << host.program << " " << c.arguments << ": " << run.out;
            EXPECT_FALSE(fs::exists(wav)) << host.program << " " << c.arguments;
        }
    }
}

TEST(HostPrograms, FactsShowTheLoadedStateAndTheParametersSet)
{
    Files const files;
    for (Host const& host : kHosts)
    {
        std::string const state = files.Path("saved.state");
        // Parameters 1 and 2 set, then the state saved; a second run loads it, sets parameter 2
        // again and prints the facts.
        ProgramRun const save = RunHost(host, "--info -p 1=0.75 -p 2=0.125 --save-state " + state);
        ASSERT_EQ(save.status, 0) << save.out;
        EXPECT_NEAR(PrintedValue(save.out, 1), 0.75, 1e-4) << save.out;
        ProgramRun const load = RunHost(host, "--info --load-state " + state + " -p 2=0.5");
        ASSERT_EQ(load.status, 0) << load.out;
        EXPECT_NEAR(PrintedValue(load.out, 1), 0.75, 1e-4) << host.program << load.out;
        EXPECT_NEAR(PrintedValue(load.out, 2), 0.5, 1e-4) << host.program << load.out;
    }
}

TEST(HostPrograms, AViewRunSavesTheStateItLeaves)
{
    Files const files;
    std::string const state = files.Path("view.state");
    // The Perform tab, then a point a quarter into the first pad, which sets parameters 0 and 1.
    namespace root = layout::root;
    namespace perform = layout::perform;
    int const title = 22;
    int const tabX = root::kPerformTab.x + root::kPerformTab.w / 2;
    int const tabY = title + root::kPerformTab.y + root::kPerformTab.h / 2;
    int const padX = root::kPerformPage.x + perform::kBlocks[0].x + perform::kPad.x + perform::kPad.w / 4;
    int const padY =
        title + root::kPerformPage.y + perform::kBlocks[0].y + perform::kPad.y + perform::kPad.h / 4;
    ProgramRun const run =
        RunHost(kHosts[1], "--view headless --title-bar " + std::to_string(title) + " --click " +
                               std::to_string(tabX) + "," + std::to_string(tabY) + " --click " +
                               std::to_string(padX) + "," + std::to_string(padY) + " --save-state " + state);
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_NE(run.out.find("parameter 0 announced"), std::string::npos) << run.out;
    ProgramRun const facts = RunHost(kHosts[1], "--info --load-state " + state);
    ASSERT_EQ(facts.status, 0) << facts.out;
    EXPECT_NEAR(PrintedValue(facts.out, 0), 0.25, 1e-4) << facts.out;
    EXPECT_NEAR(PrintedValue(facts.out, 1), 0.75, 1e-4) << facts.out;
}

#endif
