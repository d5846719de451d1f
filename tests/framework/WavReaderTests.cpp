#include "framework/WavReader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void Put32(Bytes& b, uint32_t v)
{
    Put16(b, v & 0xFFFFu);
    Put16(b, v >> 16);
}

void PutId(Bytes& b, char const* id)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(id[i]));
}

// A chunk with the stated size; odd payloads get the RIFF pad byte.
void PutChunk(Bytes& b, char const* id, Bytes const& payload, bool pad = true)
{
    PutId(b, id);
    Put32(b, uint32_t(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    if (pad && (payload.size() & 1)) b.push_back(0);
}

Bytes FmtPayload(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t extraBytes = 0)
{
    Bytes p;
    Put16(p, 1); // PCM
    Put16(p, channels);
    Put32(p, rate);
    Put32(p, rate * channels * (bits / 8u));
    Put16(p, uint16_t(channels * (bits / 8u)));
    Put16(p, bits);
    if (extraBytes)
    {
        Put16(p, 0); // cbSize
        p.resize(p.size() + extraBytes - 2, 0);
    }
    return p;
}

// RIFF header around the given chunks, with the true size unless one is given.
Bytes Riff(Bytes const& chunks, int64_t riffSize = -1)
{
    Bytes b;
    PutId(b, "RIFF");
    Put32(b, riffSize < 0 ? uint32_t(chunks.size() + 4) : uint32_t(riffSize));
    PutId(b, "WAVE");
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}

Bytes Samples16(std::vector<int> const& values)
{
    Bytes p;
    for (int v : values)
        Put16(p, uint16_t(int16_t(v)));
    return p;
}

class WavReaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("torvane_wav_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Write(Bytes const& bytes, char const* name = "test.wav")
    {
        std::string const path = (dir / name).string();
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }

    fs::path dir;
};

TEST_F(WavReaderTest, StereoSixteenBitWithListChunk)
{
    // 1000 frames; the data chunk comes last after a LIST chunk.
    std::vector<int> values;
    for (int i = 0; i < 1000; ++i)
    {
        values.push_back(i * 30 - 15000);
        values.push_back(8000 - i * 7);
    }
    Bytes chunks;
    PutChunk(chunks, "fmt ", FmtPayload(2, 44100, 16));
    PutChunk(chunks, "LIST", Bytes{'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 4, 0, 0, 0, 'a', 'b', 'c', 0});
    PutChunk(chunks, "data", Samples16(values));
    std::string const path = Write(Riff(chunks));

    WaveReader r;
    ASSERT_EQ(r.Open(path.c_str()), 1);
    EXPECT_EQ(r.NumFrames(), 1000u);
    EXPECT_EQ(r.GetFormat().channels, 2);
    EXPECT_EQ(r.GetFormat().bitsPerSample, 16);
    EXPECT_EQ(r.GetFormat().sampleRate, 44100u);
    EXPECT_EQ(r.GetDataChunk().minutes, 0u);
    EXPECT_NEAR(r.GetDataChunk().seconds, 4000.0 / 176400.0, 1e-12);

    std::vector<float> mono;
    EXPECT_EQ(r.ReadFramesMakeMono(mono), 1000u);
    ASSERT_EQ(mono.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
    {
        float const l = float(values[2 * i] / 32767.0);
        float const rr = float(values[2 * i + 1] / 32767.0);
        EXPECT_FLOAT_EQ(mono[i], (l + rr) * 0.5f) << i;
    }

    r.SeekToStart();
    std::vector<float> left(1000), right(1000);
    EXPECT_EQ(r.ReadStereoFrames(left.data(), right.data(), 1000), 1000u);
    EXPECT_FLOAT_EQ(left[10], float(values[20] / 32767.0));
    EXPECT_FLOAT_EQ(right[10], float(values[21] / 32767.0));

    r.SeekFrames(998);
    std::vector<float> inter(4, -9.0f);
    EXPECT_EQ(r.ReadFrames(inter.data(), 100), 2u); // only what the file holds
    EXPECT_FLOAT_EQ(inter[0], float(values[1996] / 32767.0));
    EXPECT_FLOAT_EQ(inter[3], float(values[1999] / 32767.0));
    EXPECT_EQ(r.ReadFrames(inter.data(), 100), 0u); // nothing left

    r.SeekFrames(5);
    EXPECT_EQ(r.GetPosition(), r.GetDataChunk().start + 20);
    int16_t raw[4];
    EXPECT_EQ(r.ReadFrames(static_cast<void*>(raw), 2), 2u);
    EXPECT_EQ(raw[0], values[10]);
    EXPECT_EQ(raw[3], values[13]);
}

TEST_F(WavReaderTest, EighteenByteFmtAndFactChunk)
{
    Bytes chunks;
    PutChunk(chunks, "fmt ", FmtPayload(1, 22050, 16, 2));
    Bytes fact;
    Put32(fact, 600);
    PutChunk(chunks, "fact", fact);
    PutChunk(chunks, "data", Samples16(std::vector<int>(700, 1000)));
    WaveReader r;
    ASSERT_EQ(r.Open(Write(Riff(chunks)).c_str()), 1);
    EXPECT_EQ(r.GetFmtChunk().size, 18u);
    EXPECT_EQ(r.NumFrames(), 600u); // from the fact chunk
    EXPECT_EQ(r.GetDataChunk().start, 12 + 8 + 18 + 8 + 4 + 8);
    std::vector<float> out(700, 0.0f);
    EXPECT_EQ(r.ReadFramesMakeMono(out.data(), 700), 600u);
    EXPECT_FLOAT_EQ(out[599], float(1000 / 32767.0));
    EXPECT_EQ(out[600], 0.0f);

    // A fact count larger than the data is clipped to the frames held.
    Bytes chunks2;
    PutChunk(chunks2, "fmt ", FmtPayload(1, 22050, 16));
    Bytes bigFact;
    Put32(bigFact, 100000);
    PutChunk(chunks2, "fact", bigFact);
    PutChunk(chunks2, "data", Samples16(std::vector<int>(50, 1)));
    ASSERT_EQ(r.Open(Write(Riff(chunks2), "b.wav").c_str()), 1);
    EXPECT_EQ(r.NumFrames(), 50u);
}

TEST_F(WavReaderTest, SampleConversionByDepth)
{
    struct Case
    {
        uint16_t bits;
        Bytes data;
        std::vector<float> expected;
    };
    std::vector<Case> cases = {
        {16, Samples16({32767, -32768, 0, -1}), {1.0f, float(-32768 / 32767.0), 0.0f, float(-1 / 32767.0)}},
        {24,
         Bytes{0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00},
         {1.0f, -1.0f, 0.0f, float(1 / 8388607.0)}},
        {8, Bytes{128, 255, 1, 0}, {0.0f, 1.0f, -1.0f, float(-128 / 127.0)}},
    };
    for (Case const& c : cases)
    {
        Bytes chunks;
        PutChunk(chunks, "fmt ", FmtPayload(1, 48000, c.bits));
        PutChunk(chunks, "data", c.data);
        WaveReader r;
        ASSERT_EQ(r.Open(Write(Riff(chunks)).c_str()), 1);
        ASSERT_EQ(r.NumFrames(), 4u) << c.bits;
        float out[4];
        EXPECT_EQ(r.ReadFrames(out, 4), 4u);
        for (int i = 0; i < 4; ++i)
            EXPECT_FLOAT_EQ(out[i], c.expected[size_t(i)]) << c.bits << " " << i;
    }
}

TEST_F(WavReaderTest, StereoTwentyFourAndEightBitMakeMono)
{
    // 24-bit stereo: frames (0.5, -0.5) and (1.0, 0.0).
    Bytes data24 = {0x00, 0x00, 0x40, 0x00, 0x00, 0xC0, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00};
    Bytes chunks;
    PutChunk(chunks, "fmt ", FmtPayload(2, 96000, 24));
    PutChunk(chunks, "data", data24);
    WaveReader r;
    ASSERT_EQ(r.Open(Write(Riff(chunks)).c_str()), 1);
    ASSERT_EQ(r.NumFrames(), 2u);
    float mono[2];
    EXPECT_EQ(r.ReadFramesMakeMono(mono, 2), 2u);
    EXPECT_NEAR(mono[0], 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(mono[1], 0.5f);

    // 8-bit mono with an odd data size: the pad byte precedes the next chunk.
    Bytes chunks8;
    PutChunk(chunks8, "fmt ", FmtPayload(1, 8000, 8));
    PutChunk(chunks8, "data", Bytes{128, 255, 1});
    PutChunk(chunks8, "LIST", Bytes{'I', 'N', 'F', 'O'});
    ASSERT_EQ(r.Open(Write(Riff(chunks8), "b.wav").c_str()), 1);
    EXPECT_EQ(r.NumFrames(), 3u);
    float out[3];
    EXPECT_EQ(r.ReadFramesMakeMono(out, 3), 3u);
    EXPECT_FLOAT_EQ(out[2], -1.0f);
}

TEST_F(WavReaderTest, OddSizedChunkIsPadded)
{
    // An odd-sized chunk before fmt: without its pad byte every later chunk is missed.
    Bytes chunks;
    PutChunk(chunks, "junk", Bytes{1, 2, 3, 4, 5});
    PutChunk(chunks, "fmt ", FmtPayload(1, 44100, 16));
    PutChunk(chunks, "data", Samples16({100, 200, 300}));
    WaveReader r;
    ASSERT_EQ(r.Open(Write(Riff(chunks)).c_str()), 1);
    EXPECT_EQ(r.GetFormat().channels, 1);
    EXPECT_EQ(r.NumFrames(), 3u);
}

TEST_F(WavReaderTest, DataBeforeFmt)
{
    Bytes chunks;
    PutChunk(chunks, "data", Samples16({1, 2, 3, 4, 5, 6}));
    PutChunk(chunks, "fmt ", FmtPayload(2, 44100, 16));
    WaveReader r;
    ASSERT_EQ(r.Open(Write(Riff(chunks)).c_str()), 1);
    EXPECT_EQ(r.NumFrames(), 3u);
    EXPECT_EQ(r.GetPosition(), r.GetDataChunk().start);
    float out[6];
    EXPECT_EQ(r.ReadFrames(out, 3), 3u);
    EXPECT_FLOAT_EQ(out[5], float(6 / 32767.0));
}

TEST_F(WavReaderTest, UseFileAndMissingFile)
{
    WaveReader r;
    EXPECT_EQ(r.Open((dir / "absent.wav").string().c_str()), 0);
    EXPECT_EQ(r.Open(dir.string().c_str()), 0); // a folder is no file
    EXPECT_EQ(r.NumFrames(), 0u);
    float out[4] = {7, 7, 7, 7};
    EXPECT_EQ(r.ReadFrames(out, 4), 0u);

    Bytes chunks;
    PutChunk(chunks, "fmt ", FmtPayload(1, 44100, 16));
    PutChunk(chunks, "data", Samples16({5, 6}));
    Bytes const file = Riff(chunks);
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fwrite(file.data(), 1, file.size(), f);
    r.UseFile(f);
    EXPECT_EQ(r.NumFrames(), 2u);
    r.Close();
    // The caller still owns the file.
    EXPECT_EQ(std::fseek(f, 0, SEEK_SET), 0);
    std::fclose(f);
}

TEST_F(WavReaderTest, UnsupportedLayoutsCountButConvertNothing)
{
    // 32-bit samples: frames are counted and consumed, the destination is untouched.
    Bytes chunks;
    PutChunk(chunks, "fmt ", FmtPayload(1, 44100, 32));
    PutChunk(chunks, "data", Bytes(16, 0x11));
    WaveReader r;
    ASSERT_EQ(r.Open(Write(Riff(chunks)).c_str()), 1);
    EXPECT_EQ(r.NumFrames(), 4u);
    float out[4] = {7, 7, 7, 7};
    EXPECT_EQ(r.ReadFrames(out, 4), 4u);
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(r.ReadFrames(out, 4), 0u);

    // Three channels: MakeMono converts nothing; stereo reads of a mono file neither.
    Bytes chunks3;
    PutChunk(chunks3, "fmt ", FmtPayload(3, 44100, 16));
    PutChunk(chunks3, "data", Samples16({1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(r.Open(Write(Riff(chunks3), "b.wav").c_str()), 1);
    EXPECT_EQ(r.ReadFramesMakeMono(out, 4), 2u);
    EXPECT_EQ(out[0], 7.0f);

    Bytes chunks1;
    PutChunk(chunks1, "fmt ", FmtPayload(1, 44100, 16));
    PutChunk(chunks1, "data", Samples16({1, 2}));
    ASSERT_EQ(r.Open(Write(Riff(chunks1), "c.wav").c_str()), 1);
    float right[2] = {7, 7};
    EXPECT_EQ(r.ReadStereoFrames(out, right, 2), 2u);
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(right[0], 7.0f);
}

// Malformed files parse to what they safely hold and never read out of bounds.
TEST_F(WavReaderTest, MalformedHeaders)
{
    struct Case
    {
        char const* name;
        Bytes file;
        unsigned frames;
    };
    auto withFmt = [](Bytes fmt, Bytes data, int64_t riffSize = -1)
    {
        Bytes chunks;
        PutChunk(chunks, "fmt ", fmt);
        PutChunk(chunks, "data", data);
        return Riff(chunks, riffSize);
    };
    Bytes zeroByteRate = FmtPayload(1, 44100, 16);
    zeroByteRate[8] = zeroByteRate[9] = zeroByteRate[10] = zeroByteRate[11] = 0;

    Bytes nearMaxData;
    PutChunk(nearMaxData, "fmt ", FmtPayload(1, 44100, 16));
    PutId(nearMaxData, "data");
    Put32(nearMaxData, 0xFFFFFFF0u); // claims almost 4 GiB
    Bytes const twelve = Samples16({1, 2, 3, 4, 5, 6});
    nearMaxData.insert(nearMaxData.end(), twelve.begin(), twelve.end());

    Bytes hugeUnknown;
    PutId(hugeUnknown, "junk");
    Put32(hugeUnknown, 0xFFFFFFFFu);
    PutChunk(hugeUnknown, "fmt ", FmtPayload(1, 44100, 16));

    Bytes shortFmt;
    PutChunk(shortFmt, "fmt ", Bytes{1, 0, 1, 0});
    PutChunk(shortFmt, "data", Samples16({1, 2}));

    Bytes const valid = withFmt(FmtPayload(2, 44100, 16), Samples16({1, 2, 3, 4}));

    std::vector<Case> cases = {
        {"channels 0", withFmt(FmtPayload(0, 44100, 16), Samples16({1, 2, 3})), 0},
        {"bits 4", withFmt(FmtPayload(1, 44100, 4), Bytes(8, 0x55)), 0},
        {"bits 0 stereo", withFmt(FmtPayload(2, 44100, 0), Bytes(8, 0x55)), 0},
        {"byte rate 0", withFmt(zeroByteRate, Samples16({1, 2, 3})), 3},
        {"data size near 2^32", Riff(nearMaxData), 6},
        {"riff size larger than file", withFmt(FmtPayload(1, 44100, 16), Samples16({1, 2, 3}), 0x7FFFFFF0),
         3},
        {"riff size 2^32 - 1", withFmt(FmtPayload(1, 44100, 16), Samples16({1, 2, 3}), 0xFFFFFFFF), 3},
        {"riff size 0", withFmt(FmtPayload(1, 44100, 16), Samples16({1, 2, 3}), 0), 0},
        {"unknown chunk near 2^32", Riff(hugeUnknown), 0},
        {"fmt shorter than 16", Riff(shortFmt), 0},
        {"many channels, little data", withFmt(FmtPayload(65535, 44100, 24), Bytes(30, 1)), 0},
        {"empty file", Bytes{}, 0},
        {"five bytes", Bytes{'R', 'I', 'F', 'F', 0}, 0},
        {"riff header only", Bytes(valid.begin(), valid.begin() + 12), 0},
        {"cut inside chunk header", Bytes(valid.begin(), valid.begin() + 16), 0},
        {"cut inside fmt", Bytes(valid.begin(), valid.begin() + 30), 0},
        {"cut inside data", Bytes(valid.begin(), valid.end() - 3), 1},
    };
    for (Case const& c : cases)
    {
        WaveReader r;
        ASSERT_EQ(r.Open(Write(c.file).c_str()), 1) << c.name;
        EXPECT_EQ(r.NumFrames(), c.frames) << c.name;
        unsigned const channels = std::max<unsigned>(1, r.GetFormat().channels);
        std::vector<float> out(size_t(c.frames + 1) * channels, 0.0f);
        EXPECT_EQ(r.ReadFrames(out.data(), 1000000), c.frames) << c.name;
        r.SeekToStart();
        std::vector<float> mono;
        EXPECT_LE(r.ReadFramesMakeMono(mono), c.frames) << c.name;
        r.SeekFrames(0xFFFFFFFFu);
        EXPECT_EQ(r.ReadFrames(out.data(), 10), 0u) << c.name;
    }
}

TEST_F(WavReaderTest, ByteRateZeroLeavesDurationZero)
{
    Bytes fmt = FmtPayload(1, 44100, 16);
    fmt[8] = fmt[9] = fmt[10] = fmt[11] = 0;
    Bytes chunks;
    PutChunk(chunks, "fmt ", fmt);
    PutChunk(chunks, "data", Samples16({1, 2, 3}));
    WaveReader r;
    ASSERT_EQ(r.Open(Write(Riff(chunks)).c_str()), 1);
    EXPECT_EQ(r.GetDataChunk().minutes, 0u);
    EXPECT_EQ(r.GetDataChunk().seconds, 0.0);
}

TEST_F(WavReaderTest, RandomlyDamagedFilesReadSafely)
{
    Bytes chunks;
    PutChunk(chunks, "fmt ", FmtPayload(2, 44100, 24, 2));
    Bytes fact;
    Put32(fact, 40);
    PutChunk(chunks, "fact", fact);
    PutChunk(chunks, "LIST", Bytes{'I', 'N', 'F', 'O', 'x'});
    PutChunk(chunks, "data", Bytes(40 * 6, 0x42));
    Bytes const base = Riff(chunks);

    std::mt19937 rng(1234);
    for (int iter = 0; iter < 3000; ++iter)
    {
        Bytes file = base;
        int const edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e)
            file[rng() % file.size()] = uint8_t(rng());
        if (rng() % 4 == 0) file.resize(1 + rng() % file.size());
        FILE* f = fmemopen(file.data(), file.size(), "rb");
        ASSERT_NE(f, nullptr);
        WaveReader r;
        r.UseFile(f);
        // A frame holds at least one byte per channel, so the file size bounds the floats.
        std::vector<float> out(file.size() + 1);
        std::vector<float> right(file.size() + 1);
        unsigned const n = r.ReadFrames(out.data(), 0xFFFFFFFFu);
        EXPECT_LE(uint64_t(n) * std::max<unsigned>(1, r.GetFormat().channels), file.size());
        r.SeekToStart();
        r.ReadStereoFrames(out.data(), right.data(), 0xFFFFFFFFu);
        r.SeekToStart();
        std::vector<float> mono;
        r.ReadFramesMakeMono(mono);
        r.Close();
        std::fclose(f);
    }
}

} // namespace
