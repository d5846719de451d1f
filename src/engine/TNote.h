#pragma once

#include "engine/InstrumentBase.h"
#include "engine/Voice.h"

class Torvane;

// The instrument's note: one key sounding on all four layers through four voices. States:
// 0 free, 1 on, 2 released, 3 quick release, 4 held by the sustain pedal.
class TNote : public Note
{
public:
    enum State : int
    {
        kFree = 0,
        kOn = 1,
        kReleased = 2,
        kQuickRelease = 3,
        kSustained = 4,
    };
    static constexpr int kNumLayers = 4;

    TNote();

    // Binds voice i to layer i; once, after the instrument is set.
    void Init() override;
    // State 1, key and velocity stored, age 0, every voice triggered (also those of layers
    // that are off). The channel is not used.
    void NoteOn(int channel, int key, int velocity, long offset) override;
    // Only a note that is on reacts: held (state 4) while the instrument's sustain is down,
    // released otherwise.
    void NoteOff(int channel, int key, long offset) override;
    // Adds the enabled layers into left/right; frees the note once every layer has finished
    // its release.
    void Render(float* left, float* right, long frames, int offset) override;
    bool IsAvailable() override { return state == kFree; }

    void Release(long offset);
    // A 400-sample fade; a released note fades from its current release level.
    void QuickRelease(long offset);
    void Kill();
    // A layer's release ramp has run out.
    void VoiceFinished(int layer);
    // Glides from fromPitch to the key (toKey, when not -1, becomes the key first) over
    // trunc(8810 x |key - fromPitch| x (0.001 + time)) samples from offset on.
    void Portamento(float fromPitch, float time, long offset, int toKey);
    // The glide pitch of the first layer that is on; the key when none is.
    float GetCurrentPortamentoPitch();

    int GetState() const { return state; }
    float GetLifeTime() const { return lifetime; }
    Voice* GetVoice(int layer) { return layer >= 0 && layer < kNumLayers ? &voices[layer] : nullptr; }
    bool IsLayerFinished(int layer) const { return layer >= 0 && layer < kNumLayers && layerFinished[layer]; }
    bool GetSustainState();
    Torvane* GetTorvane() const;

    // Forwarded to the voice of that layer (0-3; others ignored).
    void SetModulationSource(int row, int source, int layer);
    void SetModulationTarget(int row, int target, int layer);
    void SetModulationEnabled(int row, bool enabled, int layer);
    void SetModulationAmount(int row, float amount, int layer);
    void EnableModulationMatrix(bool enabled, int layer);

private:
    bool LayerOn(int layer);
    void MarkLayersOff();

    int state = kFree;
    float lifetime = 0.0f;
    Voice voices[kNumLayers];
    bool layerFinished[kNumLayers] = {};
};
