// The editor's operations on the layer definitions that the voices read every block: copies of
// the lines, the loop region and the waves for drawing, and changes that are swapped in.
//
// Each takes the plug-in mutex only for the copy or the swap. A wave is built into a table of
// its own before the mutex is taken; only its finished samples are put in place under it.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "engine/Torvane.h"
#include "framework/WavReader.h"

namespace
{

bool ValidLine(int line)
{
    return line >= 0 && line < VoiceDef::kNumLines;
}

bool ValidWaveSlot(int slot)
{
    return slot >= 0 && slot < MipWaveTable::kMaxWaves;
}

bool AllFinite(float const* values, long count)
{
    for (long i = 0; i < count; ++i)
    {
        if (!std::isfinite(values[i])) return false;
    }
    return true;
}

// A time as the timeline keeps it: whole units, never below 0.
float TimelineTime(float time)
{
    return std::max(0.0f, std::trunc(time));
}

// A file the wave import can take, checked before anything is built.
// Whether the file is one an import reads; otherwise why not, in words for the user.
bool ReadableWaveFile(char const* path, std::string& whyNot)
{
    WaveReader reader;
    errno = 0;
    if (reader.Open(path) != 1)
    {
        int const error = errno;
        // A FIFO, socket or device is refused before it is read.
        whyNot = error == EINVAL || error == ENXIO ? "it is not a file"
                                                   : std::strerror(error != 0 ? error : ENOENT);
        return false;
    }
    if (MipWaveTable::Importable(reader)) return true;
    if (reader.GetFormat().channels == 0 && reader.GetFormat().bitsPerSample == 0)
        whyNot = "it is not a WAV file";
    else if (reader.GetFormat().channels == 0)
        whyNot = "it has no channels";
    else if (!reader.CanConvert())
        whyNot = "only WAV files of 8, 16 or 24-bit integer PCM are read";
    else if (reader.GetFormat().channels > 2)
        whyNot = "only WAV files of one or two channels are read";
    else
        whyNot = "it holds too few samples";
    return false;
}

// The import finds no cycle in a file whose first spectral peak is too low, and leaves silence.
// A file that holds sound is refused then, with the reason; a silent file imports as silence.
// Shorter files than this can't hold a cycle the import finds: their spectrum is too coarse.
constexpr unsigned kShortestFoundCycle = 128;

bool FoundCycle(MipOscWaveDef const& table, char const* path, std::string& whyNot)
{
    float const* const level = table.levels[0];
    if (std::any_of(level, level + table.length, [](float v) { return v != 0.0f; })) return true;
    WaveReader reader;
    std::vector<float> samples;
    if (reader.Open(path) == 1) reader.ReadFramesMakeMono(samples);
    if (std::all_of(samples.begin(), samples.end(), [](float v) { return v == 0.0f; })) return true;
    whyNot = samples.size() < kShortestFoundCycle ? "it is too short to hold a cycle the import can find"
                                                  : "no cycle was found in it";
    return false;
}

// Whether a snapshot's lines can take the layer's lines as they are.
bool Shaped(Torvane::TimelineSnapshot const& s)
{
    if (s.lines.size() != static_cast<std::size_t>(VoiceDef::kNumLines)) return false;
    for (int i = 0; i < VoiceDef::kNumLines; ++i)
    {
        if (s.lines[static_cast<std::size_t>(i)].numValues != NUM_EVENTS_IN_EVENTTYPE[i]) return false;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Lines and loop region

Torvane::TimelineSnapshot::TimelineSnapshot()
{
    lines.reserve(VoiceDef::kNumLines);
    for (int i = 0; i < VoiceDef::kNumLines; ++i)
    {
        // No scratch: the copy is only read.
        lines.emplace_back(true);
        lines.back().Init(NUM_EVENTS_IN_EVENTTYPE[i]);
    }
}

bool Torvane::CopyTimeline(int voice, TimelineSnapshot& out)
{
    if (voice < -1 || voice >= kNumLayers) return false;
    if (!Shaped(out)) out = TimelineSnapshot();
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    VoiceDef const& def = voiceDefs[layer];
    for (int i = 0; i < VoiceDef::kNumLines; ++i)
        out.lines[static_cast<std::size_t>(i)] = def.lines[i];
    out.layer = layer;
    out.looping = def.loop.looping;
    out.loopStart = def.loop.start;
    out.loopEnd = def.loop.end;
    return true;
}

bool Torvane::GetLoopFlag(int voice)
{
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return false;
    return voiceDefs[layer].loop.looping;
}

void Torvane::SetLoopFlag(int voice, bool looping)
{
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return;
    voiceDefs[layer].loop.looping = looping;
    MarkEditedByEditor();
}

float Torvane::SetLoopStart(int voice, float time)
{
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return 0.0f;
    LoopInfo& loop = voiceDefs[layer].loop;
    if (std::isfinite(time))
    {
        loop.start = std::max(0.0f, std::min(TimelineTime(time), loop.end));
        MarkEditedByEditor();
    }
    return loop.start;
}

float Torvane::SetLoopEnd(int voice, float time)
{
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return 0.0f;
    LoopInfo& loop = voiceDefs[layer].loop;
    if (std::isfinite(time))
    {
        loop.end = std::max(TimelineTime(time), loop.start);
        MarkEditedByEditor();
    }
    return loop.end;
}

bool Torvane::SetLoopRegion(int voice, float start, float end)
{
    if (!std::isfinite(start) || !std::isfinite(end)) return false;
    start = TimelineTime(start);
    end = TimelineTime(end);
    if (end < start) return false;
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return false;
    voiceDefs[layer].loop.start = start;
    voiceDefs[layer].loop.end = end;
    MarkEditedByEditor();
    return true;
}

long Torvane::CreateBreakpoint(int voice, int line, float time, std::optional<float> firstValue)
{
    if (!ValidLine(line) || !std::isfinite(time) || (firstValue && !std::isfinite(*firstValue))) return -1;
    float const t = TimelineTime(time);
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    Breakpoint* p = CreateEventBreakpoint(t, layer, line, nullptr, false);
    if (p == nullptr) return -1;
    if (firstValue) p->values[0] = *firstValue;
    MarkEditedByEditor();
    EventEnvelope const& points = voiceDefs[layer].lines[line];
    for (long i = 0; i < points.Size(); ++i)
    {
        if (&points[i] == p) return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Waves

long Torvane::CopyWaveCycle(int voice, int slot, std::vector<float>& out)
{
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0 || !ValidWaveSlot(slot) || !voiceDefs[layer].waveDef.HasStorage() ||
        voiceDefs[layer].waveDef.length <= 0)
    {
        out.clear();
        return 0;
    }
    VectorMipOscWaveDef const& waves = voiceDefs[layer].waveDef;
    std::size_t const length = static_cast<std::size_t>(waves.length);
    std::size_t const stride = static_cast<std::size_t>(waves.NumWaves());
    out.resize(length);
    float const* src = waves.levels[0] + slot;
    for (std::size_t i = 0; i < length; ++i)
        out[i] = src[i * stride];
    return waves.length;
}

template <class Builder> bool Torvane::RebuildSlot(int voice, int slot, bool sameLengthOnly, Builder build)
{
    if (!ValidWaveSlot(slot)) return false;
    VectorMipOscWaveDef* found = nullptr;
    long length = 0;
    {
        AudioAPI::Lock hold(GetMutex());
        int const layer = ResolveLayer(voice);
        if (layer < 0 || !voiceDefs[layer].waveDef.HasStorage()) return false;
        found = &voiceDefs[layer].waveDef;
        length = found->length;
    }
    // Built at the shape the waves have when the build starts (a state restored on another
    // thread may reshape them meanwhile).
    return ReplaceWaves(*found,
                        [&](VectorMipOscWaveDef& next)
                        {
                            if (!next.HasStorage() || (sameLengthOnly && next.length != length)) return false;
                            MipOscWaveDef built;
                            return built.InitArray(next.length, next.numLevels) && build(built) &&
                                   next.CopySlotFrom(slot, built);
                        });
}

bool Torvane::SetWaveFromPartials(int voice, int slot, long count, float const* amps, float const* phases)
{
    if (count < 0 || (count > 0 && amps == nullptr)) return false;
    if (!AllFinite(amps, count) || (phases != nullptr && !AllFinite(phases, count))) return false;
    return RebuildSlot(voice, slot, false,
                       [&](MipOscWaveDef& table) { return table.CreateWithIFFT(count, amps, phases); });
}

bool Torvane::SetWaveFromCycle(int voice, int slot, float const* samples, long count, long maxHarmonic)
{
    if (samples == nullptr || count <= 0 || !AllFinite(samples, count)) return false;
    return RebuildSlot(voice, slot, true,
                       [&](MipOscWaveDef& table)
                       { return table.length == count && table.CreateWithSamples(samples, maxHarmonic); });
}

bool Torvane::ImportWave(int voice, int slot, char const* path, std::string* whyNot)
{
    std::string reason;
    bool const imported = path != nullptr && ReadableWaveFile(path, reason) &&
                          RebuildSlot(voice, slot, false,
                                      [&](MipOscWaveDef& table)
                                      {
                                          if (table.Import(path) != 1 || !FoundCycle(table, path, reason))
                                              return false;
                                          table.NormalisePeak(1.0f);
                                          return true;
                                      });
    if (!imported && whyNot != nullptr) *whyNot = reason;
    return imported;
}

// ---------------------------------------------------------------------------------------------
// Lines and layers copied and cleared

std::vector<int> Torvane::CopyTargets(int source, int to) const
{
    std::vector<int> targets;
    if (source < 0 || source >= kNumLayers) return targets;
    for (int layer = 0; layer < kNumLayers; ++layer)
    {
        if (layer != source && (to == kAllOtherLayers || layer == ResolveLayer(to))) targets.push_back(layer);
    }
    return targets;
}

bool Torvane::CopyLine(int fromVoice, int line, int toVoice)
{
    if (!ValidLine(line)) return false;
    AudioAPI::Lock hold(GetMutex());
    int const source = ResolveLayer(fromVoice);
    std::vector<int> const targets = CopyTargets(source, toVoice);
    for (int layer : targets)
        voiceDefs[layer].lines[line] = voiceDefs[source].lines[line];
    if (!targets.empty()) MarkEditedByEditor();
    return !targets.empty();
}

bool Torvane::ClearLine(int voice, int line)
{
    if (!ValidLine(line)) return false;
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return false;
    voiceDefs[layer].ClearLine(line);
    MarkEditedByEditor();
    return true;
}

bool Torvane::CopyLayer(int fromVoice, int toVoice)
{
    int source = -1;
    std::vector<int> targets;
    {
        AudioAPI::Lock hold(GetMutex());
        source = ResolveLayer(fromVoice);
        targets = CopyTargets(source, toVoice);
        if (!targets.empty()) MarkEditedByEditor();
        for (int layer : targets)
        {
            VoiceDef& def = voiceDefs[layer];
            def.CopyTimelineFrom(&voiceDefs[source]);
            // The sounding voices of the layer take the copied rows, as after a patch load.
            for (int row = 0; row < def.modMatrix.GetNumMaps(); ++row)
            {
                TModMap const stored = *def.modMatrix.GetMap(row);
                SetModulationEnabled(row, stored.enabled, layer);
                SetModulationSource(row, stored.output, layer);
                SetModulationTarget(row, stored.input, layer);
            }
        }
    }
    // The settings tell their listeners (the bridges and their controls): not under the mutex.
    for (int layer : targets)
        voiceDefs[layer].CopySettingsFrom(&voiceDefs[source]);
    return !targets.empty();
}
