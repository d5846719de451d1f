// Wave import by format tag: only integer PCM is read (tag 1, or WAVE_FORMAT_EXTENSIBLE whose
// extension is whole and names the PCM sub-format). Every other coding is refused with the
// slot left as it was, whatever its depth.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dsp/WaveTables.h"
#include "framework/WavReader.h"

namespace fs = std::filesystem;

namespace
{

void Put16(std::string& s, std::uint32_t v)
{
    s.push_back(char(v & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
}

void Put32(std::string& s, std::uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// The sub-format GUIDs: a format tag in the first two bytes, then the common tail.
std::string SubFormat(std::uint16_t tag)
{
    std::string g;
    Put16(g, tag);
    g += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    return g;
}

struct TagRow
{
    char const* what;
    std::uint16_t tag;
    int bits;
    int extension;         // -1: a 16-byte format block; else the extension's stated size
    std::string subFormat; // written after the extension's first 8 bytes when it has room
    int extensionBytes;    // bytes of extension written after its size field
    bool imports;
};

// One second of a mono wave of 100 cycles, at the row's depth (8-bit unsigned, others signed).
std::string WaveFile(TagRow const& row)
{
    std::string data;
    int const bytes = row.bits / 8;
    for (int i = 0; i < 44100; ++i)
    {
        double const v = 0.5 * std::sin(2.0 * 3.141592653589793 * 100.0 * i / 44100.0);
        if (bytes == 1)
        {
            data.push_back(char(128 + std::lround(v * 127)));
            continue;
        }
        long const s = std::lround(v * double((1L << (row.bits - 1)) - 1));
        for (int b = 0; b < bytes; ++b)
            data.push_back(char((std::uint32_t(s) >> (8 * b)) & 0xFF));
    }
    std::string fmt;
    Put16(fmt, row.tag);
    Put16(fmt, 1);
    Put32(fmt, 44100);
    Put32(fmt, std::uint32_t(44100 * bytes));
    Put16(fmt, std::uint16_t(bytes));
    Put16(fmt, std::uint16_t(row.bits));
    if (row.extension >= 0)
    {
        Put16(fmt, std::uint16_t(row.extension));
        std::string extension;
        Put16(extension, std::uint16_t(row.bits)); // valid bits
        Put32(extension, 4);                       // channel mask: front centre
        extension += row.subFormat;
        extension.resize(std::size_t(row.extensionBytes), '\0');
        fmt += extension;
    }
    std::string file = "RIFF";
    Put32(file, std::uint32_t(4 + 8 + fmt.size() + 8 + data.size()));
    file += "WAVEfmt ";
    Put32(file, std::uint32_t(fmt.size()));
    file += fmt;
    file += "data";
    Put32(file, std::uint32_t(data.size()));
    return file + data;
}

std::vector<TagRow> Rows()
{
    std::string const pcm = SubFormat(1);
    return {
        {"PCM, 16 bits", 1, 16, -1, "", 0, true},
        {"PCM, 24 bits", 1, 24, -1, "", 0, true},
        {"PCM, 8 bits", 1, 8, -1, "", 0, true},
        {"float tag, 16 bits", 3, 16, -1, "", 0, false},
        {"float tag, 24 bits", 3, 24, -1, "", 0, false},
        {"float tag, 32 bits", 3, 32, -1, "", 0, false},
        {"A-law", 6, 8, -1, "", 0, false},
        {"A-law, 16 bits", 6, 16, -1, "", 0, false},
        {"mu-law", 7, 8, -1, "", 0, false},
        {"Microsoft ADPCM, 16 bits", 2, 16, -1, "", 0, false},
        {"IMA ADPCM, 16 bits", 0x11, 16, -1, "", 0, false},
        {"tag 0", 0, 16, -1, "", 0, false},
        {"extensible, PCM", 0xFFFE, 16, 22, pcm, 22, true},
        {"extensible, PCM, 24 bits", 0xFFFE, 24, 22, pcm, 22, true},
        {"extensible, float", 0xFFFE, 16, 22, SubFormat(3), 22, false},
        {"extensible, A-law", 0xFFFE, 16, 22, SubFormat(6), 22, false},
        {"extensible, PCM, extension said to be 21 bytes", 0xFFFE, 16, 21, pcm, 22, false},
        {"extensible, no extension", 0xFFFE, 16, 0, "", 0, false},
        {"extensible, extension cut to 8 bytes", 0xFFFE, 16, 22, "", 6, false},
    };
}

} // namespace

TEST(WaveImportTags, OnlyIntegerPcmImportsAndARefusedFileLeavesTheSlot)
{
    fs::path const dir = fs::temp_directory_path() / ("torvane-wav-tags-" + std::to_string(getpid()));
    fs::create_directories(dir);
    VectorMipOscWaveDef waves;
    waves.InitArray(256, 8);
    for (TagRow const& row : Rows())
    {
        SCOPED_TRACE(row.what);
        std::string const path = (dir / "tag.wav").string();
        std::string const bytes = WaveFile(row);
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);

        WaveReader reader;
        ASSERT_EQ(reader.Open(path.c_str()), 1);
        EXPECT_EQ(reader.IsPcm(), row.imports);
        EXPECT_EQ(reader.CanConvert(), row.imports);
        EXPECT_EQ(MipWaveTable::Importable(reader), row.imports);
        // A refused file converts nothing: every read leaves the buffer as it was.
        std::vector<float> out(64, 7.0f);
        reader.ReadFramesMakeMono(out.data(), 64);
        EXPECT_EQ(out[10] == 7.0f, !row.imports);
        reader.Close();

        ASSERT_TRUE(waves.CreateSaw(1, 256));
        std::vector<float> const before(waves.levels[0], waves.levels[0] + 4 * waves.length);
        EXPECT_EQ(waves.Import(1, path.c_str()) == 1, row.imports);
        std::vector<float> const after(waves.levels[0], waves.levels[0] + 4 * waves.length);
        EXPECT_EQ(before == after, !row.imports);
    }
    std::error_code error;
    fs::remove_all(dir, error);
}
