#pragma once

#include <vector>

#include "framework/RenderLimits.h"

// Block-rate modulation: sources compute one value per chunk of 64 samples into
// value buffers, targets receive such buffers on numbered inputs, and a matrix of
// rows connects one source output to one target input with an amount.

// One buffer of modulation values, one value per chunk of a block.
class ModulationValues
{
public:
    // Samples per value.
    static constexpr long kChunkSize = 64;
    // Enough values for the largest block (kMaxRenderFrames / 64 + 1).
    static constexpr long kMaxValues = kMaxRenderFrames / kChunkSize + 1;

    // The number of values covering a block of that many samples: samples / 64 + 1,
    // clamped to the buffer size (longer blocks must be cut by the caller).
    static long ChunksFor(unsigned long samples);

    ModulationValues();

    // Multiplies the first `count` values by f.
    void Scale(float f);
    // Takes src's count, maxValues and chunkSize, then adds src's first `count`
    // values into its own (it accumulates; it does not overwrite).
    void CopyFrom(const ModulationValues* src);

    long maxValues = kMaxValues;
    float values[kMaxValues];
    long count = 0;
    bool active = false;
    long chunkSize = kChunkSize;
};

// Something that can be modulated: a set of numbered inputs.
class ModulationTarget
{
public:
    explicit ModulationTarget(int n);
    virtual void ValuesReceived() {}
    virtual ~ModulationTarget() = default;

    // Input i, or null when i is out of range.
    ModulationValues* GetModValues(int i);
    const ModulationValues* GetModValues(int i) const;
    // True when any input is active.
    bool IsModulated() const;
    int GetNumInputs() const { return static_cast<int>(numInputs); }

protected:
    std::vector<ModulationValues> inputs;
    long numInputs;
};

// Something that produces modulation: a set of numbered outputs.
class ModulationSource
{
public:
    explicit ModulationSource(int n);
    virtual ~ModulationSource() = default;

    virtual int GetChunkSize() { return static_cast<int>(ModulationValues::kChunkSize); }
    virtual void Reset(int /*output*/) {}
    virtual void SourceNoteOn(int /*note*/, unsigned int /*offset*/) {}
    virtual void SourceAllNotesOff(unsigned int /*offset*/) {}
    // Fills the output's buffer with `chunks` values for a block of `samples`
    // samples and returns it.
    virtual ModulationValues* CalculateModulation(unsigned int samples, int chunks, int output) = 0;

    // Every output needs calculating again.
    void ResetValueNeedsCalculating();
    // The output's values for this block, calculated once until the flags are reset.
    // Null when output is out of range.
    ModulationValues* GetModulationValue(unsigned int samples, int chunks, int output);

    int GetNumOutputs() const { return static_cast<int>(numOutputs); }
    // Null when output is out of range.
    ModulationValues* GetOutput(int output);
    bool IsOutputEnabled(int output) const;
    void SetOutputEnabled(int output, bool on);

protected:
    std::vector<ModulationValues> outputs;
    std::vector<bool> needsCalculating;
    std::vector<bool> outputEnabled;
    long numOutputs;
};

// Rows connecting source outputs to target inputs, run once per block.
class ModulationMatrix
{
public:
    struct Map
    {
        ModulationSource* source = nullptr;
        int sourceOutput = -1;
        int sourceId = -1;
        ModulationTarget* target = nullptr;
        int targetInput = -1;
        int targetId = -1;
        float amount = 0.0f;
        bool enabled = true;

        // Has a source, a target, an output and an input.
        bool IsConnected() const;
        // This row's share of a block on its own.
        void ProcessMap(long samples);

    private:
        friend class ModulationMatrix;
        // Block steps shared with the matrix. Prepare needs a connected row.
        void Prepare(long chunks);
        void Apply(unsigned int samples, long chunks);
        // Deactivates the target input and resets the source output.
        void Disconnect();
    };

    struct SourceRegistration
    {
        ModulationSource* source;
        int output;
        int id;
    };

    struct TargetRegistration
    {
        ModulationTarget* target;
        int input;
        int id;
    };

    ModulationMatrix() = default;
    virtual ~ModulationMatrix() = default;

    // One block of modulation.
    virtual void DoModulations(unsigned int samples);

    // n fresh rows.
    void Init(int n);
    void RegisterSource(ModulationSource* s, int id, int output);
    void RegisterTarget(ModulationTarget* t, int id, int input);
    // The first registration with that id, or null; -1 is never found.
    const SourceRegistration* FindSource(int id) const;
    const TargetRegistration* FindTarget(int id) const;

    // Out-of-range rows are ignored.
    void SetMapping(int row, ModulationSource* s, int output, int sourceId, ModulationTarget* t, int input,
                    int targetId);
    void SetMapping(int row, int sourceId, int targetId);
    void SetSource(int row, int sourceId);
    void SetTarget(int row, int targetId);

    void Enable(bool on);
    bool IsEnabled() const { return enabled; }

    void NoteOn(int note, unsigned int offset);
    void AllNotesOff(unsigned int offset);

    // Row access (amount, enabled flag); null when row is out of range.
    Map* GetMap(int row);
    int GetNumMaps() const { return static_cast<int>(numMaps); }

private:
    bool enabled = true;
    std::vector<Map> maps;
    std::vector<SourceRegistration> sources;
    std::vector<TargetRegistration> targets;
    long numMaps = 0;
};
