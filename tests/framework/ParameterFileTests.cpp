#include "framework/Parameter.h"
#include "framework/ParameterFile.h"
#include "framework/ParameterHost.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
using Bytes = std::string;

Bytes const versionOne("\x00\x00\x80\x3F", 4);
Bytes const versionOneAndHalf("\x00\x00\xC0\x3F", 4);

Bytes ReadFile(fs::path const& p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(fs::path const& p, Bytes const& bytes)
{
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

ParameterFileFormat Format(char const* name, float min, float max)
{
    ParameterFileFormat f;
    f.extension = "wfm";
    f.formatName = name;
    f.SetAcceptVersion(min, max);
    return f;
}

bool Opens(fs::path const& p, ParameterFileFormat const& format)
{
    ParameterFileReader reader;
    reader.format = format;
    bool opened = reader.Open(p.c_str());
    EXPECT_EQ(opened, reader.IsOpen());
    return opened;
}

class ParameterFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static std::atomic<int> counter{0};
        folder = fs::temp_directory_path() /
                 ("torvane-paramfile-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (auto const& e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder;
};
} // namespace

TEST_F(ParameterFileTest, WriterStoresNameLineVersionThenPayloadAndReaderStandsAtPayload)
{
    fs::path p = folder / "a.wfm";
    ParameterFileWriter writer;
    writer.format.formatName = "Waveform";
    writer.format.version = 1.5f;
    ASSERT_TRUE(writer.Open(p.c_str(), true));
    writer.Write(7);
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(ReadFile(p), Bytes("Waveform\r") + versionOneAndHalf + Bytes("\x07\x00\x00\x00", 4));
    EXPECT_EQ(Names(), std::vector<std::string>{"a.wfm"}); // no temporary file left behind

    ParameterFileReader reader;
    reader.format = Format("Waveform", 1.0f, 2.0f);
    ASSERT_TRUE(reader.Open(p.c_str()));
    EXPECT_EQ(reader.format.version, 1.5f);
    int payload = 0;
    EXPECT_TRUE(reader.Read(&payload));
    EXPECT_EQ(payload, 7);
    EXPECT_EQ(reader.Remaining(), 0u);
}

TEST_F(ParameterFileTest, ReaderChecksNameAndVersionRange)
{
    fs::path one = folder / "one.wfm";
    fs::path half = folder / "half.wfm";
    WriteFile(one, "Waveform\r" + versionOne);
    WriteFile(half, "Waveform\r" + versionOneAndHalf);

    ParameterFileReader reader;
    reader.format = Format("Waveform", 1.0f, 1.0f);
    reader.format.version = 3.0f;
    ASSERT_TRUE(reader.Open(one.c_str()));
    EXPECT_EQ(reader.format.version, 1.0f);

    EXPECT_FALSE(Opens(half, Format("Waveform", 1.0f, 0.0f)));
    EXPECT_FALSE(Opens(one, Format("Timeline", 1.0f, 0.0f)));
    EXPECT_FALSE(Opens(one, Format("waveform", 1.0f, 0.0f))); // case counts
    EXPECT_FALSE(Opens(one, Format("Wave", 1.0f, 0.0f)));

    // Leading spaces of the line are dropped by the reader.
    fs::path spaced = folder / "spaced.wfm";
    WriteFile(spaced, "  Waveform\r" + versionOne);
    EXPECT_TRUE(Opens(spaced, Format("Waveform", 1.0f, 0.0f)));
}

TEST_F(ParameterFileTest, AcceptRangeIsInclusiveAndZeroMaxMeansExactly)
{
    ParameterFileFormat exact;
    EXPECT_EQ(exact.acceptMin, 1.0f);
    EXPECT_EQ(exact.acceptMax, 1.0f);
    EXPECT_EQ(exact.version, 1.0f);
    EXPECT_STREQ(exact.extension, "");
    EXPECT_STREQ(exact.formatName, "");

    auto fileWith = [&](float v)
    {
        fs::path p = folder / ("v" + std::to_string(v));
        ParameterFileWriter w;
        w.format.formatName = "Timeline";
        w.format.version = v;
        EXPECT_TRUE(w.Open(p.c_str(), true));
        EXPECT_TRUE(w.Close());
        return p;
    };
    ParameterFileFormat wide = Format("Timeline", 0.5f, 2.0f);
    EXPECT_TRUE(Opens(fileWith(0.5f), wide));
    EXPECT_TRUE(Opens(fileWith(1.0f), wide));
    EXPECT_TRUE(Opens(fileWith(2.0f), wide));
    EXPECT_FALSE(Opens(fileWith(2.01f), wide));
    EXPECT_FALSE(Opens(fileWith(0.49f), wide));

    ParameterFileFormat onlyTwo = Format("Timeline", 2.0f, 0.0f);
    EXPECT_EQ(onlyTwo.acceptMax, 2.0f);
    EXPECT_TRUE(Opens(fileWith(2.0f), onlyTwo));
    EXPECT_FALSE(Opens(fileWith(1.0f), onlyTwo));

    // A version that is not a number is in no range.
    fs::path nan = folder / "nan";
    WriteFile(nan, Bytes("Timeline\r") + Bytes("\x00\x00\xC0\x7F", 4));
    EXPECT_FALSE(Opens(nan, wide));
}

TEST_F(ParameterFileTest, TruncatedMissingAndNonRegularFilesAreRefused)
{
    ParameterFileFormat f = Format("Waveform", 1.0f, 0.0f);
    Bytes const whole = "Waveform\r" + versionOne;
    for (std::size_t n = 0; n < whole.size(); ++n)
    {
        fs::path p = folder / "cut.wfm";
        WriteFile(p, whole.substr(0, n));
        EXPECT_FALSE(Opens(p, f)) << n << " bytes";
    }
    EXPECT_FALSE(Opens(folder / "nothing.wfm", f));

    // A folder, even one named like a preset, holds no header.
    fs::create_directory(folder / "dir.wfm");
    EXPECT_FALSE(Opens(folder / "dir.wfm", f));

    // A longer first line that starts with the name is another name.
    fs::path longer = folder / "longer.wfm";
    WriteFile(longer, "Waveform" + Bytes(300, 'x') + "\r" + versionOne);
    EXPECT_FALSE(Opens(longer, f));
    Bytes const longest(ParameterFileFormat::kMaxFormatNameLength, 'n');
    fs::path cut = folder / "cut-name.wfm";
    WriteFile(cut, longest + "m\r" + versionOne);
    EXPECT_FALSE(Opens(cut, Format(longest.c_str(), 1.0f, 0.0f)));
    WriteFile(cut, longest + "\r" + versionOne);
    EXPECT_TRUE(Opens(cut, Format(longest.c_str(), 1.0f, 0.0f)));
}

TEST_F(ParameterFileTest, ReaderOpenedAgainClosesTheFirstFile)
{
    fs::path good = folder / "good.wfm";
    fs::path other = folder / "other.wfm";
    WriteFile(good, "Waveform\r" + versionOne + Bytes("\x01\x00\x00\x00", 4));
    WriteFile(other, "Waveform\r" + versionOne + Bytes("\x02\x00\x00\x00", 4));

    ParameterFileReader reader;
    reader.format = Format("Waveform", 1.0f, 0.0f);
    ASSERT_TRUE(reader.Open(good.c_str()));
    EXPECT_FALSE(reader.Open((folder / "missing.wfm").c_str()));
    EXPECT_FALSE(reader.IsOpen());
    int v = 0;
    EXPECT_FALSE(reader.Read(&v));

    ASSERT_TRUE(reader.Open(good.c_str()));
    ASSERT_TRUE(reader.Open(other.c_str()));
    EXPECT_TRUE(reader.Read(&v));
    EXPECT_EQ(v, 2);
}

TEST_F(ParameterFileTest, WriterCreatesMissingFoldersWithTheSameHeader)
{
    fs::path p = folder / "x" / "y" / "z.wfm";
    ParameterFileWriter writer;
    writer.format.formatName = "Waveform";
    ASSERT_TRUE(writer.Open(p.c_str(), true));
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(ReadFile(p), "Waveform\r" + versionOne);
}

TEST_F(ParameterFileTest, SavingReplacesTheOldFileOnlyAfterASuccessfulClose)
{
    fs::path p = folder / "p.wfm";
    WriteFile(p, "old");

    {
        ParameterFileWriter abandoned;
        abandoned.format.formatName = "Waveform";
        ASSERT_TRUE(abandoned.Open(p.c_str(), true));
        abandoned.Write(1);
        EXPECT_EQ(ReadFile(p), "old"); // still the old file while the new one is written
    }
    EXPECT_EQ(ReadFile(p), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"p.wfm"});

    ParameterFileWriter writer;
    writer.format.formatName = "Waveform";
    ASSERT_TRUE(writer.Open(p.c_str(), true));
    writer.Discard();
    EXPECT_EQ(ReadFile(p), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"p.wfm"});

    // Opened again before closing: the first file is dropped, the second saved.
    fs::path q = folder / "q.wfm";
    ASSERT_TRUE(writer.Open(p.c_str(), true));
    writer.Write(1);
    ASSERT_TRUE(writer.Open(q.c_str(), true));
    writer.Write(2);
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(ReadFile(p), "old");
    EXPECT_EQ(ReadFile(q), "Waveform\r" + versionOne + Bytes("\x02\x00\x00\x00", 4));
    EXPECT_EQ(Names(), (std::vector<std::string>{"p.wfm", "q.wfm"}));

    ASSERT_TRUE(writer.Open(p.c_str(), true));
    ASSERT_TRUE(writer.Close());
    EXPECT_EQ(ReadFile(p), "Waveform\r" + versionOne);
}

TEST_F(ParameterFileTest, FailedWritesAndRenamesAreReportedAndKeepTheOldFile)
{
    fs::path p = folder / "p.wfm";
    WriteFile(p, "old");

    // A write the file system refuses (file size limit): Close reports it.
    ParameterFileWriter writer;
    writer.format.formatName = "Waveform";
    ASSERT_TRUE(writer.Open(p.c_str(), true));
    {
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 4096;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        std::vector<char> block(64 * 1024, 'x');
        writer.WriteBytes(block.data(), block.size());
        bool closed = writer.Close();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        EXPECT_FALSE(closed);
        EXPECT_TRUE(writer.Failed());
    }
    EXPECT_EQ(ReadFile(p), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"p.wfm"});

    // The target turned into a folder while writing: the rename fails and is reported.
    fs::path d = folder / "d.wfm";
    ASSERT_TRUE(writer.Open(d.c_str(), true));
    fs::create_directory(d);
    fs::create_directory(d / "inside");
    EXPECT_FALSE(writer.Close());
    EXPECT_TRUE(fs::is_directory(d / "inside"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"d.wfm", "p.wfm"}));
}

TEST_F(ParameterFileTest, WriterRefusesFoldersUnstorableNamesAndUncreatableFiles)
{
    fs::create_directory(folder / "dir.wfm");
    ParameterFileWriter writer;
    writer.format.formatName = "Waveform";
    EXPECT_FALSE(writer.Open((folder / "dir.wfm").c_str(), true));
    EXPECT_TRUE(fs::is_directory(folder / "dir.wfm"));
    EXPECT_FALSE(writer.Open(nullptr, true));
    EXPECT_FALSE(writer.Open("", true));

    // A file where a folder should be: no folder can be created there.
    WriteFile(folder / "file", "x");
    EXPECT_FALSE(writer.Open((folder / "file" / "a.wfm").c_str(), true));

    for (char const* bad : {" Waveform", "Wave\rform"})
    {
        writer.format.formatName = bad;
        EXPECT_FALSE(writer.Open((folder / "n.wfm").c_str(), true)) << bad;
    }
    std::string tooLong(ParameterFileFormat::kMaxFormatNameLength + 1, 'n');
    writer.format.formatName = tooLong.c_str();
    EXPECT_FALSE(writer.Open((folder / "n.wfm").c_str(), true));
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(writer.Close()); // a refused file is never reported as saved
    EXPECT_EQ(Names(), (std::vector<std::string>{"dir.wfm", "file"}));
}

// ---------------------------------------------------------------------------------------------
// A whole parameter file, written out by hand: the header, then a host's value stream.

TEST_F(ParameterFileTest, FormatHeaderThenHostValuesByteForByte)
{
    ParameterHost host;
    Parameter a, b, c;
    c.Create("c", &host, Parameter::Private, 0.0f, 1000.0f, Parameter::Continuous);
    b.Create("b", &host, Parameter::Internal, -1.0f, 1.0f, Parameter::Continuous);
    a.Create("a", &host, Parameter::Global, 0.0f, 10.0f, Parameter::Continuous);
    a = 2.5f;
    b = -0.75f;
    c = 100.0f;

    fs::path p = folder / "x.trv";
    ParameterFileWriter writer;
    writer.format.formatName = "TorvanePatch";
    writer.format.version = 0.012f;
    ASSERT_TRUE(writer.Open(p.c_str(), true));
    host.Save(writer);
    ASSERT_TRUE(writer.Close());
    // "TorvanePatch" CR, version 0.012, then the global a, the internal b, the private c.
    Bytes const expected = Bytes("TorvanePatch\r") + Bytes("\xa6\x9b\x44\x3c", 4) +
                           Bytes("\x00\x00\x20\x40", 4) + Bytes("\x00\x00\x40\xbf", 4) +
                           Bytes("\x00\x00\xc8\x42", 4);
    EXPECT_EQ(ReadFile(p), expected);

    ParameterHost other;
    Parameter a2, b2, c2;
    a2.Create("a", &other, Parameter::Global, 0.0f, 10.0f, Parameter::Continuous);
    b2.Create("b", &other, Parameter::Internal, -1.0f, 1.0f, Parameter::Continuous);
    c2.Create("c", &other, Parameter::Private, 0.0f, 1000.0f, Parameter::Continuous);
    ParameterFileReader reader;
    reader.format = Format("TorvanePatch", 0.001f, 0.012f);
    ASSERT_TRUE(reader.Open(p.c_str()));
    EXPECT_EQ(reader.format.version, 0.012f);
    other.Load(reader);
    EXPECT_EQ(static_cast<float>(a2), 2.5f);
    EXPECT_EQ(static_cast<float>(b2), -0.75f);
    EXPECT_EQ(static_cast<float>(c2), 100.0f);
    EXPECT_EQ(reader.Remaining(), 0u);
}
