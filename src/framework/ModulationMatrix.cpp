#include "framework/ModulationMatrix.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// ModulationValues

long ModulationValues::ChunksFor(unsigned long samples)
{
    const unsigned long chunks = samples / kChunkSize + 1;
    return chunks > static_cast<unsigned long>(kMaxValues) ? kMaxValues : static_cast<long>(chunks);
}

ModulationValues::ModulationValues()
{
    std::fill(values, values + kMaxValues, 0.0f);
}

void ModulationValues::Scale(float f)
{
    const long n = std::clamp(count, 0L, kMaxValues);
    for (long i = 0; i < n; ++i)
        values[i] *= f;
}

void ModulationValues::CopyFrom(const ModulationValues* src)
{
    if (src == nullptr) return;
    count = std::clamp(src->count, 0L, kMaxValues);
    maxValues = src->maxValues;
    chunkSize = src->chunkSize;
    for (long i = 0; i < count; ++i)
        values[i] += src->values[i];
}

// ---------------------------------------------------------------------------
// ModulationTarget

ModulationTarget::ModulationTarget(int n)
    : inputs(static_cast<size_t>(std::max(n, 0))), numInputs(std::max(n, 0))
{
}

ModulationValues* ModulationTarget::GetModValues(int i)
{
    return i >= 0 && i < numInputs ? &inputs[static_cast<size_t>(i)] : nullptr;
}

const ModulationValues* ModulationTarget::GetModValues(int i) const
{
    return i >= 0 && i < numInputs ? &inputs[static_cast<size_t>(i)] : nullptr;
}

bool ModulationTarget::IsModulated() const
{
    return std::any_of(inputs.begin(), inputs.end(), [](const ModulationValues& v) { return v.active; });
}

// ---------------------------------------------------------------------------
// ModulationSource

ModulationSource::ModulationSource(int n)
    : outputs(static_cast<size_t>(std::max(n, 0))),
      needsCalculating(static_cast<size_t>(std::max(n, 0)), true),
      outputEnabled(static_cast<size_t>(std::max(n, 0)), true), numOutputs(std::max(n, 0))
{
}

void ModulationSource::ResetValueNeedsCalculating()
{
    std::fill(needsCalculating.begin(), needsCalculating.end(), true);
}

ModulationValues* ModulationSource::GetModulationValue(unsigned int samples, int chunks, int output)
{
    ModulationValues* out = GetOutput(output);
    if (out == nullptr) return nullptr;
    out->chunkSize = ModulationValues::kChunkSize;
    if (!needsCalculating[static_cast<size_t>(output)]) return out;
    needsCalculating[static_cast<size_t>(output)] = false;
    return CalculateModulation(samples, chunks, output);
}

ModulationValues* ModulationSource::GetOutput(int output)
{
    return output >= 0 && output < numOutputs ? &outputs[static_cast<size_t>(output)] : nullptr;
}

bool ModulationSource::IsOutputEnabled(int output) const
{
    return output >= 0 && output < numOutputs && outputEnabled[static_cast<size_t>(output)];
}

void ModulationSource::SetOutputEnabled(int output, bool on)
{
    if (output >= 0 && output < numOutputs) outputEnabled[static_cast<size_t>(output)] = on;
}

// ---------------------------------------------------------------------------
// ModulationMatrix::Map

bool ModulationMatrix::Map::IsConnected() const
{
    return source != nullptr && target != nullptr && sourceOutput != -1 && targetInput != -1;
}

void ModulationMatrix::Map::Prepare(long chunks)
{
    source->ResetValueNeedsCalculating();
    if (ModulationValues* in = target->GetModValues(targetInput))
        std::fill(in->values, in->values + chunks, 0.0f);
}

void ModulationMatrix::Map::Apply(unsigned int samples, long chunks)
{
    ModulationValues* in = target->GetModValues(targetInput);
    if (in == nullptr) return;
    if (!IsConnected() || !enabled || !source->IsOutputEnabled(sourceOutput))
    {
        in->active = false;
        return;
    }
    ModulationValues* values = source->GetModulationValue(samples, static_cast<int>(chunks), sourceOutput);
    if (values == nullptr)
    {
        in->active = false;
        return;
    }
    // The amount scales what this row adds, not the source's buffer, so that
    // every row reading one output sees the output as calculated.
    values->count = chunks;
    in->count = chunks;
    in->maxValues = values->maxValues;
    in->chunkSize = values->chunkSize;
    for (long i = 0; i < chunks; ++i)
        in->values[i] += values->values[i] * amount;
    in->active = true;
    target->ValuesReceived();
}

void ModulationMatrix::Map::ProcessMap(long samples)
{
    if (target == nullptr) return;
    if (source == nullptr)
    {
        if (ModulationValues* in = target->GetModValues(targetInput)) in->active = false;
        return;
    }
    const long chunks = ModulationValues::ChunksFor(static_cast<unsigned long>(std::max(samples, 0L)));
    if (IsConnected()) Prepare(chunks);
    Apply(static_cast<unsigned int>(std::max(samples, 0L)), chunks);
}

void ModulationMatrix::Map::Disconnect()
{
    if (target != nullptr)
        if (ModulationValues* in = target->GetModValues(targetInput)) in->active = false;
    if (source != nullptr && sourceOutput >= 0 && sourceOutput < source->GetNumOutputs())
        source->Reset(sourceOutput);
}

// ---------------------------------------------------------------------------
// ModulationMatrix

void ModulationMatrix::DoModulations(unsigned int samples)
{
    if (!enabled) return;
    const long chunks = ModulationValues::ChunksFor(samples);
    for (Map& map : maps)
        if (map.IsConnected()) map.Prepare(chunks);
    for (Map& map : maps)
        if (map.target != nullptr) map.Apply(samples, chunks);
}

void ModulationMatrix::Init(int n)
{
    maps.assign(static_cast<size_t>(std::max(n, 0)), Map());
    numMaps = std::max(n, 0);
}

void ModulationMatrix::RegisterSource(ModulationSource* s, int id, int output)
{
    sources.push_back({s, output, id});
}

void ModulationMatrix::RegisterTarget(ModulationTarget* t, int id, int input)
{
    targets.push_back({t, input, id});
}

const ModulationMatrix::SourceRegistration* ModulationMatrix::FindSource(int id) const
{
    if (id == -1) return nullptr;
    for (const SourceRegistration& r : sources)
        if (r.id == id) return &r;
    return nullptr;
}

const ModulationMatrix::TargetRegistration* ModulationMatrix::FindTarget(int id) const
{
    if (id == -1) return nullptr;
    for (const TargetRegistration& r : targets)
        if (r.id == id) return &r;
    return nullptr;
}

void ModulationMatrix::SetMapping(int row, ModulationSource* s, int output, int sourceId, ModulationTarget* t,
                                  int input, int targetId)
{
    Map* map = GetMap(row);
    if (map == nullptr) return;
    map->Disconnect();
    map->source = s;
    map->sourceOutput = output;
    map->sourceId = sourceId;
    map->target = t;
    map->targetInput = input;
    map->targetId = targetId;
}

void ModulationMatrix::SetMapping(int row, int sourceId, int targetId)
{
    if (GetMap(row) == nullptr) return;
    const SourceRegistration* s = FindSource(sourceId);
    const TargetRegistration* t = FindTarget(targetId);
    SetMapping(row, s ? s->source : nullptr, s ? s->output : -1, s ? s->id : -1, t ? t->target : nullptr,
               t ? t->input : -1, t ? t->id : -1);
}

void ModulationMatrix::SetSource(int row, int sourceId)
{
    if (const Map* map = GetMap(row)) SetMapping(row, sourceId, map->targetId);
}

void ModulationMatrix::SetTarget(int row, int targetId)
{
    if (const Map* map = GetMap(row)) SetMapping(row, map->sourceId, targetId);
}

void ModulationMatrix::Enable(bool on)
{
    enabled = on;
    if (on) return;
    for (Map& map : maps)
        if (map.target != nullptr)
            for (int i = 0; i < map.target->GetNumInputs(); ++i)
                map.target->GetModValues(i)->active = false;
}

void ModulationMatrix::NoteOn(int note, unsigned int offset)
{
    for (Map& map : maps)
        if (map.IsConnected()) map.source->SourceNoteOn(note, offset);
}

void ModulationMatrix::AllNotesOff(unsigned int offset)
{
    for (Map& map : maps)
        if (map.IsConnected()) map.source->SourceAllNotesOff(offset);
}

ModulationMatrix::Map* ModulationMatrix::GetMap(int row)
{
    return row >= 0 && row < numMaps ? &maps[static_cast<size_t>(row)] : nullptr;
}
