#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

#include "dsp/FFT.h"

class WaveReader;

class Writer;
class Reader;
class MipOscWaveDef;

// Wave kinds, as stored.
enum WaveKind : int
{
    kWaveNone = 0,
    kWaveSine = 1,
    kWaveSaw = 2,
    kWaveSquare = 3,
    kWaveSilence = 4,
    kWaveCustom = 5,
};

// One plain cycle without band limiting (the default voice's saw).
class OscWaveDef
{
public:
    void InitArray(long n);
    void CreateSaw(long n);
    void CreateSquare(long n);
    void CreateSine(long n);

    std::unique_ptr<float[]> table; // null until built
    long length = 0;
};

// Band-limited mip-mapped tables of one or four interleaved single-cycle waves
// ("slots"). Level m holds the waves as a note m + 1 may carry them at a reference
// rate of 44100 Hz without aliasing; sample i of slot s is levels[m][waves * i + s].
// Every level buffer is 64-byte aligned.
//
// VectorMipOscWaveDef (four slots) and MipOscWaveDef (one) are the two faces of
// this class. Not thread-safe: builds run off the audio thread.
//
// Tables with the same bytes share one storage block: when a build finishes, the
// table looks its levels up in a process-wide cache and takes the block already
// there, or enters its own. A shared block is never written: the next build of a
// table holding it first gets a private copy (or takes the block back out of the
// cache when no other table holds it). A block goes when the last table holding it
// drops it, on the thread that drops it, which is the thread that builds, loads or
// destroys a table, never the audio thread: a render only reads through `levels`.
class MipWaveTable
{
    struct Block;

public:
    static constexpr long kMinLength = 16;
    static constexpr long kMaxLength = 16384;
    static constexpr int kMaxLevels = 128;
    static constexpr int kReverseSize = 44100;
    static constexpr int kMaxWaves = 4;
    // The largest magnitude of a stored custom sample. Builders keep every sample within it, so
    // every cycle the table holds can be stored and loaded back.
    static constexpr float kMaxStoredSample = 1.0e4f;

    // A sample a stored custom cycle may hold: finite and within kMaxStoredSample.
    static bool IsStorableSample(float v) { return v >= -kMaxStoredSample && v <= kMaxStoredSample; }

    explicit MipWaveTable(int waves);
    ~MipWaveTable();
    MipWaveTable(MipWaveTable const&) = delete;
    MipWaveTable& operator=(MipWaveTable const&) = delete;

    // A power-of-two length of kMinLength..kMaxLength and 1..kMaxLevels levels.
    static bool IsSupportedShape(long length, int numLevels);

    // Makes sure level storage of that shape exists (false, nothing changed, for an
    // unsupported shape). Unchanged shape: nothing happens. New shape: new zeroed
    // buffers; slots holding a standard wave are rebuilt at the new shape, custom
    // slots are cleared to silence (kind 4).
    bool InitArray(long length, int numLevels);

    // Standard shapes; each ends with the reverse table. False for a bad slot or shape.
    bool CreateSine(int slot, long length);
    bool CreateSaw(int slot, long length);
    bool CreateSquare(int slot, long length);
    bool CreateSilence(int slot, long length);

    // Custom waves from a harmonic spectrum (amps[j], phases[j] of harmonic j + 1;
    // phases may be null) or from one cycle of `length` samples (maxHarmonic -1: no
    // limit of the caller's). Both act on the storage held; false without storage.
    bool CreateWithIFFT(int slot, long numHarmonics, float const* amps, float const* phases);
    bool CreateWithSamples(int slot, float const* samples, long maxHarmonic);

    // Builds the slot from a WAV file: 0 when the file can't be opened, isn't Importable or no
    // storage exists (the object is then unchanged), 1 otherwise.
    int Import(int slot, char const* path);
    // The fewest frames a file must hold to be imported at all. The spectrum of a short file is
    // too coarse to show its cycle: files of fewer than about 128 frames import as silence.
    static constexpr unsigned kMinImportFrames = 2;
    // Whether an opened file can be imported: samples the reader converts (8, 16 or 24 bits),
    // one or two channels, at least kMinImportFrames frames.
    static bool Importable(WaveReader const& reader);

    void NormalisePeak(int slot, float peak);
    // Spectrum of the slot's level-0 cycle: entry h - 1 receives bin h. Either output
    // may be null; entry count - 1 is not written.
    void GetFFTData(int slot, int count, float* amps, float* phases);
    long NumFFTHarmonics() const { return length / 2 - 1; }

    // Builds the note-by-frequency table once; sets reverseScale from the length.
    void CalculateReverse();

    // The level for a phase increment in table samples per output sample:
    // reverseTable[reverseScale * increment] with the index clamped to the table and
    // the level to numLevels - 1; 0 for an increment of 0, below 0 or NaN.
    int LevelForIncrement(float increment) const;

    // Stream of one slot: float 1.0, long length, int levels, int kind, and for
    // kind 5 the slot's `length` level-0 samples. `version` is not used.
    void Save(int slot, Writer& w, float version) const;
    // False (object unchanged) for a bad slot, an unsupported shape, an unknown kind,
    // a custom cycle holding a sample that is not storable (IsStorableSample), or a
    // truncated stream.
    bool Load(int slot, Reader& r);

    // Exchanges the whole content (shape, waves, kinds, buffers) with o, which has as many
    // slots; allocates nothing, so a table built elsewhere is put in place in constant time.
    void Swap(MipWaveTable& o) noexcept;

    bool HasStorage() const { return storage != nullptr; }

    // A read-only hold on the bytes the table holds now, for reading them on another thread
    // without the lock of the table's writers: a shared block is never written, and while a hold
    // lasts the table's next build writes a copy of its own. Empty when the table holds no shared
    // block. Taken, compared with StillHolds and dropped by the table's writers' side (under
    // their lock), each in constant time.
    class Held
    {
    public:
        bool Empty() const { return block == nullptr; }
        // Sample i of slot s of the first level: Level0()[waves * i + s].
        float const* Level0() const;
        long length = 0;
        int numLevels = 0;
        int waves = 0;
        int kind[kMaxWaves] = {};

    private:
        friend class MipWaveTable;
        std::shared_ptr<Block const> block;
    };
    Held Hold() const;
    // True while the table holds the very bytes of `held`, at its shape and with its kinds.
    bool StillHolds(Held const& held) const;
    // Makes this table a second holder of the bytes of `held`, at its shape and with its kinds,
    // without copying them: a table to build the next state of the held one in (its first write
    // takes a copy of its own) or one more table of the same waves. False, nothing changed, for
    // an empty hold or one of another number of slots.
    bool Adopt(Held const& held);

    // What the calling thread did to table bytes: blocks mapped and unmapped, and bytes built,
    // copied, compared or hashed. Counted on every thread, for tests that check where the work
    // happens; reading it costs nothing.
    struct Work
    {
        long maps = 0;
        long unmaps = 0;
        std::size_t bytes = 0;
    };
    static Work ThisThreadsWork();

    // Puts the one-wave table `src` into `slot`, with its kind. Another shape: this table
    // takes src's first (rebuilding its standard slots), as loading into the slot would.
    // False, nothing changed, for a bad slot or a source without storage.
    bool CopySlotFrom(int slot, MipOscWaveDef const& src);

    // Whether this table's storage is the cached block that other tables with the same
    // bytes share.
    bool IsShared() const;
    // Blocks in the process-wide cache (each shared by one table or more).
    static int SharedBlockCount();
    int GetKind(int slot) const { return ValidSlot(slot) ? kind[slot] : kWaveNone; }
    int NumWaves() const { return waves; }

    // Level m: `length` groups of NumWaves() floats.
    std::unique_ptr<float*[]> levels;
    long length = 0;
    int numLevels = kMaxLevels;
    std::shared_ptr<int const[]> reverseTable; // one table for the whole process
    float reverseScale = 0.0f;
    int kind[kMaxWaves] = {};

private:
    class Edit;
    static float* MapFloats(std::size_t n);
    friend class Edit;

    bool ValidSlot(int slot) const { return slot >= 0 && slot < waves; }
    float CustomLimit(int level) const;
    float ShapeLimit(int level) const;
    void StoreSamples(int level, int slot, float const* src);
    bool BuildHarmonicShape(int slot, long length, int shape);
    void RebuildAfterReshape();
    // Every sample of the slot, at every level, finite and within kMaxStoredSample.
    void BoundSamples(int slot);
    // Before the first write of a build: a private block to write in.
    void Writable();
    // After a build: storage shared with the tables of the same bytes.
    void Share();
    void PointLevels();

    int waves;
    std::shared_ptr<Block> storage;
    int editDepth = 0;
    FFT fft;                     // `length` points, re-initialised with the length
    std::vector<float> keptAmps; // a forward spectrum kept across the levels of one build
    std::vector<float> keptPhases;
};

// The four waves of one voice layer (one per corner of the vector pad).
class VectorMipOscWaveDef : public MipWaveTable
{
public:
    VectorMipOscWaveDef() : MipWaveTable(4) {}
};

// The one-wave form: the same levels, builders, limits and stream for one wave. Its
// stream is byte for byte the stream of one slot of a VectorMipOscWaveDef.
class MipOscWaveDef : private MipWaveTable
{
public:
    MipOscWaveDef() : MipWaveTable(1) {}

    using MipWaveTable::CalculateReverse;
    using MipWaveTable::HasStorage;
    using MipWaveTable::InitArray;
    using MipWaveTable::IsSupportedShape;
    using MipWaveTable::length;
    using MipWaveTable::LevelForIncrement;
    using MipWaveTable::levels;
    using MipWaveTable::NumFFTHarmonics;
    using MipWaveTable::numLevels;
    using MipWaveTable::reverseScale;
    using MipWaveTable::reverseTable;

    bool CreateSine(long n) { return MipWaveTable::CreateSine(0, n); }
    bool CreateSaw(long n) { return MipWaveTable::CreateSaw(0, n); }
    bool CreateSquare(long n) { return MipWaveTable::CreateSquare(0, n); }
    bool CreateSilence(long n) { return MipWaveTable::CreateSilence(0, n); }
    bool CreateWithIFFT(long numHarmonics, float const* amps, float const* phases)
    {
        return MipWaveTable::CreateWithIFFT(0, numHarmonics, amps, phases);
    }
    bool CreateWithSamples(float const* samples, long maxHarmonic)
    {
        return MipWaveTable::CreateWithSamples(0, samples, maxHarmonic);
    }
    int Import(char const* path) { return MipWaveTable::Import(0, path); }
    void NormalisePeak(float peak) { MipWaveTable::NormalisePeak(0, peak); }
    void GetFFTData(int count, float* amps, float* phases)
    {
        MipWaveTable::GetFFTData(0, count, amps, phases);
    }
    void Save(Writer& w, float version) const { MipWaveTable::Save(0, w, version); }
    bool Load(Reader& r) { return MipWaveTable::Load(0, r); }
    int GetKind() const { return MipWaveTable::GetKind(0); }
};
