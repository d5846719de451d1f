#include "engine/TNote.h"

#include "engine/Torvane.h"

#include <cmath>

TNote::TNote() = default;

Torvane* TNote::GetTorvane() const
{
    return static_cast<Torvane*>(GetInstrument());
}

bool TNote::GetSustainState()
{
    return GetTorvane()->GetSustainState();
}

bool TNote::LayerOn(int layer)
{
    return GetTorvane()->GetVoiceDef(layer)->parameters[VoiceDef::kLayerOn].GetBool();
}

void TNote::MarkLayersOff()
{
    for (int i = 0; i < kNumLayers; ++i)
        layerFinished[i] = !LayerOn(i);
}

void TNote::Init()
{
    for (int i = 0; i < kNumLayers; ++i)
        voices[i].Init(this, i);
}

void TNote::NoteOn(int, int key, int vel, long offset)
{
    state = kOn;
    note = key;
    velocity = vel;
    lifetime = 0.0f;
    for (Voice& v : voices)
        v.Trigger(offset);
}

void TNote::NoteOff(int, int, long offset)
{
    // A killed, stolen, quick-releasing, released or held note stays as it is.
    if (state != kOn) return;
    if (GetSustainState())
        state = kSustained;
    else
        Release(offset);
}

void TNote::Release(long offset)
{
    state = kReleased;
    for (Voice& v : voices)
        v.Release(offset);
    MarkLayersOff();
}

void TNote::QuickRelease(long offset)
{
    // The voices read the state the note still has: a released note fades from where its
    // release has got to.
    for (Voice& v : voices)
        v.QuickRelease(offset);
    state = kQuickRelease;
    MarkLayersOff();
}

void TNote::Kill()
{
    for (Voice& v : voices)
        v.Kill();
    state = kFree;
}

void TNote::VoiceFinished(int layer)
{
    if (layer >= 0 && layer < kNumLayers) layerFinished[layer] = true;
}

void TNote::Render(float* left, float* right, long frames, int)
{
    if (state == kFree) return;
    if (state == kSustained && !GetSustainState()) Release(0);
    // Each layer renders up to its filter into its own scratch buffer; the filters then run
    // chunk by chunk side by side, and the layers finish in their order.
    bool begun[kNumLayers] = {};
    Voice* filtering[kNumLayers];
    int count = 0;
    for (int i = 0; i < kNumLayers; ++i)
    {
        if (!LayerOn(i)) continue;
        const Voice::BeginResult r = voices[i].BeginRender(frames);
        begun[i] = r != Voice::kSkipped;
        if (r == Voice::kFiltered) filtering[count++] = &voices[i];
    }
    while (count > 0)
    {
        StereoFilter* filters[kNumLayers];
        float* l[kNumLayers];
        float* r[kNumLayers];
        long lens[kNumLayers];
        int ready = 0;
        bool aligned = true;
        int still = 0;
        for (int k = 0; k < count; ++k)
        {
            Voice* v = filtering[k];
            long pos = 0;
            long len = 0;
            bool chunkReady = false;
            if (!v->NextFilterChunk(pos, len, chunkReady))
            {
                v->EndFilter();
                continue;
            }
            filtering[still++] = v;
            float* left = v->Scratch().left + pos;
            float* right = v->Scratch().right + pos;
            if (!chunkReady)
            {
                v->GetFilter().RenderStereo(left, right, left, right, len);
                continue;
            }
            if (ready > 0 && len != lens[0]) aligned = false;
            filters[ready] = &v->GetFilter();
            l[ready] = left;
            r[ready] = right;
            lens[ready] = len;
            ++ready;
        }
        if (aligned)
            StereoFilter::FilterTogether(filters, ready, l, r, ready > 0 ? lens[0] : 0);
        else
            for (int k = 0; k < ready; ++k)
                StereoFilter::FilterTogether(filters + k, 1, l + k, r + k, lens[k]);
        for (int k = 0; k < ready; ++k)
            filters[k]->EndChunk();
        count = still;
    }
    for (int i = 0; i < kNumLayers; ++i)
        if (begun[i]) voices[i].FinishRender(left, right);
    if ((state == kReleased || state == kQuickRelease) && layerFinished[0] && layerFinished[1] &&
        layerFinished[2] && layerFinished[3])
        state = kFree;
    lifetime += static_cast<float>(frames);
}

void TNote::Portamento(float fromPitch, float time, long offset, int toKey)
{
    if (toKey != -1) note = toKey;
    const float key = static_cast<float>(note);
    const float distance = std::fabs(key - fromPitch);
    const float duration = std::trunc(8810.0f * distance * (0.001f + time));
    for (Voice& v : voices)
        v.Portamento(fromPitch - key, duration, offset);
}

float TNote::GetCurrentPortamentoPitch()
{
    for (int i = 0; i < kNumLayers; ++i)
        if (LayerOn(i)) return voices[i].GetCurrentPortamentoPitch();
    return static_cast<float>(note);
}

void TNote::SetModulationSource(int row, int source, int layer)
{
    if (Voice* v = GetVoice(layer)) v->SetModulationSource(row, source);
}

void TNote::SetModulationTarget(int row, int target, int layer)
{
    if (Voice* v = GetVoice(layer)) v->SetModulationTarget(row, target);
}

void TNote::SetModulationEnabled(int row, bool on, int layer)
{
    if (Voice* v = GetVoice(layer)) v->SetModulationEnabled(row, on);
}

void TNote::SetModulationAmount(int row, float amount, int layer)
{
    if (Voice* v = GetVoice(layer)) v->SetModulationAmount(row, amount);
}

void TNote::EnableModulationMatrix(bool on, int layer)
{
    if (Voice* v = GetVoice(layer)) v->EnableModulationMatrix(on);
}
