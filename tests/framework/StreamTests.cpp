#include "framework/Streams.h"
#include "framework/String.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <limits>
#include <random>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TemporaryDataHome.h"

namespace fs = std::filesystem;

namespace
{
using Bytes = std::string;

// The bytes a memory writer produced (the String's trailing zero is not part of them).
Bytes WrittenBytes(String& s)
{
    return Bytes(s.Lock(), static_cast<std::size_t>(s.GetLength()));
}

void WriteFields(Writer& w)
{
    w.Write(1);
    w.Write(-2);
    w.Write(1.0f);
    w.Write(0x80000001u);
    w.Write(-3L);
    w.Write(true);
    w.Write(false);
    w.Write("abc");
}

// The same sequence, by hand: everything but the text.
Bytes const numberFields("\x01\x00\x00\x00"
                         "\xFE\xFF\xFF\xFF"
                         "\x00\x00\x80\x3F"
                         "\x01\x00\x00\x80"
                         "\xFD\xFF\xFF\xFF"
                         "\x01"
                         "\x00",
                         22);

class StreamFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static std::atomic<int> counter{0};
        folder = fs::temp_directory_path() /
                 ("torvane-streams-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string PathOf(char const* name) const { return (folder / name).string(); }

    std::string WriteFile(char const* name, Bytes const& content) const
    {
        std::string path = PathOf(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    static Bytes ReadFile(std::string const& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path folder;
};

StringReader ReaderOn(Bytes const& data)
{
    StringReader r;
    r.Open(data.data(), data.size());
    return r;
}
} // namespace

// ---------------------------------------------------------------------------------------------------
// Encodings

TEST(StreamEncodingTest, MemoryFieldsAreLittleEndianAndTextCarriesItsLength)
{
    String block;
    StringWriter w;
    w.Open(&block);
    WriteFields(w);
    w.Close();
    EXPECT_FALSE(w.Failed());
    EXPECT_EQ(WrittenBytes(block), numberFields + Bytes("\x04\x00\x00\x00"
                                                        "abc\x00",
                                                        8));
    // One trailing zero after the written bytes; the length counts it.
    EXPECT_EQ(block.GetLength(), 30);
    EXPECT_EQ(block.Lock()[30], 0);
}

TEST_F(StreamFileTest, FileFieldsAreLittleEndianAndTextIsACarriageReturnLine)
{
    std::string path = PathOf("fields.bin");
    FileWriter w;
    ASSERT_TRUE(w.Create(path.c_str()));
    WriteFields(w);
    EXPECT_TRUE(w.Close());
    EXPECT_EQ(ReadFile(path), numberFields + "abc\r");
}

TEST(StreamEncodingTest, EmptyAndNullTexts)
{
    String block;
    StringWriter w;
    w.Open(&block);
    w.Write("");
    w.Write(static_cast<char const*>(nullptr));
    EXPECT_EQ(WrittenBytes(block), Bytes("\x01\x00\x00\x00\x00"
                                         "\x01\x00\x00\x00\x00",
                                         10));
}

TEST(StreamEncodingTest, LongIsStoredAs32Bits)
{
    String block;
    StringWriter w;
    w.Open(&block);
    w.Write(0x123456789L);
    w.Write(std::numeric_limits<int>::min() + 0L);
    ASSERT_EQ(block.GetLength(), 8);

    StringReader r;
    r.Open(block, 8);
    long a = 0, b = 0;
    EXPECT_TRUE(r.Read(&a));
    EXPECT_TRUE(r.Read(&b));
    EXPECT_EQ(a, 0x23456789L);
    EXPECT_EQ(b, std::numeric_limits<int>::min());
}

TEST(StreamEncodingTest, MemoryWriterKeepsZerosAndGrowsToFit)
{
    String block("x");
    StringWriter w;
    w.Open(&block);
    unsigned char const raw[] = {0, 0, 7, 0, 0};
    w.WriteBytes(raw, sizeof raw);
    EXPECT_EQ(block.GetLength(), 6);
    EXPECT_EQ(block.GetCapacity(), 7);
    EXPECT_EQ(WrittenBytes(block), Bytes("x\0\0\7\0\0", 6));
}

TEST(StreamEncodingTest, WritingWithoutATargetFails)
{
    StringWriter w;
    w.Write(1);
    EXPECT_TRUE(w.Failed());
}

// ---------------------------------------------------------------------------------------------------
// Round trips

TEST(StreamRoundTripTest, MemoryReadsBackWhatWasWritten)
{
    String block;
    StringWriter w;
    w.Open(&block);
    WriteFields(w);
    w.Write(-0.0f);
    w.Write(std::numeric_limits<float>::infinity());
    w.Write("tail text");

    StringReader r;
    r.Open(block, static_cast<std::size_t>(block.GetLength()));
    int i1 = 0, i2 = 0;
    float f = 0, negZero = 1, inf = 0;
    unsigned int u = 0;
    long l = 0;
    bool t = false, fl = true;
    char text[16];
    String tail;
    EXPECT_TRUE(r.Read(&i1));
    EXPECT_TRUE(r.Read(&i2));
    EXPECT_TRUE(r.Read(&f));
    EXPECT_TRUE(r.Read(&u));
    EXPECT_TRUE(r.Read(&l));
    EXPECT_TRUE(r.Read(&t));
    EXPECT_TRUE(r.Read(&fl));
    EXPECT_TRUE(r.Read(text));
    EXPECT_TRUE(r.Read(&negZero));
    EXPECT_TRUE(r.Read(&inf));
    EXPECT_TRUE(r.Read(&tail));
    EXPECT_EQ(i1, 1);
    EXPECT_EQ(i2, -2);
    EXPECT_EQ(f, 1.0f);
    EXPECT_EQ(u, 0x80000001u);
    EXPECT_EQ(l, -3);
    EXPECT_TRUE(t);
    EXPECT_FALSE(fl);
    EXPECT_STREQ(text, "abc");
    EXPECT_TRUE(std::signbit(negZero));
    EXPECT_EQ(inf, std::numeric_limits<float>::infinity());
    EXPECT_STREQ(tail, "tail text");
    EXPECT_EQ(tail.GetLength(), 9);
    EXPECT_EQ(tail.GetCapacity(), 10);
    EXPECT_EQ(r.Remaining(), 0u);
    EXPECT_FALSE(r.Failed());
}

TEST_F(StreamFileTest, FileReadsBackWhatWasWritten)
{
    std::string path = PathOf("round.bin");
    {
        FileWriter w;
        ASSERT_TRUE(w.Create(path.c_str()));
        WriteFields(w);
        w.Write("  indented");
        w.Write("");
        w.Write("line\nfeed");
        // The memory form, which every reader reads into a String.
        w.Writer::WriteString("mem");
        EXPECT_TRUE(w.Close());
    }
    FileReader r;
    ASSERT_TRUE(r.Open(path.c_str()));
    int i1 = 0, i2 = 0;
    float f = 0;
    unsigned int u = 0;
    long l = 0;
    bool t = false, fl = true;
    char a[8] = "", b[16] = "", c[8] = "x", d[16] = "";
    String mem;
    EXPECT_TRUE(r.Read(&i1) && r.Read(&i2) && r.Read(&f) && r.Read(&u) && r.Read(&l) && r.Read(&t) &&
                r.Read(&fl));
    EXPECT_TRUE(r.Read(a));
    EXPECT_TRUE(r.Read(b));
    EXPECT_TRUE(r.Read(c));
    EXPECT_TRUE(r.Read(d));
    EXPECT_TRUE(r.Read(&mem));
    EXPECT_EQ(i1, 1);
    EXPECT_EQ(i2, -2);
    EXPECT_EQ(f, 1.0f);
    EXPECT_EQ(u, 0x80000001u);
    EXPECT_EQ(l, -3);
    EXPECT_TRUE(t);
    EXPECT_FALSE(fl);
    EXPECT_STREQ(a, "abc");
    EXPECT_STREQ(b, "indented"); // leading spaces are dropped
    EXPECT_STREQ(c, "");
    EXPECT_STREQ(d, "line\nfeed");
    EXPECT_STREQ(mem, "mem");
    EXPECT_EQ(r.Remaining(), 0u);
    EXPECT_FALSE(r.Failed());
}

TEST(StreamReadTest, BoolIsTrueOnlyForTheByteOne)
{
    Bytes const rData("\x01\x02\x00\xFF", 4);
    StringReader r = ReaderOn(rData);
    bool v[4] = {false, true, true, true};
    for (bool& b : v)
        EXPECT_TRUE(r.Read(&b));
    EXPECT_TRUE(v[0]);
    EXPECT_FALSE(v[1]);
    EXPECT_FALSE(v[2]);
    EXPECT_FALSE(v[3]);
}

// ---------------------------------------------------------------------------------------------------
// Hostile memory streams

TEST(StreamHostileTest, TruncatedNumberFailsAndLeavesTheDestination)
{
    Bytes const rData("\x01\x02\x03", 3);
    StringReader r = ReaderOn(rData);
    int v = 42;
    EXPECT_FALSE(r.Read(&v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(r.Failed());
}

TEST(StreamHostileTest, FailureStaysSet)
{
    Bytes const rData("\x05\x00\x00\x00\x01", 5);
    StringReader r = ReaderOn(rData);
    int v = 0;
    float f = 7.0f;
    ASSERT_TRUE(r.Read(&v));
    EXPECT_FALSE(r.Read(&f));
    EXPECT_EQ(f, 7.0f);
    // One byte is still there, but a stream that has failed reads nothing more.
    bool b = false;
    EXPECT_FALSE(r.Read(&b));
    EXPECT_FALSE(b);
    EXPECT_TRUE(r.Failed());

    // Opening again starts afresh.
    r.Open("\x01", 1);
    EXPECT_FALSE(r.Failed());
    EXPECT_TRUE(r.Read(&b));
    EXPECT_TRUE(b);
}

TEST(StreamHostileTest, HugeLengthPrefixFails)
{
    Bytes const rData("\xFF\xFF\xFF\xFF"
                      "abc\x00",
                      8);
    StringReader r = ReaderOn(rData);
    char text[16] = "keep";
    EXPECT_FALSE(r.Read(text));
    EXPECT_STREQ(text, "keep");
    EXPECT_TRUE(r.Failed());

    Bytes const r2Data("\xFF\xFF\xFF\x7F"
                       "abc\x00",
                       8);
    StringReader r2 = ReaderOn(r2Data);
    String s("keep");
    EXPECT_FALSE(r2.Read(&s));
    EXPECT_STREQ(s, "keep");
    EXPECT_EQ(s.GetCapacity(), 5);
}

TEST(StreamHostileTest, LengthPrefixOneBeyondTheDataFails)
{
    Bytes const rData("\x05\x00\x00\x00"
                      "abc\x00",
                      8);
    StringReader r = ReaderOn(rData);
    String s("keep");
    EXPECT_FALSE(r.Read(&s));
    EXPECT_STREQ(s, "keep");
}

TEST(StreamHostileTest, ZeroLengthOrUnterminatedTextFails)
{
    Bytes const zeroData("\x00\x00\x00\x00", 4);
    StringReader zero = ReaderOn(zeroData);
    char text[8] = "keep";
    EXPECT_FALSE(zero.Read(text));
    EXPECT_STREQ(text, "keep");

    Bytes const unterminatedData("\x03\x00\x00\x00"
                                 "abc",
                                 7);
    StringReader unterminated = ReaderOn(unterminatedData);
    String s("keep");
    EXPECT_FALSE(unterminated.Read(&s));
    EXPECT_STREQ(s, "keep");
}

TEST(StreamHostileTest, MemoryTextLongerThanTheBufferIsCutAndTheRestSkipped)
{
    String block;
    StringWriter w;
    w.Open(&block);
    w.Write("abcdefghij");
    w.Write(99);

    StringReader r;
    r.Open(block, static_cast<std::size_t>(block.GetLength()));
    char small[5];
    std::memset(small, 'X', sizeof small);
    char guard = 'G';
    EXPECT_TRUE(r.Read(small, 4));
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(small[4], 'X');
    EXPECT_EQ(guard, 'G');
    int next = 0;
    EXPECT_TRUE(r.Read(&next));
    EXPECT_EQ(next, 99);
}

TEST(StreamHostileTest, ReadsWithoutDataOrIntoNothingFail)
{
    StringReader closed;
    int v = 3;
    EXPECT_FALSE(closed.Read(&v));
    EXPECT_EQ(v, 3);
    EXPECT_EQ(closed.Remaining(), 0u);

    Bytes const rData("\x02\x00\x00\x00z\x00", 6);
    StringReader r = ReaderOn(rData);
    char none[1];
    EXPECT_FALSE(r.Read(none, 0));
    EXPECT_TRUE(r.Failed());

    Bytes const r2Data("\x02\x00\x00\x00z\x00", 6);
    StringReader r2 = ReaderOn(r2Data);
    char one[1] = {'Q'};
    EXPECT_TRUE(r2.Read(one));
    EXPECT_EQ(one[0], 0); // room for the zero only
}

TEST(StreamHostileTest, ReaderStopsAtTheEndOfItsBlock)
{
    // The block is a prefix of a larger buffer: the bytes after it are never read.
    Bytes memory("\x01\x00\x00\x00\x02\x00\x00\x00", 8);
    StringReader r;
    r.Open(memory.data(), 4);
    int a = 0, b = 0;
    EXPECT_TRUE(r.Read(&a));
    EXPECT_FALSE(r.Read(&b));
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 0);
}

// ---------------------------------------------------------------------------------------------------
// Hostile files

TEST_F(StreamFileTest, TruncatedFileFailsAndLeavesTheDestination)
{
    std::string path = WriteFile("short.bin", Bytes("\x01\x00\x00\x00\x02\x00", 6));
    FileReader r;
    ASSERT_TRUE(r.Open(path.c_str()));
    int a = 0, b = 77;
    EXPECT_TRUE(r.Read(&a));
    EXPECT_EQ(r.Remaining(), 2u);
    EXPECT_FALSE(r.Read(&b));
    EXPECT_EQ(b, 77);
    EXPECT_TRUE(r.Failed());
    unsigned char byte = 5;
    EXPECT_FALSE(r.ReadBytes(&byte, 1));
    EXPECT_EQ(byte, 5);
}

TEST_F(StreamFileTest, HugeLengthPrefixInAFileFails)
{
    std::string path = WriteFile("huge.bin", Bytes("\xF0\xFF\xFF\xFF"
                                                   "abc\x00",
                                                   8));
    FileReader r;
    ASSERT_TRUE(r.Open(path.c_str()));
    String s("keep");
    EXPECT_FALSE(r.Read(&s));
    EXPECT_STREQ(s, "keep");
    EXPECT_TRUE(r.Failed());
}

TEST_F(StreamFileTest, LongLineIsCutToTheBufferAndTheRestSkipped)
{
    std::string path = WriteFile("long.bin", std::string(1000, 'q') + "\r" + Bytes("\x2A\x00\x00\x00", 4));
    FileReader r;
    ASSERT_TRUE(r.Open(path.c_str()));
    char line[9];
    std::memset(line, 'X', sizeof line);
    EXPECT_TRUE(r.Read(line, 8));
    EXPECT_STREQ(line, "qqqqqqq");
    EXPECT_EQ(line[8], 'X');
    int next = 0;
    EXPECT_TRUE(r.Read(&next));
    EXPECT_EQ(next, 42);
}

TEST_F(StreamFileTest, LineWithoutAFinalCarriageReturnEndsAtTheEndOfTheFile)
{
    std::string path = WriteFile("nocr.txt", "first\r  last");
    FileReader r;
    ASSERT_TRUE(r.Open(path.c_str()));
    char a[16], b[16], c[16] = "keep";
    EXPECT_TRUE(r.Read(a));
    EXPECT_TRUE(r.Read(b));
    EXPECT_STREQ(a, "first");
    EXPECT_STREQ(b, "last");
    EXPECT_FALSE(r.Failed());
    // Nothing is left: that read fails.
    EXPECT_FALSE(r.Read(c));
    EXPECT_STREQ(c, "keep");
    EXPECT_TRUE(r.Failed());
}

TEST_F(StreamFileTest, EmptyFileReadsNothing)
{
    std::string path = WriteFile("empty.bin", "");
    FileReader r;
    ASSERT_TRUE(r.Open(path.c_str()));
    EXPECT_EQ(r.Remaining(), 0u);
    char text[4] = "abc";
    EXPECT_FALSE(r.Read(text));
    EXPECT_STREQ(text, "abc");
}

TEST_F(StreamFileTest, FolderOrMissingFileDoesNotOpen)
{
    FileReader r;
    EXPECT_FALSE(r.Open(folder.string().c_str()));
    EXPECT_FALSE(r.IsOpen());
    EXPECT_TRUE(r.Failed());
    int v = 5;
    EXPECT_FALSE(r.Read(&v));
    EXPECT_EQ(v, 5);

    EXPECT_FALSE(r.Open(PathOf("missing.bin").c_str()));
    EXPECT_FALSE(r.Open(nullptr));

    FileWriter w;
    EXPECT_FALSE(w.Create(folder.string().c_str()));
    EXPECT_FALSE(w.Create(PathOf("no/such/folder/file.bin").c_str()));
    w.Write(1);
    EXPECT_FALSE(w.Close());
}

TEST_F(StreamFileTest, ReopeningAReaderStartsAfresh)
{
    std::string one = WriteFile("one.bin", Bytes("\x01\x00", 2));
    std::string two = WriteFile("two.bin", Bytes("\x02\x00\x00\x00", 4));
    FileReader r;
    ASSERT_TRUE(r.Open(one.c_str()));
    int v = 0;
    EXPECT_FALSE(r.Read(&v));
    ASSERT_TRUE(r.Open(two.c_str()));
    EXPECT_FALSE(r.Failed());
    EXPECT_TRUE(r.Read(&v));
    EXPECT_EQ(v, 2);
}

TEST_F(StreamFileTest, CloseIsIdempotent)
{
    std::string path = PathOf("twice.bin");
    FileWriter w;
    ASSERT_TRUE(w.Create(path.c_str()));
    w.Write(5);
    EXPECT_TRUE(w.Close());
    EXPECT_TRUE(w.Close());
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(ReadFile(path), Bytes("\x05\x00\x00\x00", 4));

    FileReader r;
    ASSERT_TRUE(r.Open(path.c_str()));
    r.Close();
    r.Close();
    EXPECT_FALSE(r.IsOpen());
    // Writing after closing reports a failure and changes nothing.
    w.Write(6);
    EXPECT_TRUE(w.Failed());
    EXPECT_EQ(ReadFile(path), Bytes("\x05\x00\x00\x00", 4));
}

TEST(StreamWriteErrorTest, FullDiskIsReported)
{
    // A file that can't grow past 16 bytes stands for a full disk (devices are never opened).
    std::string const path = (fs::path(MakeTemporaryFolder("torvane-full-")) / "full.dat").string();
    struct sigaction ignore
    {
    }, previousAction{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previousAction);
    rlimit previousLimit{};
    getrlimit(RLIMIT_FSIZE, &previousLimit);
    rlimit small = previousLimit;
    small.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &small);

    FileWriter w;
    bool const created = w.Create(path.c_str());
    for (int i = 0; i < 10000; ++i)
        w.Write(i);
    bool const closed = w.Close();
    FileWriter flushed;
    bool const createdAgain = flushed.Create(path.c_str());
    for (int i = 0; i < 10000; ++i)
        flushed.Write("text");
    bool const flushedAll = flushed.Flush();

    setrlimit(RLIMIT_FSIZE, &previousLimit);
    sigaction(SIGXFSZ, &previousAction, nullptr);
    fs::remove_all(fs::path(path).parent_path());
    ASSERT_TRUE(created);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(w.Failed());
    ASSERT_TRUE(createdAgain);
    EXPECT_FALSE(flushedAll);
}

TEST(StreamWriteErrorTest, DevicesAreRefused)
{
    FileWriter w;
    EXPECT_FALSE(w.Create("/dev/null"));
    EXPECT_TRUE(w.Failed());
    FileReader r;
    EXPECT_FALSE(r.Open("/dev/null"));
    EXPECT_FALSE(r.Open("/dev/zero"));
}

namespace
{

// Runs `body` in a child process as the user nobody where the tests run as root, else as the user
// running them; its exit code (-1 when it did not end by itself).
template <typename Body> int AsAUser(Body body)
{
    pid_t const child = fork();
    if (child == 0)
    {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0))
            _exit(99);
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

} // namespace

// A file its user may not write is not replaced, and the reason says so; root may write any file,
// and the file keeps its mode.
TEST_F(StreamFileTest, AFileItsUserMayNotWriteIsNotReplaced)
{
    struct Row
    {
        char const* what;
        mode_t mode;
    };
    for (Row const& row : {Row{"no write bit for anyone", 0444}, Row{"the owner's only", 0644}})
    {
        SCOPED_TRACE(row.what);
        // A user may write a file of their own with its write bit.
        if (geteuid() != 0 && (row.mode & 0200) != 0) continue;
        std::string const path = WriteFile("kept.fxp", "old");
        ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
        // As a user the file is not its own: refused with its reason, the old file left.
        int const code = AsAUser(
            [&]
            {
                ReplacingFileWriter w;
                bool const opened = w.Open(path.c_str());
                return opened ? 1
                       : WithReason("Could not save patch", w.Outcome()) ==
                               "Could not save patch: kept.fxp is read-only"
                           ? 0
                           : 2;
            });
        EXPECT_EQ(code, 0);
        EXPECT_EQ(ReadFile(path), "old");
        if (geteuid() != 0) continue;
        ReplacingFileWriter w;
        ASSERT_TRUE(w.Open(path.c_str()));
        w.Write("new");
        EXPECT_TRUE(w.Close());
        EXPECT_EQ(ReadFile(path), "new\r");
        struct stat facts
        {
        };
        ASSERT_EQ(stat(path.c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mode & 07777, row.mode);
    }
}

namespace
{

// Exit codes of a round of kills.
constexpr int kCannotMount = 77;
constexpr int kLeftover = 1;
constexpr int kDamagedFile = 2;

// The bytes of save number n: a megabyte of one value, so a file is whole only when all of it
// holds that value.
Bytes SaveNumber(int n)
{
    return Bytes(1024 * 1024, static_cast<char>('a' + n % 26));
}

bool Whole(Bytes const& bytes)
{
    return bytes.size() == 1024 * 1024 && bytes.find_first_not_of(bytes[0]) == Bytes::npos;
}

// In a mount namespace of its own, a new file system of `type` (tmpfs, or a loop-mounted image
// made by `make`) in `base`; then rounds of a process saving over one file again and again,
// killed (SIGKILL) at a random instant. The target must be whole, and no temporary file is left
// but, at most once, a whole one named in the instant between its naming and its rename.
int KillRounds(fs::path const& base, char const* type, char const* make)
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return kCannotMount;
    fs::path const folder = base / "mounted";
    fs::create_directories(folder);
    if (make == nullptr)
    {
        if (mount("tmpfs", folder.c_str(), type, 0, "size=16m") != 0) return kCannotMount;
    }
    else
    {
        fs::path const image = base / "image";
        std::ofstream(image).flush();
        fs::resize_file(image, 320u * 1024u * 1024u);
        std::string const quiet = " >/dev/null 2>&1";
        if (std::system((std::string(make) + " " + image.string() + quiet).c_str()) != 0 ||
            std::system(("mount -t " + std::string(type) + " -o loop " + image.string() + " " +
                         folder.string() + quiet)
                            .c_str()) != 0)
            return kCannotMount;
    }
    std::string const target = (folder / "Pad.fxp").string();
    std::ofstream(target, std::ios::binary) << SaveNumber(0);
    std::mt19937 random(static_cast<unsigned>(getpid()));
    int result = 0;
    for (int round = 0; round < 10 && result == 0; ++round)
    {
        // A kill between a complete file's naming and its rename leaves that one file, whole.
        int named = 0;
        pid_t const saver = fork();
        if (saver == 0)
        {
            for (int n = 1;; ++n)
            {
                ReplacingFileWriter w;
                Bytes const bytes = SaveNumber(n);
                if (w.Open(target.c_str())) w.WriteBytes(bytes.data(), bytes.size());
                w.Close();
            }
        }
        usleep(1000 + random() % 40000);
        kill(saver, SIGKILL);
        waitpid(saver, nullptr, 0);
        for (auto const& entry : fs::directory_iterator(folder))
        {
            std::string const name = entry.path().filename().string();
            if (name == "lost+found") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            Bytes const bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            if (name == "Pad.fxp")
            {
                if (!Whole(bytes)) result = kDamagedFile;
                continue;
            }
            if (!Whole(bytes) || ++named > 1) result = kLeftover;
            fs::remove(entry.path());
        }
    }
    umount2(folder.c_str(), 0);
    return result;
}

bool MountsRequired()
{
    char const* required = std::getenv("TORVANE_REQUIRE_MOUNTS");
    return required != nullptr && std::string(required) == "1";
}

} // namespace

// A process killed while it saves leaves the old file or the new one, whole, and no temporary
// file it was writing: that has no name until it is complete (and then only until its rename). On ext4 and
// XFS (loop-mounted images) and tmpfs; a machine that can't mount them skips a row, and fails it instead when
// TORVANE_REQUIRE_MOUNTS=1 (CI).
TEST(StreamKillTest, AProcessKilledWhileSavingLeavesNoPartialFile)
{
    struct Row
    {
        char const* type;
        char const* make;
    };
    for (Row const& row :
         {Row{"ext4", "mkfs.ext4 -q -F"}, Row{"xfs", "mkfs.xfs -q -f"}, Row{"tmpfs", nullptr}})
    {
        SCOPED_TRACE(row.type);
        fs::path const base = MakeTemporaryFolder("torvane-kill-");
        pid_t const child = fork();
        if (child == 0) _exit(KillRounds(base, row.type, row.make));
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        fs::remove_all(base);
        ASSERT_TRUE(WIFEXITED(status));
        int const code = WEXITSTATUS(status);
        if (code == kCannotMount && !MountsRequired()) continue;
        EXPECT_NE(code, kCannotMount) << "no " << row.type << " could be mounted";
        EXPECT_NE(code, kLeftover) << "temporary files were left";
        EXPECT_NE(code, kDamagedFile) << "the file was left damaged";
    }
}

// ---------------------------------------------------------------------------------------------
// Text lines through a file: only leading spaces are dropped.

TEST_F(StreamFileTest, FileTextDropsOnlyLeadingSpaces)
{
    std::string path = WriteFile("spaces.txt", Bytes("  a b  \r\tx\r \x00y\r", 14));
    FileReader r;
    ASSERT_TRUE(r.Open(path.c_str()));
    char a[16], b[16], c[16];
    std::memset(c, 'X', sizeof c);
    EXPECT_TRUE(r.Read(a));
    EXPECT_TRUE(r.Read(b));
    EXPECT_TRUE(r.Read(c));
    EXPECT_STREQ(a, "a b  "); // inner and trailing spaces stay
    EXPECT_STREQ(b, "\tx");   // a tab is not a space
    EXPECT_EQ(c[0], 0);       // a zero byte is stored as read: the text ends there
    EXPECT_EQ(c[1], 'y');
    EXPECT_EQ(c[2], 0);
    EXPECT_EQ(r.Remaining(), 0u);
}
