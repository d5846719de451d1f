// The modulation rows of the layers: each setter stores into the layer definition's row (the
// stored form: source id in `output`, target id in `input`) and rebinds the same row in that
// layer's voice of every note.

#include "engine/TNote.h"
#include "engine/Torvane.h"

namespace
{
// Row r's depth is value r + 6 of the modulation line.
constexpr int kLastAmountRow =
    NUM_EVENTS_IN_EVENTTYPE[VoiceDef::kModulationLine] - VoiceDef::kFirstRowDepthValue - 1;

// The row's map in the layer's matrix, or null.
TModMap const* FindRow(Torvane& t, int row, int voice)
{
    VoiceDef* def = t.GetVoiceDef(voice);
    return def != nullptr ? def->modMatrix.GetMap(row) : nullptr;
}
} // namespace

// The rows change under the plug-in mutex (the setters below, patch loads and restores on the
// host's thread): the editor reads them under it too.
int Torvane::GetModulationSource(int row, int voice)
{
    AudioAPI::Lock hold(GetMutex());
    TModMap const* map = FindRow(*this, row, voice);
    return map != nullptr ? map->output : -1;
}

int Torvane::GetModulationTarget(int row, int voice)
{
    AudioAPI::Lock hold(GetMutex());
    TModMap const* map = FindRow(*this, row, voice);
    return map != nullptr ? map->input : -1;
}

bool Torvane::GetModulationEnabled(int row, int voice)
{
    AudioAPI::Lock hold(GetMutex());
    TModMap const* map = FindRow(*this, row, voice);
    return map != nullptr && map->enabled;
}

template <class Store, class Rebind>
void Torvane::ChangeModulationRow(int row, int voice, Store store, Rebind rebind)
{
    int const layer = ResolveLayer(voice);
    if (layer < 0) return;
    AudioAPI::Lock hold(GetMutex());
    TModMap* map = voiceDefs[layer].modMatrix.GetMap(row);
    if (map == nullptr) return;
    store(*map);
    MarkEditedByEditor();
    for (int i = 0; i < GetPoolSize(); ++i)
    {
        if (TNote* note = static_cast<TNote*>(GetNote(i))) rebind(*note, layer);
    }
}

void Torvane::SetModulationEnabled(int row, bool on, int voice)
{
    ChangeModulationRow(
        row, voice, [on](TModMap& map) { map.enabled = on; },
        [row, on](TNote& note, int layer) { note.SetModulationEnabled(row, on, layer); });
}

void Torvane::SetModulationSource(int row, int id, int voice)
{
    ChangeModulationRow(
        row, voice, [id](TModMap& map) { map.output = id; },
        [row, id](TNote& note, int layer) { note.SetModulationSource(row, id, layer); });
}

void Torvane::SetModulationTarget(int row, int id, int voice)
{
    ChangeModulationRow(
        row, voice, [id](TModMap& map) { map.input = id; },
        [row, id](TNote& note, int layer) { note.SetModulationTarget(row, id, layer); });
}

bool Torvane::SetModulationAmount(int row, float amount, int voice)
{
    int const layer = ResolveLayer(voice);
    if (layer < 0 || row < 0 || row > kLastAmountRow) return false;
    bool const created =
        SetEvent(layer, VoiceDef::kModulationLine, row + VoiceDef::kFirstRowDepthValue, amount);
    if (created) UpdateEventLines();
    return created;
}

float Torvane::GetModulationAmount(int row, int voice)
{
    int const layer = ResolveLayer(voice);
    if (layer < 0 || row < 0 || row > kLastAmountRow) return 0.0f;
    return GetEvent(layer, VoiceDef::kModulationLine, row + VoiceDef::kFirstRowDepthValue);
}

void Torvane::EnableModulationMatrix(bool, int) {}

bool Torvane::GetModulationMatrixEnabled(int)
{
    return true;
}

void Torvane::DefaultModulationMatrix(int voice)
{
    for (int row = 0; row < kNumUserModRows; ++row)
    {
        SetModulationSource(row, kModSourceNone, voice);
        SetModulationTarget(row, kModTargetNone, voice);
        SetModulationEnabled(row, true, voice);
    }
}
