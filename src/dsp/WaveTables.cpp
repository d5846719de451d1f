#include "dsp/WaveTables.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include <sys/mman.h>
#include <unistd.h>

#include "framework/StandardMaths.h"
#include "framework/Streams.h"
#include "framework/WavReader.h"

namespace
{

// Tables are band-limited for this rate whatever the host's rate.
constexpr float kReferenceRate = 44100.0f;
// Import analyses the first 32768 frames of a file.
constexpr long kImportPoints = 32768;
constexpr long kImportHarmonics = kImportPoints / 2;

// Level buffers start on 64-byte boundaries: 16 floats.
constexpr std::size_t kAlignFloats = 16;

thread_local MipWaveTable::Work work;

} // namespace

MipWaveTable::Work MipWaveTable::ThisThreadsWork()
{
    return work;
}

// OscWaveDef

void OscWaveDef::InitArray(long n)
{
    if (n < 0) n = 0;
    table = std::make_unique<float[]>(std::size_t(n));
    length = n;
}

void OscWaveDef::CreateSaw(long n)
{
    InitArray(n);
    float const step = 2.0f / float(n);
    float v = 1.0f;
    for (long i = 0; i < length; ++i)
    {
        table[i] = v;
        v -= step;
    }
}

void OscWaveDef::CreateSquare(long n)
{
    InitArray(n);
    for (long i = 0; i < length; ++i)
        table[i] = i < length / 2 ? 1.0f : 0.0f;
}

void OscWaveDef::CreateSine(long n)
{
    InitArray(n);
    double const step = 6.2831854 / double(n);
    for (long i = 0; i < length; ++i)
        table[i] = float(std::sin(double(i) * step));
}

// MipWaveTable: storage blocks and the process-wide cache of shared blocks

// The levels of one table, `floats` floats in one page-aligned run of their own pages, zeroed:
// mapped from the system and given back to it when the block goes (a heap would keep the freed
// megabytes of replaced tables resident).
struct MipWaveTable::Block
{
    Block(std::size_t n, long len, int lv, int w)
        : data(MapFloats(n)), floats(n), length(len), numLevels(lv), waves(w)
    {
    }
    ~Block();
    Block(Block const&) = delete;
    Block& operator=(Block const&) = delete;

    bool SameContent(Block const& other) const
    {
        work.bytes += floats * sizeof(float);
        return floats == other.floats && length == other.length && numLevels == other.numLevels &&
               waves == other.waves && std::memcmp(data, other.data, floats * sizeof(float)) == 0;
    }

    float* data;
    std::size_t floats;
    long length;
    int numLevels;
    int waves;
    std::uint64_t hash = 0;
    // In the cache (then nobody writes the data); changed under the cache's mutex.
    std::atomic<bool> cached{false};
};

namespace
{

std::size_t MappedBytes(std::size_t floats)
{
    std::size_t const page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (std::max<std::size_t>(floats, 1) * sizeof(float) + page - 1) / page * page;
}

} // namespace

float* MipWaveTable::MapFloats(std::size_t n)
{
    void* p = mmap(nullptr, MappedBytes(n), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    ++work.maps;
    return static_cast<float*>(p);
}

namespace
{

struct BlockCache
{
    BlockCache() { alive.store(true); }
    ~BlockCache() { alive.store(false); }
    std::mutex mutex;
    std::unordered_multimap<std::uint64_t, std::weak_ptr<void>> entries;
    // False once the cache is gone (the end of the process, or the plug-in's library unloaded):
    // blocks that go later have no entry left to remove.
    static inline std::atomic<bool> alive{false};
};

BlockCache& Cache()
{
    static auto* cache = new BlockCache;
    return *cache;
}

std::uint64_t HashFloats(float const* data, std::size_t n)
{
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
    std::size_t const words = n / 2;
    for (std::size_t i = 0; i < words; ++i)
    {
        std::uint64_t w;
        std::memcpy(&w, data + 2 * i, sizeof w);
        h = (h ^ w) * 0x100000001B3ull;
        h ^= h >> 29;
    }
    if (n & 1)
    {
        std::uint32_t w;
        std::memcpy(&w, data + n - 1, sizeof w);
        h = (h ^ w) * 0x100000001B3ull;
    }
    return h;
}

// Removes the entries of `hash` whose block is gone or is `block`; the caller holds the mutex.
void EraseEntries(BlockCache& cache, std::uint64_t hash, void const* block)
{
    auto range = cache.entries.equal_range(hash);
    for (auto it = range.first; it != range.second;)
    {
        std::shared_ptr<void> held = it->second.lock();
        if (!held || held.get() == block)
            it = cache.entries.erase(it);
        else
            ++it;
    }
}

} // namespace

MipWaveTable::Block::~Block()
{
    if (cached.load(std::memory_order_relaxed) && BlockCache::alive.load())
    {
        BlockCache& cache = Cache();
        std::lock_guard<std::mutex> lock(cache.mutex);
        EraseEntries(cache, hash, this);
    }
    munmap(data, MappedBytes(floats));
    ++work.unmaps;
}

// A build: the outermost one shares the storage when it ends.
class MipWaveTable::Edit
{
public:
    explicit Edit(MipWaveTable& t) : table(t) { ++table.editDepth; }
    ~Edit()
    {
        if (--table.editDepth == 0) table.Share();
    }
    Edit(Edit const&) = delete;
    Edit& operator=(Edit const&) = delete;

private:
    MipWaveTable& table;
};

void MipWaveTable::PointLevels()
{
    std::size_t const perLevel = storage->floats / std::size_t(numLevels);
    for (int m = 0; m < numLevels; ++m)
        levels[m] = storage->data + std::size_t(m) * perLevel;
}

void MipWaveTable::Writable()
{
    if (!storage || !storage->cached.load(std::memory_order_acquire)) return;
    {
        BlockCache& cache = Cache();
        std::lock_guard<std::mutex> lock(cache.mutex);
        // Only the cache could hand the block to another table, and it does so under the
        // mutex: held by this table alone, the block leaves the cache and is written in place.
        if (storage.use_count() == 1)
        {
            EraseEntries(cache, storage->hash, storage.get());
            storage->cached.store(false, std::memory_order_relaxed);
            return;
        }
    }
    auto fresh = std::make_shared<Block>(storage->floats, length, numLevels, waves);
    std::copy_n(storage->data, storage->floats, fresh->data);
    work.bytes += storage->floats * sizeof(float);
    storage = std::move(fresh);
    PointLevels();
}

void MipWaveTable::Share()
{
    if (!storage || storage->cached.load(std::memory_order_acquire)) return;
    storage->hash = HashFloats(storage->data, storage->floats);
    work.bytes += storage->floats * sizeof(float);
    std::shared_ptr<Block> previous;
    try
    {
        BlockCache& cache = Cache();
        std::lock_guard<std::mutex> lock(cache.mutex);
        auto range = cache.entries.equal_range(storage->hash);
        for (auto it = range.first; it != range.second; ++it)
        {
            std::shared_ptr<Block> other = std::static_pointer_cast<Block>(it->second.lock());
            if (other && other->SameContent(*storage))
            {
                previous = std::move(storage);
                storage = std::move(other);
                break;
            }
        }
        if (!previous)
        {
            cache.entries.emplace(storage->hash, std::weak_ptr<void>(storage));
            storage->cached.store(true, std::memory_order_release);
        }
    }
    catch (std::bad_alloc const&)
    {
        // No room for the entry: the table keeps its private block.
    }
    if (previous) PointLevels();
    // `previous` (this table's own copy of the bytes) goes here, outside the cache's mutex.
}

bool MipWaveTable::IsShared() const
{
    return storage && storage->cached.load(std::memory_order_acquire);
}

int MipWaveTable::SharedBlockCount()
{
    BlockCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    int count = 0;
    for (auto const& entry : cache.entries)
        if (!entry.second.expired()) ++count;
    return count;
}

MipWaveTable::MipWaveTable(int w) : waves(std::clamp(w, 1, kMaxWaves)) {}

MipWaveTable::~MipWaveTable() = default;

bool MipWaveTable::IsSupportedShape(long len, int lv)
{
    return len >= kMinLength && len <= kMaxLength && (len & (len - 1)) == 0 && lv >= 1 && lv <= kMaxLevels;
}

bool MipWaveTable::InitArray(long len, int lv)
{
    if (!IsSupportedShape(len, lv)) return false;
    if (storage && len == length && lv == numLevels) return true;
    Edit edit(*this);

    std::size_t const perLevel =
        (std::size_t(len) * std::size_t(waves) + kAlignFloats - 1) / kAlignFloats * kAlignFloats;
    std::size_t const total = perLevel * std::size_t(lv);
    auto block = std::make_shared<Block>(total, len, lv, waves); // zeroed
    auto pointers = std::make_unique<float*[]>(std::size_t(lv));
    for (int m = 0; m < lv; ++m)
        pointers[m] = block->data + std::size_t(m) * perLevel;
    std::vector<float> amps(std::size_t(len / 2), 0.0f);
    std::vector<float> phases(std::size_t(len / 2), 0.0f);
    fft.Init(len); // the last step that may throw (allocation): the object stays as it was

    storage = std::move(block);
    levels = std::move(pointers);
    keptAmps.swap(amps);
    keptPhases.swap(phases);
    length = len;
    numLevels = lv;
    if (reverseTable) reverseScale = 2.0f * kReferenceRate / float(length);
    RebuildAfterReshape();
    return true;
}

void MipWaveTable::RebuildAfterReshape()
{
    // The new buffers are zero: standard waves are rebuilt at the new shape; a custom
    // cycle can't be carried over to another length, so it becomes silence.
    for (int s = 0; s < waves; ++s)
    {
        switch (kind[s])
        {
        case kWaveSine:
            CreateSine(s, length);
            break;
        case kWaveSaw:
            CreateSaw(s, length);
            break;
        case kWaveSquare:
            CreateSquare(s, length);
            break;
        case kWaveCustom:
            kind[s] = kWaveSilence;
            break;
        default:
            break;
        }
    }
}

float MipWaveTable::CustomLimit(int level) const
{
    float const f = NoteToFreq(float(level + 1));
    float const limit = kReferenceRate / (2.0f * f);
    float const cap = float(length / 2 - 1);
    return limit < cap ? limit : cap;
}

float MipWaveTable::ShapeLimit(int level) const
{
    float const f = NoteToFreq(float(level + 1));
    float const limit = kReferenceRate / f;
    float const cap = float(length / 2 - 1);
    return limit < cap ? limit : cap;
}

void MipWaveTable::StoreSamples(int level, int slot, float const* src)
{
    Writable();
    float* dst = levels[level] + slot;
    for (long i = 0; i < length; ++i)
        dst[std::size_t(i) * std::size_t(waves)] = src[i];
    work.bytes += std::size_t(length) * sizeof(float);
}

bool MipWaveTable::CreateSine(int slot, long len)
{
    Edit edit(*this);
    if (!ValidSlot(slot) || !InitArray(len, numLevels)) return false;
    kind[slot] = kWaveSine;
    // One cycle, the phase accumulated in double; every level holds the same cycle.
    float* cycle = fft.GetSamples();
    double const step = 6.2831854 / double(length);
    double phase = 0.0;
    for (long i = 0; i < length; ++i)
    {
        cycle[i] = float(std::sin(phase));
        phase += step;
    }
    for (int m = 0; m < numLevels; ++m)
        StoreSamples(m, slot, cycle);
    CalculateReverse();
    return true;
}

bool MipWaveTable::CreateSaw(int slot, long len)
{
    return BuildHarmonicShape(slot, len, kWaveSaw);
}

bool MipWaveTable::CreateSquare(int slot, long len)
{
    return BuildHarmonicShape(slot, len, kWaveSquare);
}

bool MipWaveTable::BuildHarmonicShape(int slot, long len, int shape)
{
    Edit edit(*this);
    if (!ValidSlot(slot) || !InitArray(len, numLevels)) return false;
    kind[slot] = shape;
    float* amps = fft.GetAmps();
    float* phases = fft.GetPhases();
    long const bins = fft.GetNumBins();
    std::fill_n(phases, bins, 0.0f);
    for (int m = 0; m < numLevels; ++m)
    {
        float const limit = ShapeLimit(m);
        std::fill_n(amps, bins, 0.0f);
        // Harmonic h = j + 1 (odd h only for the square) at 1/h while limit - 1 > j.
        for (long j = 0; limit - 1.0f > float(j); ++j)
        {
            long const h = j + 1;
            if (shape == kWaveSaw || (h & 1)) amps[h] = 1.0f / float(h);
        }
        fft.InverseFFT();
        StoreSamples(m, slot, fft.GetSamples());
    }
    CalculateReverse();
    return true;
}

bool MipWaveTable::CreateSilence(int slot, long len)
{
    Edit edit(*this);
    if (!ValidSlot(slot) || !InitArray(len, numLevels)) return false;
    kind[slot] = kWaveSilence;
    Writable();
    for (int m = 0; m < numLevels; ++m)
    {
        float* dst = levels[m] + slot;
        for (long i = 0; i < length; ++i)
            dst[std::size_t(i) * std::size_t(waves)] = 0.0f;
    }
    work.bytes += std::size_t(numLevels) * std::size_t(length) * sizeof(float);
    CalculateReverse();
    return true;
}

bool MipWaveTable::CreateWithIFFT(int slot, long numHarmonics, float const* harmonicAmps,
                                  float const* harmonicPhases)
{
    Edit edit(*this);
    if (!ValidSlot(slot) || !storage || (!harmonicAmps && numHarmonics > 0)) return false;
    kind[slot] = kWaveCustom;
    float* amps = fft.GetAmps();
    float* phases = fft.GetPhases();
    long const bins = fft.GetNumBins();
    for (int m = 0; m < numLevels; ++m)
    {
        float limit = CustomLimit(m);
        if (float(numHarmonics) < limit) limit = float(numHarmonics);
        amps[0] = 0.0f;
        phases[0] = 0.0f;
        for (long j = 0; float(j) < limit; ++j)
        {
            amps[j + 1] = harmonicAmps[j];
            phases[j + 1] = harmonicPhases ? harmonicPhases[j] : 0.0f;
        }
        // Bins from trunc(limit) up are cleared: harmonics 1 .. trunc(limit) - 1 remain.
        for (long h = std::max(0L, long(limit)); h < bins; ++h)
        {
            amps[h] = 0.0f;
            phases[h] = 0.0f;
        }
        fft.InverseFFT();
        StoreSamples(m, slot, fft.GetSamples());
    }
    BoundSamples(slot);
    CalculateReverse();
    return true;
}

bool MipWaveTable::CreateWithSamples(int slot, float const* samples, long maxHarmonic)
{
    Edit edit(*this);
    if (!ValidSlot(slot) || !storage || !samples) return false;
    kind[slot] = kWaveCustom;
    // One forward transform serves every level: each level restores the spectrum and
    // clears the bins from its limit up.
    std::copy_n(samples, length, fft.GetSamples());
    fft.ForwardFFT(true);
    float* amps = fft.GetAmps();
    float* phases = fft.GetPhases();
    long const bins = fft.GetNumBins();
    std::copy_n(amps, bins, keptAmps.begin());
    std::copy_n(phases, bins, keptPhases.begin());
    for (int m = 0; m < numLevels; ++m)
    {
        float limit = CustomLimit(m);
        if (maxHarmonic != -1 && float(maxHarmonic) < limit) limit = float(maxHarmonic);
        std::copy_n(keptAmps.begin(), bins, amps);
        std::copy_n(keptPhases.begin(), bins, phases);
        for (long h = std::max(0L, long(limit)); h < bins; ++h)
        {
            amps[h] = 0.0f;
            phases[h] = 0.0f;
        }
        fft.InverseFFT();
        StoreSamples(m, slot, fft.GetSamples());
    }
    BoundSamples(slot);
    return true;
}

bool MipWaveTable::Importable(WaveReader const& reader)
{
    unsigned const channels = reader.GetFormat().channels;
    return reader.CanConvert() && (channels == 1 || channels == 2) && reader.NumFrames() >= kMinImportFrames;
}

int MipWaveTable::Import(int slot, char const* path)
{
    if (!ValidSlot(slot) || !storage) return 0;
    WaveReader reader;
    if (!reader.Open(path) || !Importable(reader)) return 0;

    FFT analysis;
    analysis.Init(kImportPoints);
    float* samples = analysis.GetSamples();
    std::fill_n(samples, kImportPoints, 0.0f);
    reader.ReadFramesMakeMono(samples, unsigned(std::min<long>(kImportPoints, long(reader.NumFrames()))));
    analysis.HammingWindow();
    analysis.ForwardFFT(true);

    // p bins between harmonics: every bin adds its amplitude to its nearest harmonic.
    long const p = std::max(0L, analysis.EstimateFundamental() - 1);
    std::vector<float> harmonics(kImportHarmonics, 0.0f);
    if (p > 0)
    {
        float const* amps = analysis.GetAmps();
        float const spacing = float(p);
        for (long i = 0; i < kImportHarmonics; ++i)
        {
            float const h = Round((float(i) - spacing) / spacing);
            if (h >= 0.0f && amps[i] > 0.0001f && long(h) < kImportHarmonics)
                harmonics[std::size_t(h)] += amps[i];
        }
    }
    CreateWithIFFT(slot, kImportHarmonics, harmonics.data(), nullptr);
    return 1;
}

void MipWaveTable::NormalisePeak(int slot, float peak)
{
    if (!ValidSlot(slot) || !storage) return;
    kind[slot] = kWaveCustom;
    std::size_t const stride = std::size_t(waves);
    float largest = 0.0f;
    for (long i = 0; i < length; ++i)
    {
        float const v = levels[0][std::size_t(i) * stride + std::size_t(slot)];
        if (v > largest) largest = v;
    }
    if (largest == 0.0f) return;
    Edit edit(*this);
    Writable();
    float const scale = peak / largest;
    for (int m = 0; m < numLevels; ++m)
    {
        float* dst = levels[m] + slot;
        for (long i = 0; i < length; ++i)
            dst[std::size_t(i) * stride] *= scale;
    }
    BoundSamples(slot);
}

void MipWaveTable::BoundSamples(int slot)
{
    std::size_t const stride = std::size_t(waves);
    for (int m = 0; m < numLevels; ++m)
    {
        float* dst = levels[m] + slot;
        for (long i = 0; i < length; ++i)
        {
            float& v = dst[std::size_t(i) * stride];
            if (!std::isfinite(v))
                v = 0.0f;
            else
                v = std::clamp(v, -kMaxStoredSample, kMaxStoredSample);
        }
    }
}

float const* MipWaveTable::Held::Level0() const
{
    return block != nullptr ? block->data : nullptr;
}

MipWaveTable::Held MipWaveTable::Hold() const
{
    Held h;
    if (!storage || !storage->cached.load(std::memory_order_acquire)) return h;
    h.block = storage;
    h.length = length;
    h.numLevels = numLevels;
    h.waves = waves;
    std::copy_n(kind, kMaxWaves, h.kind);
    return h;
}

bool MipWaveTable::StillHolds(Held const& held) const
{
    return !held.Empty() && storage.get() == held.block.get() && length == held.length &&
           numLevels == held.numLevels && waves == held.waves &&
           std::equal(kind, kind + kMaxWaves, held.kind);
}

bool MipWaveTable::Adopt(Held const& held)
{
    if (held.Empty() || held.waves != waves) return false;
    auto pointers = std::make_unique<float*[]>(std::size_t(held.numLevels));
    std::vector<float> amps(std::size_t(held.length / 2), 0.0f);
    std::vector<float> phases(std::size_t(held.length / 2), 0.0f);
    fft.Init(held.length); // the last step that may throw: the object stays as it was

    storage = std::const_pointer_cast<Block>(held.block);
    levels = std::move(pointers);
    keptAmps.swap(amps);
    keptPhases.swap(phases);
    length = held.length;
    numLevels = held.numLevels;
    std::copy_n(held.kind, kMaxWaves, kind);
    PointLevels();
    CalculateReverse();
    return true;
}

void MipWaveTable::Swap(MipWaveTable& o) noexcept
{
    if (&o == this || o.waves != waves) return;
    levels.swap(o.levels);
    std::swap(length, o.length);
    std::swap(numLevels, o.numLevels);
    reverseTable.swap(o.reverseTable);
    std::swap(reverseScale, o.reverseScale);
    for (int s = 0; s < kMaxWaves; ++s)
        std::swap(kind[s], o.kind[s]);
    storage.swap(o.storage);
    fft.Swap(o.fft);
    keptAmps.swap(o.keptAmps);
    keptPhases.swap(o.keptPhases);
}

void MipWaveTable::GetFFTData(int slot, int count, float* amps, float* phases)
{
    if (!ValidSlot(slot) || count <= 0) return;
    // Entries 0 .. last - 2 come from bins 1 .. last - 1; the rest up to count - 2 are 0.
    long last = 1;
    if (storage)
    {
        float* cycle = fft.GetSamples();
        float const* src = levels[0] + slot;
        for (long i = 0; i < length; ++i)
            cycle[i] = src[std::size_t(i) * std::size_t(waves)];
        fft.ForwardFFT(true);
        last = std::min<long>(count, NumFFTHarmonics());
    }
    float const* binAmps = fft.GetAmps();
    float const* binPhases = fft.GetPhases();
    for (long h = 1; h < last; ++h)
    {
        if (amps) amps[h - 1] = binAmps[h];
        if (phases) phases[h - 1] = binPhases[h];
    }
    for (long e = std::max(0L, last - 1); e < long(count) - 1; ++e)
    {
        if (amps) amps[e] = 0.0f;
        if (phases) phases[e] = 0.0f;
    }
}

void MipWaveTable::CalculateReverse()
{
    if (!reverseTable)
    {
        // The same for every table: built once, kept until the process ends.
        static std::shared_ptr<int const[]> const shared = []
        {
            auto table = std::make_shared<int[]>(std::size_t(kReverseSize));
            table[0] = 0; // frequency 0: the lowest level
            for (int f = 1; f < kReverseSize; ++f)
                table[f] = std::clamp(FreqToNote(float(f)), 0, kMaxLevels - 1);
            return std::shared_ptr<int const[]>(table);
        }();
        reverseTable = shared;
    }
    if (length > 0) reverseScale = 2.0f * kReferenceRate / float(length);
}

int MipWaveTable::LevelForIncrement(float increment) const
{
    if (!reverseTable || !(increment > 0.0f)) return 0;
    float const x = reverseScale * increment;
    int const index = x < float(kReverseSize - 1) ? int(x) : kReverseSize - 1;
    int const level = reverseTable[index];
    return level < numLevels ? level : numLevels - 1;
}

void MipWaveTable::Save(int slot, Writer& w, float) const
{
    if (!ValidSlot(slot)) return;
    w.Write(1.0f);
    w.Write(length);
    w.Write(numLevels);
    w.Write(kind[slot]);
    if (kind[slot] != kWaveCustom || !storage) return;
    float const* src = levels[0] + slot;
    for (long i = 0; i < length; ++i)
        w.Write(src[std::size_t(i) * std::size_t(waves)]);
}

bool MipWaveTable::Load(int slot, Reader& r)
{
    if (!ValidSlot(slot)) return false;
    float version = 0.0f;
    long len = 0;
    int lv = 0;
    int k = -1;
    if (!r.Read(&version) || !r.Read(&len) || !r.Read(&lv) || !r.Read(&k)) return false;
    if (!IsSupportedShape(len, lv) || k < kWaveNone || k > kWaveCustom) return false;
    std::vector<float> cycle;
    if (k == kWaveCustom)
    {
        cycle.resize(std::size_t(len));
        for (float& v : cycle)
            if (!r.Read(&v) || !IsStorableSample(v)) return false;
    }

    Edit edit(*this);
    bool const sameShape = storage && len == length && lv == numLevels;
    if (k != kWaveCustom && k == kind[slot] && sameShape)
    {
        CalculateReverse();
        return true;
    }
    InitArray(len, lv);
    switch (k)
    {
    case kWaveSine:
        CreateSine(slot, len);
        break;
    case kWaveSaw:
        CreateSaw(slot, len);
        break;
    case kWaveSquare:
        CreateSquare(slot, len);
        break;
    case kWaveSilence:
        CreateSilence(slot, len);
        break;
    case kWaveCustom:
        CreateWithSamples(slot, cycle.data(), -1);
        // Level 0 keeps the stored cycle itself: a transform round trip moves samples by a
        // rounding step, and saving what was loaded must give the same bytes back.
        Writable();
        for (long i = 0; i < len; ++i)
            levels[0][std::size_t(waves) * std::size_t(i) + std::size_t(slot)] = cycle[std::size_t(i)];
        break;
    default:
        kind[slot] = k;
        break;
    }
    CalculateReverse();
    return true;
}

bool MipWaveTable::CopySlotFrom(int slot, MipOscWaveDef const& src)
{
    if (!ValidSlot(slot) || !src.HasStorage()) return false;
    Edit edit(*this);
    if (!InitArray(src.length, src.numLevels)) return false;
    Writable();
    std::size_t const stride = std::size_t(waves);
    for (int m = 0; m < numLevels; ++m)
    {
        float* dst = levels[m] + slot;
        float const* from = src.levels[m];
        for (long i = 0; i < length; ++i)
            dst[std::size_t(i) * stride] = from[i];
    }
    work.bytes += std::size_t(numLevels) * std::size_t(length) * sizeof(float);
    kind[slot] = src.GetKind();
    CalculateReverse();
    return true;
}
