#include "engine/VoiceDef.h"

#include "framework/StandardMaths.h"
#include "framework/Streams.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
constexpr long kTableSize = VoiceDef::kDefaultWaveLength;

// The stored header of an envelope: float version, long point count, long values per point.
constexpr std::size_t kLineHeaderSize = 12;
// The stored header of a wave slot: float version, long length, int levels, int kind.
constexpr std::size_t kWaveHeaderSize = 16;

// Appends the next `size` bytes of r to bytes; false, having read nothing, when fewer are left
// (so that a corrupt count allocates nothing).
bool ReadMore(Reader& r, std::size_t size, std::vector<char>& bytes)
{
    if (size > r.Remaining()) return false;
    const std::size_t at = bytes.size();
    bytes.resize(at + size);
    return r.ReadBytes(bytes.data() + at, size);
}

// Reads one stored line into `dst`; false unless it holds `values` values per point and only
// finite numbers. A point count of 0 or less is an empty line.
bool LoadLine(Reader& r, long values, Envelope& dst)
{
    std::vector<char> bytes(kLineHeaderSize);
    if (!r.ReadBytes(bytes.data(), kLineHeaderSize)) return false;
    StringReader header;
    header.Open(bytes.data(), kLineHeaderSize);
    float version = 0.0f;
    long count = 0;
    long stored = 0;
    header.Read(&version);
    header.Read(&count);
    header.Read(&stored);
    if (stored != values) return false;
    const std::size_t points = static_cast<std::size_t>(std::max(count, 0L));
    if (!ReadMore(r, points * static_cast<std::size_t>(1 + stored) * sizeof(float), bytes)) return false;
    StringReader body;
    body.Open(bytes.data(), bytes.size());
    return dst.Load(body);
}

// Reads one stored wave slot into `bytes` without building it; false unless the wave table
// would take it: a supported shape, a known kind, and for a custom wave all its samples storable.
bool StageWave(Reader& r, std::vector<char>& bytes)
{
    bytes.resize(kWaveHeaderSize);
    if (!r.ReadBytes(bytes.data(), kWaveHeaderSize)) return false;
    StringReader header;
    header.Open(bytes.data(), kWaveHeaderSize);
    float version = 0.0f;
    long length = 0;
    int levels = 0;
    int kind = -1;
    header.Read(&version);
    header.Read(&length);
    header.Read(&levels);
    header.Read(&kind);
    if (!MipWaveTable::IsSupportedShape(length, levels) || kind < kWaveNone || kind > kWaveCustom)
        return false;
    if (kind != kWaveCustom) return true;
    const std::size_t size = static_cast<std::size_t>(length) * sizeof(float);
    if (!ReadMore(r, size, bytes)) return false;
    StringReader samples;
    samples.Open(bytes.data() + kWaveHeaderSize, size);
    for (long i = 0; i < length; ++i)
    {
        // The wave table's own test: a cycle it would refuse refuses the whole layer.
        float f = 0.0f;
        if (!samples.Read(&f) || !MipWaveTable::IsStorableSample(f)) return false;
    }
    return true;
}

struct WaveHeader
{
    long length = 0;
    int levels = 0;
    int kind = -1;
};

// The header of a wave slot that StageWave accepted.
WaveHeader ReadWaveHeader(std::vector<char> const& bytes)
{
    WaveHeader h;
    StringReader header;
    header.Open(bytes.data(), bytes.size());
    float version = 0.0f;
    header.Read(&version);
    header.Read(&h.length);
    header.Read(&h.levels);
    header.Read(&h.kind);
    return h;
}

// What of a wave table a stored slot is compared with: its shape, kinds and first level.
struct TableFace
{
    bool present = false;
    long length = 0;
    int numLevels = 0;
    int waves = 0;
    int const* kind = nullptr;
    float const* level0 = nullptr;
};

TableFace FaceOf(VectorMipOscWaveDef const& t)
{
    return TableFace{t.HasStorage(), t.length, t.numLevels,
                     t.NumWaves(),   t.kind,   t.HasStorage() ? t.levels[0] : nullptr};
}

TableFace FaceOf(MipWaveTable::Held const& h)
{
    return TableFace{!h.Empty(), h.length, h.numLevels, h.waves, h.kind, h.Level0()};
}

// The slot of `current` holds the wave stored in `bytes` (accepted by StageWave): the same shape
// and kind, and for a custom wave the same level-0 samples, bit for bit. Loading it again would
// build nothing new.
bool SlotHolds(TableFace const& current, int slot, std::vector<char> const& bytes)
{
    WaveHeader const h = ReadWaveHeader(bytes);
    if (!current.present || h.kind != current.kind[slot] || h.length != current.length ||
        h.levels != current.numLevels)
        return false;
    if (h.kind != kWaveCustom) return true;
    if (bytes.size() != kWaveHeaderSize + static_cast<std::size_t>(h.length) * sizeof(float)) return false;
    StringReader samples;
    samples.Open(bytes.data() + kWaveHeaderSize, bytes.size() - kWaveHeaderSize);
    std::size_t const stride = static_cast<std::size_t>(current.waves);
    for (long i = 0; i < h.length; ++i)
    {
        float stored = 0.0f;
        samples.Read(&stored);
        float const held =
            current.level0[stride * static_cast<std::size_t>(i) + static_cast<std::size_t>(slot)];
        if (std::memcmp(&stored, &held, sizeof stored) != 0) return false;
    }
    return true;
}

void AddPoint(Envelope& e, float time, std::initializer_list<float> values)
{
    e.GetBreakpoints().Add(time, values.begin());
}
} // namespace

VoiceDef::VoiceDef()
{
    Parameter* p = parameters;
    for (int i : {kLayerOn, kFilterOn, kLoopAfterRelease, kLFO1Sync, kLFO2Sync, kLFO1PositiveOnly,
                  kLFO2PositiveOnly, kLFO1FreeRunning, kLFO2FreeRunning, kTimelineInTempo})
        p[i].CreateBool("", nullptr, Parameter::Internal);
    p[kUnisonCount].Create("", nullptr, Parameter::Internal, 1.0f, static_cast<float>(maxUnisonNum),
                           Parameter::Discrete);
    p[kCutoffFollowsNote].Create("", nullptr, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    p[kReleaseTime].Create("", nullptr, Parameter::Internal, 256.0f, 352800.0f, Parameter::Continuous);
    p[kReleaseTime].SetCurveType(Parameter::CubeLaw);
    p[kLevel].Create("", nullptr, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    p[kLevel].SetCurveType(Parameter::CubeLaw);

    p[kLayerOn] = 0.0f;
    p[kUnisonCount] = 1.0f;
    p[kFilterOn] = 1.0f;
    p[kCutoffFollowsNote] = 0.0f;
    p[kReleaseTime] = 352800.0f;
    p[kLoopAfterRelease] = 1.0f;
    p[kLFO1Sync] = 1.0f;
    p[kLFO2Sync] = 1.0f;
    p[kLevel] = 0.0f;

    modMatrix.Init(kLayerModRows);
    for (int i = 0; i < kNumLines; ++i)
        lines[i].Init(NUM_EVENTS_IN_EVENTTYPE[i]);
}

void VoiceDef::CreateDefault()
{
    CreateDefaultWaves(waveDef);
    CreateDefaultSettings();
}

namespace
{
constexpr int kDefaultKinds[4] = {kWaveSaw, kWaveSilence, kWaveSquare, kWaveSilence};
} // namespace

void VoiceDef::CreateDefaultWaves(MipWaveTable& waves)
{
    waves.CreateSaw(0, kTableSize);
    waves.CreateSilence(1, kTableSize);
    waves.CreateSquare(2, kTableSize);
    waves.CreateSilence(3, kTableSize);
}

bool VoiceDef::HoldsDefaultWaves(MipWaveTable::Held const& held)
{
    // A standard slot's bytes follow from its kind and the table's shape alone.
    return !held.Empty() && held.waves == 4 && held.length == kTableSize &&
           std::equal(kDefaultKinds, kDefaultKinds + 4, held.kind);
}

void VoiceDef::CreateDefaultSettings()
{
    for (int line : {0, 1, 2, 3, 5, 4})
        ClearLine(line);

    loop.looping = false;
    loop.start = 0.0f;
    loop.end = 132300.0f;

    parameters[kLevel] = 0.7f;
    parameters[kFilterOn] = 1.0f;
    parameters[kCutoffFollowsNote] = 0.0f;
    parameters[kUnisonCount] = 1.0f;
    parameters[kTimelineInTempo] = 0.0f;
    parameters[kLFO1Sync] = 0.0f;
    parameters[kLFO2Sync] = 0.0f;
    parameters[kLFO1FreeRunning] = 0.0f;
    parameters[kLFO2FreeRunning] = 0.0f;
}

void VoiceDef::ClearLine(int line)
{
    EventEnvelope* e = GetLine(line);
    if (!e) return;
    e->Clear();
    switch (line)
    {
    case kAmplitudeLine:
        AddPoint(*e, 0.0f, {0.7f});
        AddPoint(*e, 220500.0f, {0.7f});
        AddPoint(*e, 264600.0f, {0.0f});
        break;
    case kVoiceLine:
        AddPoint(*e, 0.0f, {0.0f, 0.0f, 0.0f, 0.1f, 0.1f});
        break;
    case kWaveLine:
        AddPoint(*e, 0.0f, {-1.0f, 0.0f, 1.0f});
        break;
    case kFilterLine:
        AddPoint(*e, 0.0f, {1.0f, 0.0f, 5.0f});
        break;
    case kModulationLine:
    {
        float values[23] = {1.0f, 0.05f, 0.0f, 1.0f, 0.05f, 0.0f};
        std::fill(values + 6, values + 11, 0.5f);
        std::fill(values + 11, values + 23, 1.0f);
        e->GetBreakpoints().Add(0.0f, values);
        break;
    }
    case kEffectsLine:
        AddPoint(*e, 0.0f, {0.0f, 0.0f, 0.0f, 0.0f});
        break;
    default:
        break;
    }
}

void VoiceDef::CopyFrom(VoiceDef* other)
{
    CopyTimelineFrom(other);
    CopySettingsFrom(other);
}

void VoiceDef::CopyTimelineFrom(VoiceDef const* other)
{
    if (!other || other == this) return;
    for (int i = 0; i < kNumLines; ++i)
        lines[i] = other->lines[i];
    modMatrix = other->modMatrix;
    loop = other->loop;
}

void VoiceDef::CopySettingsFrom(VoiceDef const* other)
{
    if (!other || other == this) return;
    for (int i : {1, 2, 3, 4, 5, 6, 7, 12})
        parameters[i] = other->parameters[i];
}

float VoiceDef::GetDuration()
{
    float longest = 0.0f;
    for (EventEnvelope const& e : lines)
        longest = std::max(longest, e.GetDuration());
    return longest;
}

bool VoiceDef::Save(Writer& w, float version)
{
    w.Write(version);
    for (Parameter& p : parameters)
        p.Save(w);
    modMatrix.Save(w);
    for (int slot = 0; slot < 4; ++slot)
        waveDef.Save(slot, w, 1.0f);
    w.Write(loop.start);
    w.Write(loop.end);
    w.Write(loop.looping);
    for (EventEnvelope const& e : lines)
        e.Save(w);
    return !w.Failed();
}

bool VoiceDef::Load(Reader& r, float)
{
    Staged staged;
    if (!Stage(r, staged)) return false;
    Apply(staged);
    return true;
}

bool VoiceDef::Stage(Reader& r, Staged& out)
{
    // Everything is read and checked here; the definition changes only in Apply.
    float v = 0.0f;
    if (!r.Read(&v) || !std::isfinite(v)) return false;
    const float n = Round(1000.0f * v);
    out.version = v;

    Staged::Fate* fate = out.fate;
    float* values = out.values;
    std::fill(fate, fate + kNumParameters, Staged::Fate::Read);
    std::fill(values, values + kNumParameters, 0.0f);
    if (!(v >= 0.004)) fate[kLFO1PositiveOnly] = fate[kLFO2PositiveOnly] = Staged::Fate::False;
    if (!(n > 10.0f)) fate[kLFO1FreeRunning] = fate[kLFO2FreeRunning] = Staged::Fate::False;
    if (!(n > 9.0f)) fate[kTimelineInTempo] = Staged::Fate::Keep;
    for (int i = 0; i < kNumParameters; ++i)
        if (fate[i] == Staged::Fate::Read && (!r.Read(&values[i]) || !std::isfinite(values[i]))) return false;

    if (!out.matrix.Load(r) || out.matrix.GetNumMaps() != kLayerModRows) return false;

    for (auto& wave : out.waveBytes)
        if (!StageWave(r, wave)) return false;

    if (!r.Read(&out.loop.start) || !r.Read(&out.loop.end) || !r.Read(&out.loop.looping) ||
        !std::isfinite(out.loop.start) || !std::isfinite(out.loop.end))
        return false;

    out.lines.clear();
    out.lines.reserve(kNumLines);
    for (int i = 0; i < kNumLines; ++i)
    {
        out.lines.emplace_back(true);
        out.lines[i].Init(NUM_EVENTS_IN_EVENTTYPE[i]);
        if (!LoadLine(r, NUM_EVENTS_IN_EVENTTYPE[i], out.lines[i])) return false;
    }
    // Older streams kept the Voice line's pitch offset in octaves.
    if (v < 0.003)
    {
        EventEnvelope& voiceLine = out.lines[kVoiceLine];
        for (long i = 0; i < voiceLine.Size(); ++i)
            voiceLine[i].values[0] *= 12.0f;
    }
    out.waves.reset();
    return true;
}

bool VoiceDef::Staged::WavesChange() const
{
    TableFace const current = FaceOf(held);
    for (int slot = 0; slot < 4; ++slot)
        if (!SlotHolds(current, slot, waveBytes[slot])) return true;
    return false;
}

void VoiceDef::Staged::BuildWaves()
{
    // A fresh table takes the four slots in order, as a live one would.
    auto built = std::make_unique<VectorMipOscWaveDef>();
    for (int slot = 0; slot < 4; ++slot)
    {
        StringReader wave;
        wave.Open(waveBytes[slot].data(), waveBytes[slot].size());
        built->Load(slot, wave);
    }
    waves = std::move(built);
}

void VoiceDef::Apply(Staged& staged)
{
    // Pools grow before anything changes.
    for (int i = 0; i < kNumLines; ++i)
        lines[i].GetBreakpoints().Reserve(staged.lines[i].Size());
    if (staged.waves)
        // Built beforehand: the old waves go to the staged side.
        waveDef.Swap(*staged.waves);
    else if (!waveDef.StillHolds(staged.held))
    {
        // Not staged against these waves (or they changed since): slot by slot.
        for (int slot = 0; slot < 4; ++slot)
        {
            // A slot that already holds the stored wave stays as it is.
            if (SlotHolds(FaceOf(waveDef), slot, staged.waveBytes[slot])) continue;
            StringReader wave;
            wave.Open(staged.waveBytes[slot].data(), staged.waveBytes[slot].size());
            waveDef.Load(slot, wave);
        }
    }
    staged.held = MipWaveTable::Held();
    for (int i = 0; i < kNumParameters; ++i)
    {
        if (staged.fate[i] == Staged::Fate::False)
            parameters[i].SetBool(false);
        else if (staged.fate[i] == Staged::Fate::Read)
        {
            parameters[i] = staged.values[i];
            parameters[i].RefreshListeners();
        }
    }
    modMatrix = staged.matrix;
    loop.start = staged.loop.start;
    loop.end = staged.loop.end;
    loop.looping = staged.loop.looping;
    for (int i = 0; i < kNumLines; ++i)
        lines[i] = staged.lines[i];
}
