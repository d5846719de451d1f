#pragma once

#include "engine/TMod.h"
#include "framework/Locks.h"
#include "framework/Parameter.h"
#include "framework/ParameterHost.h"

#include <memory>

class MidiLearnManager;
class Window;
class Writer;
class Reader;

// One X/Y performance pad: parameters "X" and "Y" (-1..1) smoothed once per block into two
// modulation outputs (0 X, 1 Y). Each axis can be routed to one target of one layer or of all.
class PerformModSource : public TModSource, public ParameterHost
{
public:
    struct Mapping
    {
        bool enabled = false;
        int voice = 0;   // 0-3 a layer, 4 all layers
        int target = -1; // target id
    };

    PerformModSource();

    // Stores the instrument (may be null: mappings are then only stored), the MIDI-learn
    // manager (may be null) and the plug-in mutex (may be null), names the parameters "1".."6"
    // and registers them for MIDI learn.
    void Init(TModRowSetter* instrument, MidiLearnManager* learn, AudioAPI::Mutex* mutex, int index);
    // Mappings off, X and Y 0, smoothed values 0, scales 1. The layers' rows stay as they are.
    void Reset();
    // Moves each smoothed value halfway to its pad position.
    void NextBuffer();
    // Points (0, previous) and (length, current) of X for output 0, of Y otherwise.
    void CreateModEnvelope(Envelope* out, long length, int output) override;
    // axis 0 X, 1 Y (others ignored); voice 0-3, or 4 for all layers (others ignored).
    // Pads 0-3 rebind row 5 + 2 x pad + axis with source id pad + 2 (X) or pad + 6 (Y), under
    // the plug-in mutex. Pads 4 and 5 only store their mapping: a layer's 16 stored rows and
    // the voices' source ids have no room of their own for them.
    void SetMapping(bool enabled, int axis, int voice, int target);
    void ShowMidiLearnPopup(bool x, Window* w, long px, long py);

    // A copy taken under the plug-in mutex (loads and restores change it on the host's thread).
    Mapping GetMapping(int axis) const;
    float GetCurrentX() const { return currentX; }
    float GetCurrentY() const { return currentY; }
    float GetXScale() const { return xScale; }
    float GetYScale() const { return yScale; }
    int GetIndex() const { return index; }

    Parameter X;
    Parameter Y;

private:
    friend class PerformMods;

    float currentX = 0.0f;
    float currentY = 0.0f;
    float previousX = 0.0f;
    float previousY = 0.0f;
    float xScale = 1.0f;
    float yScale = 1.0f;
    int index = 0;
    Mapping xMapping;
    Mapping yMapping;
    TModRowSetter* instrument = nullptr;
    AudioAPI::Mutex* mutex = nullptr;
};

// The six pads of the instrument.
class PerformMods
{
public:
    static constexpr int kNumPads = 6;

    PerformMods();
    PerformMods(PerformMods const&) = delete;
    PerformMods& operator=(PerformMods const&) = delete;

    // Initialises pad i with index i (the pads exist from construction on).
    void Create(TModRowSetter* instrument, MidiLearnManager* learn, AudioAPI::Mutex* mutex);
    void Reset();
    void NextBuffer();
    // Null for an index out of range.
    PerformModSource* GetSource(int i) { return i >= 0 && i < kNumPads ? &pads[i] : nullptr; }

    // float 1.0, then per pad: X scale, Y scale, X, Y, X mapping, Y mapping (bool, int, int).
    void Save(Writer& w);
    // Restores the stored values and mappings without re-applying the mappings to the rows.
    // False, with every pad unchanged, for a truncated stream, a value that is not finite or
    // a mapping's layer outside 0-4. The caller holds the plug-in mutex (the patch load does).
    // apply false: the stream is read and checked only, nothing changes.
    bool Load(Reader& r, bool apply = true);

private:
    std::unique_ptr<PerformModSource[]> pads;
};
