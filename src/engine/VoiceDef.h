#pragma once

#include "dsp/Envelope.h"
#include "dsp/WaveTables.h"
#include "engine/TMod.h"
#include "framework/Locks.h"
#include "framework/Parameter.h"

#include <memory>
#include <vector>

class Writer;
class Reader;

// Values per breakpoint of the six timeline lines of a layer.
inline constexpr int NUM_EVENTS_IN_EVENTTYPE[6] = {1, 5, 3, 3, 23, 4};

// A timeline line of a layer: an envelope whose type marks it as one.
class EventEnvelope : public Envelope
{
public:
    using Envelope::Envelope;
    using Envelope::operator=;
};

// Everything that defines one of the four voice layers of a patch: fourteen settings, the
// stored modulation matrix (16 rows of ids), the four waves, the loop region and the six
// timeline lines. Writers hold the plug-in mutex: voices read it every block.
class VoiceDef
{
public:
    static constexpr int maxUnisonNum = 4;
    static constexpr int kNumParameters = 14;
    static constexpr int kNumLines = 6;
    // The length of the default layer's waves.
    static constexpr long kDefaultWaveLength = 4096;

    enum ParameterIndex : int
    {
        kLayerOn = 0,
        kUnisonCount = 1,
        kFilterOn = 2,
        kCutoffFollowsNote = 3,
        kReleaseTime = 4, // samples at 44100
        kLoopAfterRelease = 5,
        kLFO1Sync = 6,
        kLFO2Sync = 7,
        kLFO1PositiveOnly = 8,
        kLFO2PositiveOnly = 9,
        kLFO1FreeRunning = 10,
        kLFO2FreeRunning = 11,
        kTimelineInTempo = 12,
        kLevel = 13,
    };

    enum Line : int
    {
        kAmplitudeLine = 0,
        kVoiceLine = 1,
        kWaveLine = 2,
        kFilterLine = 3,
        kModulationLine = 4,
        kEffectsLine = 5,
    };

    // Value index of the modulation line where row r's depth lives (6 + r).
    static constexpr int kFirstRowDepthValue = 6;

    VoiceDef();
    VoiceDef(VoiceDef const&) = delete;
    VoiceDef& operator=(VoiceDef const&) = delete;
    ~VoiceDef() = default;

    // The default layer: its waves (DefaultWaves) and the rest (CreateDefaultSettings).
    void CreateDefault();
    // The default lines, loop region and settings, the waves left as they are.
    void CreateDefaultSettings();
    // Builds the default layer's four waves into `waves`, at its number of levels.
    static void CreateDefaultWaves(MipWaveTable& waves);
    // Whether a table of the hold holds the default layer's waves (at any number of levels).
    static bool HoldsDefaultWaves(MipWaveTable::Held const& held);
    // Resets line 0-5 to its default breakpoints; any other number does nothing.
    void ClearLine(int line);
    // The lines, parameters 1-7 and 12, the matrix and the loop region.
    void CopyFrom(VoiceDef* other);
    // The two halves of CopyFrom: what the voices read under the plug-in mutex (lines, matrix,
    // loop region), and the settings (parameters 1-7 and 12, their listeners told).
    void CopyTimelineFrom(VoiceDef const* other);
    void CopySettingsFrom(VoiceDef const* other);
    // The longest line's duration (0 when there are no points).
    float GetDuration();

    // A definition read and checked but not yet in place: Stage fills it without touching the
    // definition (any thread, no lock), BuildWaves builds its wave table when the waves change,
    // Apply puts it in place (under the plug-in mutex; with the waves built, in constant time).
    struct Staged
    {
        enum class Fate
        {
            Keep,
            Read,
            False
        };
        float version = 0.0f;
        Fate fate[kNumParameters] = {};
        float values[kNumParameters] = {};
        TModMatrix matrix;
        std::vector<char> waveBytes[4];
        LoopInfo loop;
        std::vector<EventEnvelope> lines;
        // Built by BuildWaves; after Apply it holds the waves that were replaced.
        std::unique_ptr<VectorMipOscWaveDef> waves;
        // The live waves as they were when staging looked at them (taken under the plug-in
        // mutex); dropped by Apply.
        MipWaveTable::Held held;

        // True when loading the four slots into the waves held would build anything (always for
        // an empty hold). Reads only the hold: no lock.
        bool WavesChange() const;
        void BuildWaves();
    };

    bool Save(Writer& w, float version);
    // The first half of Load: false for a stream Load refuses.
    static bool Stage(Reader& r, Staged& out);
    // The second half: cannot fail once Stage succeeded. Waves built by BuildWaves go in by a
    // swap; waves staging found unchanged in a hold the table still holds stay as they are; in
    // every other case each slot is compared and loaded here.
    void Apply(Staged& staged);
    // Reads the version stored in the stream (the argument is not used). False, with the
    // definition unchanged, for a truncated or corrupt stream: a value that is not finite, a
    // matrix that has not 16 rows, a line whose values per point are not its line's count or a
    // bad wave. A line stored with a point count of 0 or less loads empty.
    bool Load(Reader& r, float version);

    // Null for an index out of range.
    EventEnvelope* GetLine(int i) { return i >= 0 && i < kNumLines ? &lines[i] : nullptr; }

    Parameter parameters[kNumParameters];
    TModMatrix modMatrix;
    VectorMipOscWaveDef waveDef;
    LoopInfo loop;
    EventEnvelope lines[kNumLines];
};
