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
#include <functional>
#include <iterator>
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
    char const* ownOutput; // the option of its own mode that writes a PNG
};

Host const kHosts[] = {
    {TORVANE_VSTHOST_PATH, TORVANE_PLUGIN_PATH, "--editor --screenshot"},
    {TORVANE_AUHOST_PATH, TORVANE_AU_PLUGIN_PATH, "--view headless --snapshot"},
};

// Every `key` in the text replaced by `value`.
std::string Replaced(std::string text, std::string const& key, std::string const& value)
{
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
}

char const* Suppressions()
{
#ifdef TORVANE_HOST_LSAN_SUPPRESSIONS
    return TORVANE_HOST_LSAN_SUPPRESSIONS;
#else
    return nullptr;
#endif
}

// The program with the arguments, the plug-in last unless `plugin` is false, after the shell
// commands in `before`. A program that waits on an input or an output is stopped after a minute
// (exit code 124).
ProgramRun RunHost(Host const& host, std::string const& arguments, bool plugin = true,
                   std::string const& before = "")
{
    std::string const command = before + "timeout 60 " + host.program + " " + arguments +
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
        // A MIDI file with one empty track.
        std::vector<unsigned char> const song = {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
                                                 96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
        Write("song.mid", std::string(song.begin(), song.end()));
        Write("song.state", "not read");
        Write("file", "");
    }
    ~Files()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    std::string Path(char const* name) const { return (root / name).string(); }
    std::string Read(char const* name) const
    {
        std::ifstream in(root / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // A copy of the host's plug-in (with an Audio Unit's registration beside it), for runs that
    // must not touch the build's own.
    std::string PluginCopy(Host const& host) const
    {
        fs::path const folder = root / (fs::path(host.program).filename().string() + "-plugin");
        fs::create_directories(folder);
        fs::path const plugin(host.plugin);
        fs::copy_file(plugin, folder / plugin.filename(), fs::copy_options::overwrite_existing);
        fs::path registration = plugin;
        registration.replace_extension(".auinfo");
        if (fs::exists(registration))
            fs::copy_file(registration, folder / registration.filename(),
                          fs::copy_options::overwrite_existing);
        return (folder / plugin.filename()).string();
    }
    // The names of the temporary files the hosts make, left anywhere below the folder.
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> left;
        for (auto const& entry : fs::recursive_directory_iterator(root))
            if (entry.path().filename().string().rfind(".vsthost-", 0) == 0)
                left.push_back(entry.path().string());
        return left;
    }
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
        std::string arguments; // {plugin}: a copy of the host's plug-in; {own}: its PNG option
        int code;
        std::string message;
        bool plugin = true;
        std::string before = ""; // shell commands run first
    };
    files.Write("old.wav", "old");
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
        // Outputs: never the plug-in itself, no FIFO nobody reads, no missing folder, each found
        // before the plug-in is loaded; a write that fails leaves the old file.
        {"-o {plugin} {plugin}", 1, "is the plug-in itself", false},
        {"--info --save-state {plugin} {plugin}", 1, "is the plug-in itself", false},
        {"{own} {plugin} {plugin}", 1, "is the plug-in itself", false},
        {"-o " + files.Path("fifo") + " --tail 0", 1, "nothing reads from it"},
        {"--info --save-state " + files.Path("fifo"), 1, "nothing reads from it"},
        {"{own} " + files.Path("fifo"), 1, "nothing reads from it"},
        {"-o " + files.Path("missing") + "/x.wav", 1, "no such folder"},
        {"--save-state " + files.Path("missing") + "/x.state" + out, 1, "no such folder"},
        {"{own} " + files.Path("missing") + "/x.png", 1, "no such folder"},
        {"{own} " + files.Path("folder"), 1, "it is a folder"},
        // Two outputs that are one file, and an output that is an input, are refused by what they
        // name (the file, or its folder and name), before anything is written.
        {"-o " + wav + " --save-state " + wav, 1,
         "the output " + wav + " and the state file " + wav + " are one file"},
        {"-o " + wav + " --save-state " + files.Path("folder") + "/../out.wav", 1, "are one file"},
        {"--tail 0 -o /dev/fd/3 --save-state /proc/self/fd/3", 1, "are one file", true,
         "exec 3>" + files.Path("three") + "; "},
        // Nothing of the program's own may join an output: the error stream is never one, by
        // any name (here the standard output is the error stream too).
        {"--tail 0 -o /dev/stderr", 1, "the output /dev/stderr is where this program's messages go"},
        {"--info --save-state /dev/fd/2", 1, "the state file /dev/fd/2 is where this program's messages go"},
        {"--tail 0 -o /dev/stdout", 1, "the output /dev/stdout is where this program's messages go"},
        {"-o " + files.Path("song.mid") + " --midi " + files.Path("song.mid"), 1, "is the MIDI file"},
        {"-o " + files.Path("song.state") + " --load-state " + files.Path("song.state"), 1,
         "is the state file"},
        {"--midi " + files.Path("song.mid") + " {own} " + files.Path("song.mid"), 1, "is the MIDI file"},
        {"--save-state " + files.Path("song.mid") + " --midi " + files.Path("song.mid") + out, 1,
         "is the MIDI file"},
        {"--tail 5 -o " + files.Path("old.wav"), 1, "cannot write", true, "trap '' XFSZ; ulimit -f 64; "},
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
        std::string const copy = files.PluginCopy(host);
        for (Case const& c : cases)
        {
            std::string const arguments =
                Replaced(Replaced(c.arguments, "{plugin}", copy), "{own}", host.ownOutput);
            ProgramRun const run = RunHost(host, arguments, c.plugin, c.before);
            EXPECT_EQ(run.status, c.code) << host.program << " " << arguments << ": " << run.out;
            EXPECT_NE(run.out.find(c.message), std::string::npos)
                << host.program << " " << arguments << ": " << run.out;
            EXPECT_FALSE(fs::exists(wav)) << host.program << " " << arguments;
        }
        EXPECT_EQ(fs::file_size(copy), fs::file_size(host.plugin)) << host.program;
        EXPECT_EQ(files.Read("old.wav"), "old") << host.program;
        EXPECT_EQ(files.Read("song.state"), "not read") << host.program;
        EXPECT_EQ(files.Read("song.mid").substr(0, 4), "MThd") << host.program;
        EXPECT_TRUE(files.Leftovers().empty()) << host.program << ": " << files.Leftovers().front();
        EXPECT_TRUE(fs::is_fifo(files.Path("fifo")));
    }
}

TEST(HostPrograms, OutputsReplaceTheirFilesWholeAndTheStateMayBeSavedOverTheOneLoaded)
{
    Files const files;
    for (Host const& host : kHosts)
    {
        SCOPED_TRACE(host.program);
        files.Write("old.wav", "old");
        ProgramRun const render = RunHost(host, "--tail 0.1 -o " + files.Path("old.wav"));
        ASSERT_EQ(render.status, 0) << render.out;
        EXPECT_EQ(files.Read("old.wav").substr(0, 4), "RIFF");
        ProgramRun const save = RunHost(host, "--info -p 1=0.75 --save-state " + files.Path("same.state"));
        ASSERT_EQ(save.status, 0) << save.out;
        std::string const state = files.Path("same.state");
        ProgramRun const again =
            RunHost(host, "--info -p 2=0.25 --load-state " + state + " --save-state " + state);
        ASSERT_EQ(again.status, 0) << again.out;
        ProgramRun const facts = RunHost(host, "--info --load-state " + state);
        ASSERT_EQ(facts.status, 0) << facts.out;
        EXPECT_NEAR(PrintedValue(facts.out, 1), 0.75, 1e-4) << facts.out;
        EXPECT_NEAR(PrintedValue(facts.out, 2), 0.25, 1e-4) << facts.out;
        // Written in place: a device.
        ProgramRun const nowhere = RunHost(host, "--tail 0.1 -o /dev/null");
        EXPECT_EQ(nowhere.status, 0) << nowhere.out;
        // A device may take two outputs.
        ProgramRun const twice = RunHost(host, "--tail 0.1 -o /dev/null --save-state /dev/null");
        EXPECT_EQ(twice.status, 0) << twice.out;
        EXPECT_TRUE(files.Leftovers().empty());
    }
}

namespace
{

// Runs a shell command line in which {host} is the host program (stopped after a minute) and
// {plugin} its plug-in, with its own redirections; what it prints unredirected is collected.
ProgramRun Shell(Host const& host, std::string const& line)
{
    std::string const command = Replaced(Replaced(line, "{host}", std::string("timeout 60 ") + host.program),
                                         "{plugin}", host.plugin);
    return RunProgram("bash -c '" + command + "'", Suppressions());
}

// Runs as the user nobody where the tests run as the super-user (who may write in any folder),
// else as the user running them.
std::string AsAUser()
{
    return ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
}

} // namespace

// Where each output goes: our own standard output written through its descriptor (a file, a file
// opened to append, a pipe), with the summary on the error stream; a link followed to the file it
// leads to, which keeps its mode; a folder that takes no new file holding a file that may be
// written (that file is written in place, which is told); paths as long as the system allows.
TEST(HostPrograms, OutputsGoWhereTheUserPoints)
{
    Files const files;
    std::string const folder = files.Path("");
    // A path of 4,095 bytes: folders of 200 characters, then a file name of what is left.
    std::string longPath = files.Path("long");
    while (longPath.size() + 201 + 256 < 4095)
        longPath += "/" + std::string(200, 'd');
    while (4095 - longPath.size() - 1 > 255)
        longPath += "/dd";
    fs::create_directories(longPath);
    longPath += "/" + std::string(4095 - longPath.size() - 1, 'f');
    ASSERT_EQ(longPath.size(), 4095u);
    std::string const longName = files.Path(std::string(255, 'n').c_str());
    struct Row
    {
        char const* what;
        std::string line; // {host} and {plugin} as in Shell; {folder} the files' folder
        std::string file; // where the WAV file is found then
        std::string kept; // what is before it there
        std::string told; // a text the error stream holds
        std::function<void()> before = [] {};
    };
    std::vector<Row> const rows = {
        {"/dev/stdout to a file", "{host} --tail 0.1 -o /dev/stdout {plugin} > {folder}std.wav",
         files.Path("std.wav"), "", "-> /dev/stdout"},
        {"/dev/stdout to a file opened to append",
         "{host} --tail 0.1 -o /dev/stdout {plugin} >> {folder}app.wav", files.Path("app.wav"), "previous\n",
         "-> /dev/stdout", [&] { files.Write("app.wav", "previous\n"); }},
        {"/dev/stdout to a pipe", "{host} --tail 0.1 -o /dev/stdout {plugin} | cat > {folder}piped.wav",
         files.Path("piped.wav"), "", "-> /dev/stdout"},
        {"/proc/self/fd/1 to a file", "{host} --tail 0.1 -o /proc/self/fd/1 {plugin} > {folder}fd.wav",
         files.Path("fd.wav"), "", "-> /proc/self/fd/1"},
        {"/dev/fd/3 to a file opened to append",
         "{host} --tail 0.1 -o /dev/fd/3 {plugin} 3>> {folder}fd3.wav", files.Path("fd3.wav"), "previous\n",
         "-> /dev/fd/3", [&] { files.Write("fd3.wav", "previous\n"); }},
        {"/proc/self/fd/3 at an offset",
         "(printf previous >&3; {host} --tail 0.1 -o /proc/self/fd/3 {plugin}) 3> {folder}offset.wav",
         files.Path("offset.wav"), "previous", "-> /proc/self/fd/3"},
        {"a link to a file", "{host} --tail 0.1 -o {folder}link.wav {plugin}", files.Path("target.wav"), "",
         "-> " + files.Path("link.wav"),
         [&]
         {
             files.Write("target.wav", "old");
             ::chmod(files.Path("target.wav").c_str(), 0600);
             fs::create_symlink("target.wav", files.Path("link.wav"));
         }},
        {"a link to a link", "{host} --tail 0.1 -o {folder}link2.wav {plugin}", files.Path("target.wav"), "",
         "", [&] { fs::create_symlink(files.Path("link.wav"), files.Path("link2.wav")); }},
        {"a folder that takes no new file, with a file that may be written",
         AsAUser() + "{host} --tail 0.1 -o {folder}closed/out.wav {plugin}", files.Path("closed/out.wav"), "",
         "takes no new file (Permission denied): the file is written in place",
         [&]
         {
             fs::create_directories(files.Path("closed"));
             files.Write("closed/out.wav", "a longer old text than none");
             ::chmod(files.Path("closed/out.wav").c_str(), 0666);
             ::chmod(files.Path("closed").c_str(), 0555);
         }},
        {"a path of 4,095 bytes", "{host} --tail 0.1 -o " + longPath + " {plugin}", longPath, "", ""},
        {"a file name of 255 bytes", "{host} --tail 0.1 -o " + longName + " {plugin}", longName, "", ""},
    };
    for (Host const& host : kHosts)
    {
        for (Row const& row : rows)
        {
            SCOPED_TRACE(std::string(host.program) + ": " + row.what);
            row.before();
            ProgramRun const run = Shell(host, Replaced(row.line, "{folder}", folder));
            std::string const& told = run.out;
            EXPECT_EQ(run.status, 0) << told;
            std::string const bytes = files.Read(row.file.c_str());
            std::size_t const skip = row.kept.size();
            ASSERT_GT(bytes.size(), skip + 44) << told;
            EXPECT_EQ(bytes.substr(0, skip + 4), row.kept + "RIFF");
            // The WAV file alone: nothing printed joined it.
            std::uint32_t riff = 0;
            for (std::size_t i = 4; i > 0; --i)
                riff = riff << 8 | static_cast<unsigned char>(bytes[skip + 3 + i]);
            EXPECT_EQ(riff + 8u, bytes.size() - skip);
            EXPECT_NE(told.find(row.told), std::string::npos) << told;
        }
        // The links stay links; the file they lead to keeps its mode; nothing was renamed over
        // a descriptor path.
        EXPECT_TRUE(fs::is_symlink(files.Path("link.wav")));
        EXPECT_TRUE(fs::is_symlink(files.Path("link2.wav")));
        EXPECT_EQ(fs::status(files.Path("target.wav")).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
        EXPECT_TRUE(files.Leftovers().empty());
        ::chmod(files.Path("closed").c_str(), 0755);
        for (char const* name : {"link.wav", "link2.wav", "target.wav", "closed/out.wav"})
            fs::remove(files.Path(name));
    }
}

// What a run may not do to a file: replace one its user may not write (root may write any), write
// in place over an old file without room for the new one (refused before the first byte), leave a
// temporary file when a signal ends it; and every output that failed is told.
TEST(HostPrograms, FilesAreLeftAsTheyWereWhenARunMayNotOrCannotFinish)
{
    Files const files;
    std::string const folder = files.Path("");
    for (Host const& host : kHosts)
    {
        SCOPED_TRACE(host.program);
        files.Write("locked.wav", "old");
        ::chmod(files.Path("locked.wav").c_str(), 0444);
        ProgramRun const refused =
            RunHost(host, "--tail 0.1 -o " + files.Path("locked.wav"), true, AsAUser());
        EXPECT_EQ(refused.status, 1) << refused.out;
        EXPECT_NE(
            refused.out.find("cannot write the output " + files.Path("locked.wav") + ": it is read-only"),
            std::string::npos)
            << refused.out;
        EXPECT_EQ(files.Read("locked.wav"), "old");
        if (::geteuid() == 0)
        {
            ProgramRun const root = RunHost(host, "--tail 0.1 -o " + files.Path("locked.wav"));
            EXPECT_EQ(root.status, 0) << root.out;
            EXPECT_EQ(files.Read("locked.wav").substr(0, 4), "RIFF");
            EXPECT_EQ(fs::status(files.Path("locked.wav")).permissions(),
                      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        }
        fs::remove(files.Path("locked.wav"));

        // Both outputs fail (no file may grow): both are told.
        ProgramRun const both =
            RunHost(host, "--tail 0.1 -o " + files.Path("a.wav") + " --save-state " + files.Path("b.state"),
                    true, "trap '' XFSZ; ulimit -f 0; ");
        EXPECT_EQ(both.status, 1) << both.out;
        EXPECT_NE(both.out.find("cannot write the output"), std::string::npos) << both.out;
        EXPECT_NE(both.out.find("cannot write the state file"), std::string::npos) << both.out;

        // Each signal during a long render: the program ends by it, the old file stays, nothing
        // is left.
        for (auto [name, number] : {std::pair{"INT", 2}, std::pair{"TERM", 15}, std::pair{"HUP", 1}})
        {
            files.Write("old.wav", "old");
            // Signalled once its output is open (an unnamed file shows as deleted among its
            // descriptors).
            ProgramRun const run = Shell(host, std::string("set -m; ") + host.program +
                                                   " --rate 384000 --tail 600 -o " + files.Path("old.wav") +
                                                   " {plugin} & p=$!; for i in $(seq 600); do ls -l "
                                                   "/proc/$p/fd 2>/dev/null | grep -q deleted && "
                                                   "break; sleep 0.05; done; kill -" +
                                                   name + " $p; wait $p; echo status=$?");
            EXPECT_NE(run.out.find("status=" + std::to_string(128 + number)), std::string::npos)
                << name << ": " << run.out;
            EXPECT_TRUE(files.Read("old.wav") == "old") << name;
        }
        EXPECT_TRUE(files.Leftovers().empty());

        // In place on a full disk (a small tmpfs in a mount namespace of its own, where the tests
        // run as root): refused before the first byte, the old file whole.
        if (::geteuid() != 0) continue;
        files.Write("full.sh", "set -e; mount -t tmpfs -o size=2m tmpfs " + folder + "full; mkdir " + folder +
                                   "full/closed; head -c 1500000 /dev/zero > " + folder +
                                   "full/closed/out.wav; chmod 666 " + folder +
                                   "full/closed/out.wav; chmod 555 " + folder +
                                   "full/closed; head -c 2000000 /dev/zero > " + folder +
                                   "full/fill 2>/dev/null || true; " + AsAUser() + "timeout 60 " +
                                   host.program + " --tail 20 -o " + folder + "full/closed/out.wav " +
                                   host.plugin + " || echo status=$?; test $(stat -c %s " + folder +
                                   "full/closed/out.wav) = 1500000 && cmp -n 1500000 " + folder +
                                   "full/closed/out.wav /dev/zero && echo kept\n");
        fs::create_directories(files.Path("full"));
        ProgramRun const full = RunProgram("unshare -m bash " + files.Path("full.sh"), Suppressions());
        EXPECT_NE(full.out.find("No space left on device"), std::string::npos) << full.out;
        EXPECT_NE(full.out.find("status=1"), std::string::npos) << full.out;
        EXPECT_NE(full.out.find("kept"), std::string::npos) << full.out;
    }
}

TEST(HostPrograms, APlugInNamedWithoutAFolderIsTheFileInTheCurrentFolder)
{
    for (Host const& host : kHosts)
    {
        fs::path const plugin(host.plugin);
        ProgramRun const run = RunProgram("cd " + plugin.parent_path().string() + " && timeout 60 " +
                                              host.program + " --info " + plugin.filename().string(),
                                          Suppressions());
        EXPECT_EQ(run.status, 0) << host.program << ": " << run.out;
        EXPECT_NE(run.out.find("parameters: 40"), std::string::npos) << run.out;
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
