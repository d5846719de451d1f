// The wave-table stream of one slot: a refused stream leaves the tables as they were; an
// accepted one builds finite tables that save back to a stream loading to the same slot.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "dsp/WaveTables.h"

namespace
{

constexpr long kLength = 64;
constexpr int kLevels = 4;

std::vector<uint8_t> SavedSlot(MipWaveTable const& t, int slot)
{
    fuzz::ByteWriter w;
    t.Save(slot, w, 1.0f);
    return w.bytes;
}

// Every slot's stream and every level sample, as bytes.
std::vector<uint8_t> Everything(MipWaveTable const& t)
{
    std::vector<uint8_t> all;
    for (int slot = 0; slot < t.NumWaves(); ++slot)
    {
        std::vector<uint8_t> const s = SavedSlot(t, slot);
        all.insert(all.end(), s.begin(), s.end());
    }
    for (int m = 0; m < t.numLevels; ++m)
    {
        auto const* p = reinterpret_cast<uint8_t const*>(t.levels[m]);
        all.insert(all.end(), p, p + sizeof(float) * static_cast<size_t>(t.length * t.NumWaves()));
    }
    return all;
}

void Build(VectorMipOscWaveDef& t)
{
    t.InitArray(kLength, kLevels);
    t.CreateSine(0, kLength);
    t.CreateSaw(1, kLength);
    float samples[kLength];
    for (long i = 0; i < kLength; ++i)
        samples[i] = i < kLength / 3 ? 0.8f : -0.4f;
    t.CreateWithSamples(2, samples, -1);
    t.CreateSquare(3, kLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static VectorMipOscWaveDef tables;
    static std::vector<uint8_t> built;
    if (built.empty())
    {
        Build(tables);
        built = Everything(tables);
    }
    int const slot = static_cast<int>(size % 4);

    StringReader r;
    r.Open(reinterpret_cast<char const*>(data), size);
    if (!tables.Load(slot, r))
    {
        fuzz::Check(Everything(tables) == built, "a refused stream changed the tables");
        return 0;
    }
    for (int m = 0; m < tables.numLevels; ++m)
    {
        for (long i = 0; i < tables.length * 4; ++i)
            fuzz::Check(std::isfinite(tables.levels[m][i]),
                        "a loaded wave holds a sample that is not finite");
    }
    fuzz::Check(tables.LevelForIncrement(1.5f) < tables.numLevels, "level choice out of range");

    std::vector<uint8_t> const saved = SavedSlot(tables, slot);
    MipOscWaveDef one;
    StringReader back = fuzz::ReaderOn(saved);
    fuzz::Check(one.Load(back), "a saved slot does not load");
    fuzz::ByteWriter w;
    one.Save(w, 1.0f);
    fuzz::Check(w.bytes == saved, "a saved slot loads to another wave");

    // The next input starts from the same tables.
    if (Everything(tables) != built)
    {
        Build(tables);
        fuzz::Check(Everything(tables) == built, "the tables do not rebuild the same");
    }
    return 0;
}
