// The headless host's own file handling: standard MIDI files in, WAV files out.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "hostcli/OutputFile.h"
#include "support/syscalls/SyscallLog.h"
#include "vsthost/Cli.h"
#include "vsthost/MidiFile.h"
#include "vsthost/WavFile.h"

namespace
{

using Bytes = std::vector<unsigned char>;

void Append(Bytes& out, std::initializer_list<int> bytes)
{
    for (int b : bytes)
        out.push_back(static_cast<unsigned char>(b));
}

Bytes Chunk(char const* tag, Bytes const& body)
{
    Bytes out(tag, tag + 4);
    std::uint32_t const n = static_cast<std::uint32_t>(body.size());
    Append(out, {int(n >> 24), int((n >> 16) & 0xFF), int((n >> 8) & 0xFF), int(n & 0xFF)});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Header(int format, int tracks, int division)
{
    Bytes body;
    Append(body, {0, format, 0, tracks, division >> 8, division & 0xFF});
    return Chunk("MThd", body);
}

// Format 1 at 480 ticks a quarter: a tempo track (120, then 60 bpm after one quarter) and a
// note track with running status and a sysex event.
Bytes TwoTrackFile()
{
    Bytes tempo;
    Append(tempo, {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});       // 500000 us
    Append(tempo, {0x83, 0x60, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40}); // +480: 1000000 us
    Append(tempo, {0x00, 0xFF, 0x2F, 0x00});
    Bytes notes;
    Append(notes, {0x00, 0x90, 60, 100});     // t 0
    Append(notes, {0x83, 0x60, 64, 90});      // t 480, running status
    Append(notes, {0x83, 0x60, 0x80, 60, 0}); // t 960
    Append(notes, {0x00, 0xF0, 0x03, 0x7E, 0x01, 0xF7});
    Append(notes, {0x00, 0xC0, 5}); // program change: one data byte
    Append(notes, {0x00, 0xFF, 0x2F, 0x00});
    Bytes file = Header(1, 2, 480);
    Bytes const t1 = Chunk("MTrk", tempo);
    Bytes const t2 = Chunk("MTrk", notes);
    file.insert(file.end(), t1.begin(), t1.end());
    file.insert(file.end(), t2.begin(), t2.end());
    return file;
}

std::filesystem::path TempFile(char const* name)
{
    return std::filesystem::temp_directory_path() /
           (std::string("torvane-vst-") + std::to_string(::getpid()) + "-" + name);
}

std::string Contents(std::filesystem::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The old file at `target`, in a `folder` that passes no ACL on: `text` with `mode` and the ACL
// `acl` (none when empty), or no file for mode 0.
void PlantTarget(std::filesystem::path const& folder, std::string const& target, mode_t mode,
                 char const* text, std::string const& acl = "")
{
    std::filesystem::remove(target);
    ASSERT_TRUE(SetDefaultAcl(folder.c_str(), ""));
    if (mode == 0) return;
    std::ofstream(target) << text;
    ASSERT_EQ(::chmod(target.c_str(), mode), 0);
    ASSERT_TRUE(acl.empty() || SetAcl(target.c_str(), acl));
}

} // namespace

TEST(VstHostMidiFile, TracksMergeThroughTempoChanges)
{
    std::vector<TimedMidi> events;
    std::string error;
    ASSERT_TRUE(ParseMidiFile(TwoTrackFile(), 1000.0, events, error)) << error;
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].frame, 0);
    EXPECT_EQ(events[0].data[0], 0x90);
    // One quarter at 120 bpm is 0.5 s.
    EXPECT_EQ(events[1].frame, 500);
    EXPECT_EQ(events[1].data[0], 0x90);
    EXPECT_EQ(events[1].data[1], 64);
    // The next quarter at 60 bpm: 1 s more.
    EXPECT_EQ(events[2].frame, 1500);
    EXPECT_EQ(events[2].data[0], 0x80);
    EXPECT_EQ(events[3].sysex, (std::vector<std::uint8_t>{0xF0, 0x7E, 0x01, 0xF7}));
    EXPECT_EQ(events[4].data[0], 0xC0);
    EXPECT_EQ(events[4].data[1], 5);
}

TEST(VstHostMidiFile, MalformedFilesAreRefused)
{
    Bytes const good = TwoTrackFile();
    std::string error;
    // A file cut short is refused, except where the cut falls between chunks: after the
    // header (no tracks) or after the tempo track.
    for (std::size_t n = 0; n < good.size(); ++n)
    {
        std::vector<TimedMidi> events;
        Bytes const cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_EQ(ParseMidiFile(cut, 44100.0, events, error), n == 14 || n == 41) << n;
    }
    std::vector<TimedMidi> events;
    EXPECT_FALSE(ParseMidiFile(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0}, 44100.0, events, error));
    Bytes dataFirst = Header(0, 1, 96);
    Bytes const track = Chunk("MTrk", Bytes{0x00, 0x40, 0x40});
    dataFirst.insert(dataFirst.end(), track.begin(), track.end());
    EXPECT_FALSE(ParseMidiFile(dataFirst, 44100.0, events, error));

    // Random bytes after a valid header never crash the reader.
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round)
    {
        Bytes noise = Header(1, 1, 96);
        Bytes body(static_cast<std::size_t>(random() % 64));
        for (unsigned char& b : body)
            b = static_cast<unsigned char>(random());
        Bytes const chunk = Chunk("MTrk", body);
        noise.insert(noise.end(), chunk.begin(), chunk.end());
        std::vector<TimedMidi> out;
        ParseMidiFile(noise, 44100.0, out, error);
    }
}

TEST(VstHostMidiFile, DemoPhraseIsBalanced)
{
    std::vector<TimedMidi> const events = DemoPhrase(44100.0, 120.0);
    ASSERT_FALSE(events.empty());
    int ons = 0;
    int offs = 0;
    long previous = 0;
    for (TimedMidi const& e : events)
    {
        EXPECT_GE(e.frame, previous);
        previous = e.frame;
        ons += (e.data[0] & 0xF0) == 0x90;
        offs += (e.data[0] & 0xF0) == 0x80;
    }
    EXPECT_EQ(ons, offs);
    // Four bars of 4/4 at 120 bpm: 8 s.
    EXPECT_LE(events.back().frame, 8 * 44100);
    EXPECT_GT(events.back().frame, 7 * 44100);
}

TEST(VstHostWavFile, SixteenBitAndFloatFiles)
{
    std::vector<float> const left = {0.0f, 0.5f, -1.0f, 2.0f};
    std::vector<float> const right = {1.0f, -0.5f, NAN, -2.0f};
    auto const pcmPath = TempFile("pcm.wav");
    auto const floatPath = TempFile("float.wav");
    ASSERT_TRUE(WriteWavFile(pcmPath.string(), left, right, 48000, false));
    ASSERT_TRUE(WriteWavFile(floatPath.string(), left, right, 48000, true));

    auto read = [](std::filesystem::path const& p)
    {
        std::ifstream in(p, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    Bytes const pcm = read(pcmPath);
    ASSERT_EQ(pcm.size(), 44u + 16u);
    EXPECT_EQ(std::string(pcm.begin(), pcm.begin() + 4), "RIFF");
    EXPECT_EQ(pcm[4], 52); // the file less 8 bytes
    EXPECT_EQ(std::string(pcm.begin() + 8, pcm.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(pcm[20], 1); // PCM
    EXPECT_EQ(pcm[22], 2); // stereo
    EXPECT_EQ(pcm[24] | (pcm[25] << 8), 48000 & 0xFFFF);
    EXPECT_EQ(pcm[34], 16); // bits
    EXPECT_EQ(std::string(pcm.begin() + 36, pcm.begin() + 40), "data");
    auto sample = [&](std::size_t i)
    { return static_cast<std::int16_t>(pcm[44 + 2 * i] | (pcm[45 + 2 * i] << 8)); };
    EXPECT_EQ(sample(0), 0);
    EXPECT_EQ(sample(1), 32767);
    EXPECT_EQ(sample(2), 16384);
    EXPECT_EQ(sample(3), -16384);
    EXPECT_EQ(sample(4), -32767);
    EXPECT_EQ(sample(5), 0); // not finite: silence
    EXPECT_EQ(sample(6), 32767);
    EXPECT_EQ(sample(7), -32767);

    Bytes const fl = read(floatPath);
    ASSERT_EQ(fl.size(), 58u + 32u);
    EXPECT_EQ(fl[20], 3); // IEEE float
    EXPECT_EQ(fl[34], 32);
    EXPECT_EQ(std::string(fl.begin() + 38, fl.begin() + 42), "fact");
    EXPECT_EQ(std::string(fl.begin() + 50, fl.begin() + 54), "data");
    float third = 0.0f;
    std::memcpy(&third, fl.data() + 58 + 4 * 2, 4);
    EXPECT_EQ(third, 0.5f);

    std::filesystem::remove(pcmPath);
    std::filesystem::remove(floatPath);
    EXPECT_FALSE(WriteWavFile("/nonexistent-folder/x.wav", left, right, 44100, false));
}

// ---------------------------------------------------------------------------------------------
// Outputs, call by call

// The host's replacing writer, on the real descriptors: the temporary file takes the old file's
// mode before any data, its data are synced before the rename and the folder after it; a failed
// write, data sync, close or rename leaves the old file and no temporary file and says why; a
// failed folder sync leaves the file saved and says so. A folder that takes no new file (the
// temporary file refused), holding a file that may be written: that file is written in place,
// cut to the new contents and synced, and the way it was written is told.
TEST(VstHostOutput, DataAreSyncedBeforeTheRenameAndTheFolderAfterIt)
{
    auto const folder = TempFile("calls");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::string const target = (folder / "out.wav").string();
    mode_t const mask = ::umask(022);
    std::vector<ReplaceCallRow> rows = ReplaceCallRows();
    rows.push_back({"a folder that takes no new file", 0640, "tmpfile", EACCES, true,
                    "tmpfile!, open, close folder, write, fsync, close", ReplaceCallRow::Nothing});
    for (ReplaceCallRow const& row : rows)
    {
        SCOPED_TRACE(row.what);
        ASSERT_NO_FATAL_FAILURE(PlantTarget(folder, target, row.oldMode, "a longer old text"));
        OutputFile file;
        std::string why;
        bool saved = false;
        std::string story;
        {
            SyscallLog log(".vsthost-", "out.wav");
            if (row.failing != nullptr) log.Fail(row.failing, row.error);
            saved = file.Prepare(target, "output", why) && file.Write("new", 3) && file.Commit(why);
            story = log.Story();
        }
        EXPECT_EQ(story, row.story);
        EXPECT_EQ(saved, row.saved);
        std::vector<std::string> told;
        if (!saved) told.push_back(why);
        if (std::string const note = file.TakeNote(); !note.empty()) told.push_back(note);
        EXPECT_EQ(
            told,
            &row != &rows.back()
                ? row.Messages("cannot write the output " + target, "the output " + target + " was saved")
                : std::vector<std::string>{"the folder of the output " + target +
                                           " takes no new file (Permission denied): the file is written "
                                           "in place, so a power cut or a failure part-way may leave it "
                                           "damaged"});
        // No temporary file is left.
        for (auto const& entry : std::filesystem::directory_iterator(folder))
            EXPECT_EQ(entry.path().filename(), "out.wav");
        struct stat facts
        {
        };
        ASSERT_EQ(::stat(target.c_str(), &facts), row.saved || row.oldMode != 0 ? 0 : -1);
        if (row.saved || row.oldMode != 0)
        {
            EXPECT_EQ(Contents(target), row.saved ? "new" : "a longer old text");
            EXPECT_EQ(facts.st_mode & 07777, row.oldMode != 0 ? row.oldMode : 0644u);
        }
    }
    ::umask(mask);
    std::filesystem::remove_all(folder);
}

// The host's writer keeps a replaced file's ACL exactly, as the plug-in's does.
TEST(VstHostOutput, AReplacedFileKeepsExactlyItsAcl)
{
    auto const folder = TempFile("acl");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    if (!KeepsAcls(folder.c_str())) GTEST_SKIP() << "the file system keeps no ACLs";
    std::string const target = (folder / "out.wav").string();
    for (AclRow const& row : AclRows())
    {
        SCOPED_TRACE(row.what);
        ASSERT_NO_FATAL_FAILURE(PlantTarget(folder, target, row.oldMode, "old", row.oldAcl));
        ASSERT_TRUE(SetDefaultAcl(folder.c_str(), row.folderDefault));
        OutputFile file;
        std::string why;
        {
            SyscallLog log(".vsthost-", "out.wav");
            if (row.failing != nullptr) log.Fail(row.failing, EOPNOTSUPP);
            EXPECT_TRUE(file.Prepare(target, "output", why) && file.Write("new", 3) && file.Commit(why))
                << why;
        }
        struct stat facts
        {
        };
        ASSERT_EQ(::stat(target.c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mode & 07777, row.newMode);
        std::string const acl = AclOf(target.c_str());
        EXPECT_EQ(acl, row.newAcl == "inherited" && !acl.empty() ? acl : row.newAcl);
    }
    std::filesystem::remove_all(folder);
}

// Where the file system keeps no unnamed files the temporary file has a name while it is written:
// SIGINT, SIGTERM and SIGHUP remove it, and the program ends by the signal.
TEST(VstHostOutput, ASignalRemovesANamedTemporaryFile)
{
    auto const folder = TempFile("signals");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::string const target = (folder / "out.wav").string();
    std::ofstream(target) << "old";
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
    {
        SCOPED_TRACE(signal);
        pid_t const child = ::fork();
        if (child == 0)
        {
            OutputFile::RemoveTemporariesOnSignals(true);
            OutputFile file;
            std::string why;
            SyscallLog log(".vsthost-", "out.wav");
            log.Fail("tmpfile", EOPNOTSUPP);
            if (!file.Prepare(target, "output", why) || !file.Write("new", 3) ||
                std::distance(std::filesystem::directory_iterator(folder), {}) != 2)
                ::_exit(1);
            ::raise(signal);
            ::_exit(2);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        for (auto const& entry : std::filesystem::directory_iterator(folder))
            EXPECT_EQ(entry.path().filename(), "out.wav");
        EXPECT_EQ(Contents(target), "old");
    }
    std::filesystem::remove_all(folder);
}

// ---------------------------------------------------------------------------------------------
// The program on bad input: a message and an exit code, never an abort

#ifdef TORVANE_TEST_SYNTH_PATH

namespace
{

struct ProgramRun
{
    int code = 0;
    std::string out;
    std::string err;
};

ProgramRun RunProgram(std::vector<std::string> args)
{
    args.push_back(TORVANE_TEST_SYNTH_PATH);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ProgramRun run;
    run.code = RunVstHost(args, out, err);
    for (auto [file, text] : {std::pair{out, &run.out}, std::pair{err, &run.err}})
    {
        std::rewind(file);
        for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
            text->push_back(static_cast<char>(c));
        std::fclose(file);
    }
    return run;
}

} // namespace

TEST(VstHostProgram, BadInputGivesAMessageAndAnExitCode)
{
    auto const folder = TempFile("folder");
    std::filesystem::create_directories(folder);
    auto const wav = TempFile("out.wav");
    // A note, then another one days later (two deltas of 2^28 - 1 ticks at 1 tick a quarter).
    Bytes track;
    Append(track, {0x00, 0x90, 60,   100,  0xFF, 0xFF, 0xFF, 0x7F, 0x80, 60,   0,
                   0xFF, 0xFF, 0xFF, 0x7F, 0x90, 62,   10,   0x00, 0xFF, 0x2F, 0x00});
    Bytes far = Header(0, 1, 1);
    Bytes const chunk = Chunk("MTrk", track);
    far.insert(far.end(), chunk.begin(), chunk.end());
    auto const farPath = TempFile("far.mid");
    {
        std::ofstream f(farPath, std::ios::binary);
        f.write(reinterpret_cast<char const*>(far.data()), static_cast<std::streamsize>(far.size()));
    }

    struct Case
    {
        std::vector<std::string> args;
        int code;
        char const* message;
    };
    std::vector<Case> const cases = {
        {{"-m", folder.string(), "-o", wav.string()}, 1, "is not a file"},
        {{"--load-state", folder.string(), "-o", wav.string()}, 1, "is not a file"},
        {{"-m", TempFile("missing.mid").string()}, 1, "no such file"},
        {{"-m", farPath.string(), "-o", wav.string()}, 1, "the limit is"},
        {{"-p", "1.5=0.5"}, 2, "a whole number from 0"},
        {{"-p", "-1=0.5"}, 2, "a whole number from 0"},
        {{"-p", "1e1=0.5"}, 2, "a whole number from 0"},
        {{"-p", "1=1.5"}, 2, "from 0 up to 1"},
        {{"-p", "1"}, 2, "INDEX=VALUE"},
        {{"-p", "99=0.5", "-o", wav.string()}, 2, "its parameters are 0 up to"},
        {{"-r", "100"}, 2, "--rate wants a number from 8000 up to 384000"},
        {{"-t", "0"}, 2, "--tempo wants a number above 0 up to 999"},
        {{"--tail", "nan"}, 2, "--tail wants a number from 0 up to 600"},
    };
    for (Case const& c : cases)
    {
        ProgramRun const run = RunProgram(c.args);
        EXPECT_EQ(run.code, c.code) << c.args[1];
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args[1] << ": " << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(wav));

    std::filesystem::remove(farPath);
    std::filesystem::remove_all(folder);
}

TEST(VstHostProgram, ARenderStreamsToTheFileInBlocks)
{
    auto const wav = TempFile("stream.wav");
    ProgramRun const run = RunProgram({"--tail", "30", "-b", "300", "-p", "1=0.5", "-o", wav.string()});
    ASSERT_EQ(run.code, 0) << run.err;
    // The demo phrase plus 30 s; every frame is in the file, the header says so.
    std::size_t const frames = std::filesystem::file_size(wav) - 44;
    EXPECT_EQ(frames % 4, 0u);
    EXPECT_GT(frames / 4, static_cast<std::size_t>(30 * 44100));
    std::ifstream in(wav, std::ios::binary);
    Bytes const head((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::uint32_t const dataBytes = head[40] | (head[41] << 8) | (head[42] << 16) | (head[43] << 24);
    EXPECT_EQ(dataBytes, frames);
    EXPECT_NE(run.out.find(std::to_string(frames / 4) + " frames"), std::string::npos) << run.out;
    std::filesystem::remove(wav);
}

#endif
