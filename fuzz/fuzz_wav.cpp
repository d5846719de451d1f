// WAV files through the reader (every read form) and through waveform import into a wave slot.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "dsp/WaveTables.h"
#include "framework/WavReader.h"

namespace
{

// Frames asked per read: several sizes, so reads end inside and at the end of the data.
constexpr unsigned kChunks[] = {1, 7, 64, 1000};

void ReadEveryWay(char const* path)
{
    WaveReader reader;
    fuzz::Check(reader.Open(path) == 1, "an existing file does not open");
    unsigned const frames = reader.NumFrames();
    WaveFormat const format = reader.GetFormat();
    size_t const channels = format.channels;

    // Interleaved, in pieces: never more frames than the file claims.
    std::vector<float> interleaved(1000 * std::max<size_t>(channels, 1));
    unsigned total = 0;
    for (size_t i = 0;; ++i)
    {
        unsigned const n = reader.ReadFrames(interleaved.data(), kChunks[i % 4]);
        fuzz::Check(n <= kChunks[i % 4], "ReadFrames returned more than asked");
        if (n == 0) break;
        total += n;
    }
    fuzz::Check(total <= frames, "ReadFrames read more frames than the file has");

    reader.SeekToStart();
    std::vector<float> l(1000), r(1000);
    total = 0;
    for (size_t i = 0;; ++i)
    {
        unsigned const n = reader.ReadStereoFrames(l.data(), r.data(), kChunks[(i + 1) % 4]);
        if (n == 0) break;
        total += n;
    }
    fuzz::Check(total <= frames, "ReadStereoFrames read more frames than the file has");

    reader.SeekFrames(frames / 2);
    std::vector<float> mono;
    unsigned const read = reader.ReadFramesMakeMono(mono);
    fuzz::Check(read <= frames && mono.size() == frames, "ReadFramesMakeMono(vector) sizes");
    for (float v : mono)
        fuzz::Check(std::isfinite(v) && std::fabs(v) <= 1.01f, "a converted sample outside -1..1");

    reader.SeekToStart();
    std::vector<unsigned char> raw(4096);
    size_t const frameBytes = channels * format.bitsPerSample / 8;
    if (frameBytes > 0 && frameBytes <= raw.size())
        reader.ReadFrames(static_cast<void*>(raw.data()), static_cast<unsigned>(raw.size() / frameBytes));
    reader.Read(raw.data(), 100);
    reader.Close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string const path = fuzz::WriteScratchFile("input.wav", data, size);
    ReadEveryWay(path.c_str());

    // Import into one slot of four-wave tables (a small shape keeps the builds quick); the
    // other slots must stay as they were.
    static VectorMipOscWaveDef waves;
    static std::vector<float> before;
    if (!waves.HasStorage())
    {
        waves.InitArray(256, 8);
        for (int slot = 0; slot < 4; ++slot)
            waves.CreateSaw(slot, 256);
    }
    int const slot = static_cast<int>(size % 4);
    before.assign(waves.levels[0], waves.levels[0] + 4 * waves.length);
    // Only files whose samples convert and that hold a cycle import; a refused one leaves every
    // slot as it was.
    WaveReader reader;
    bool const importable = reader.Open(path.c_str()) == 1 && MipWaveTable::Importable(reader);
    reader.Close();
    bool const imported = waves.Import(slot, path.c_str()) == 1;
    fuzz::Check(imported == importable, "import takes a file it cannot convert, or refuses one it can");
    for (int m = 0; m < waves.numLevels; ++m)
    {
        for (long i = 0; i < waves.length; ++i)
        {
            for (int s = 0; s < 4; ++s)
            {
                float const v = waves.levels[m][4 * i + s];
                fuzz::Check(std::isfinite(v), "an imported wave holds a sample that is not finite");
                if ((s != slot || !imported) && m == 0)
                    fuzz::Check(std::memcmp(&v, &before[4 * i + s], sizeof v) == 0,
                                "import changed another slot");
            }
        }
    }
    fuzz::Check(waves.LevelForIncrement(3.0f) < waves.numLevels, "level choice out of range");
    // Back to a saw, so every input starts from the same tables.
    waves.CreateSaw(slot, 256);
    return 0;
}
