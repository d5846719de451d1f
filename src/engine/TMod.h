#pragma once

// The engine's modulation: sources write one breakpoint curve per output and per block, the
// rows of a matrix scale those curves and add them into the inputs of targets. Curve times run
// in samples from 0 to the block length.

#include "dsp/Envelope.h"
#include "engine/TModConstants.h"

#include <memory>
#include <vector>

class Writer;
class Reader;
class CascadeList;

// One output of a source or one input of a target for the current block: a curve of one value
// per point, and two flags.
class TModValues : public Envelope
{
public:
    TModValues() : Envelope(1) {}
    using Envelope::operator=;

    bool valid = false;    // the input received modulation in this block
    bool computed = false; // prepared in the current pass of this block
};

class TModSource
{
public:
    // One curve per output. A curve's pool grows to `reservePoints` when a row first takes the
    // output (PrepareOutput, off the audio thread), so that a block's curve allocates nothing and
    // outputs no row reads hold no pool.
    explicit TModSource(int outputs, long reservePoints = kModBlockPoints);
    TModSource(TModSource const&) = delete;
    TModSource& operator=(TModSource const&) = delete;

    // Appends to `out` (cleared by the caller) the breakpoints of output `output` for a block of
    // `length` samples: times 0 to length, one value per point.
    virtual void CreateModEnvelope(Envelope* out, long length, int output) = 0;

    int GetNumOutputs() const { return numOutputs; }
    // Null for an index out of range.
    TModValues* GetOutput(int i) { return i >= 0 && i < numOutputs ? &outputs[i] : nullptr; }
    // Grows output i's pool for a block's curve (nothing for an index out of range).
    void PrepareOutput(int i);

protected:
    ~TModSource();

private:
    int numOutputs;
    long reserve;
    std::unique_ptr<TModValues[]> outputs;
};

class TModTarget
{
public:
    // One curve per input; its pool grows to `reservePoints` when a row first targets the input
    // (PrepareInput, off the audio thread).
    explicit TModTarget(int inputs, long reservePoints = kModBlockPoints);
    TModTarget(TModTarget const&) = delete;
    TModTarget& operator=(TModTarget const&) = delete;
    virtual ~TModTarget();

    // Called after a row has added into `input`.
    virtual void ReceivedModValues(int /*input*/) {}

    int GetNumInputs() const { return numInputs; }
    // Null for an index out of range.
    TModValues* GetInput(int i) { return i >= 0 && i < numInputs ? &inputs[i] : nullptr; }
    // Grows input i's pool for a block's curve (nothing for an index out of range).
    void PrepareInput(int i);

private:
    int numInputs;
    long reserve;
    std::unique_ptr<TModValues[]> inputs;
};

// One row. In a layer definition's stored matrix `output` holds the source id and `input` the
// target id (TModConstants.h), and the pointers stay null.
class TModMap
{
public:
    bool enabled = false;
    TModSource* source = nullptr;
    int output = -1;
    TModTarget* target = nullptr;
    int input = -1;
    float amount = 0.0f;
    bool amountFromLine = true; // depth from the modulation line instead of `amount`
    bool secondPass = true;

    // Enabled, with a source and a target.
    bool Active() const { return enabled && source && target; }
    // Binding a row grows the pools of the output and input it takes (the editor's and the
    // loader's threads bind rows, never the audio thread).
    void SetSource(TModSource* s, int o)
    {
        if (s) s->PrepareOutput(o);
        source = s;
        output = o;
    }
    // Clears the `valid` flag of the old target's old input first.
    void SetTarget(TModTarget* t, int i, bool second);

    // float 1.0, bool enabled, int output, int input, float amount, bool amountFromLine.
    bool Save(Writer& w) const;
    // False, with the row unchanged, when truncated or when the amount is not finite.
    bool Load(Reader& r);
};

// What a voice's source ids may bind (TModConstants.h). Null entries bind nothing.
struct TModSourceTable
{
    TModSource* lfo[2] = {};
    TModSource* pads[kNumRoutedPerformPads] = {};
    TModSource* modWheel = nullptr;
    TModSource* channelPressure = nullptr;
    TModSource* voice = nullptr; // output 0 velocity, 1 note number
};

// What a voice's target ids may bind.
struct TModTargetTable
{
    TModTarget* voice = nullptr; // inputs 0-6
    TModTarget* lfo[2] = {};     // inputs 0 depth, 1 rate
};

class TModMatrix
{
public:
    // The largest row count a stream may hold.
    static constexpr int kMaxRows = 1024;

    TModMatrix();
    TModMatrix(TModMatrix const&) = delete;
    // Copies every field of the first min(own count, other's count) rows.
    TModMatrix& operator=(TModMatrix const& other);

    // Replaces the rows by n default rows (n below 0 counts as 0).
    void Init(int n);
    // Null for an index out of range.
    TModMap* GetMap(int i);
    TModMap const* GetMap(int i) const;
    int GetNumMaps() const { return static_cast<int>(rows.size()); }

    // Binds row `row` by the source or target id tables of the voice. An unknown id or a row
    // out of range changes nothing; id -1 unbinds (source -1 keeps the row's output); an id
    // whose table entry is null leaves the row without a source or target.
    void SetSourceById(int row, int id, TModSourceTable const& table);
    void SetTargetById(int row, int id, TModTargetTable const& table);

    // One block of modulation: fills the targets' inputs from the active rows, first-pass rows
    // (the LFOs' inputs) before second-pass rows. Row r's depth, when taken from the line, is
    // value firstValueIndex + r of `line` (0 where the line has no such value, or no line).
    // Allocates nothing while the curves fit their reserved pools.
    void DoModulation(long length, Envelope* line, long firstValueIndex);

    // float 1.0, int row count, then each row.
    bool Save(Writer& w) const;
    // False, with the matrix unchanged, for a truncated stream, a count below 0 or above
    // kMaxRows, or a bad row. Loaded rows keep the default pointers and pass.
    bool Load(Reader& r);

private:
    void PreparePass(long length, bool second);
    void ApplyPass(Envelope* line, long firstValueIndex, bool second);

    std::vector<TModMap> rows;
    Envelope contribution; // one row's curve
    Envelope sum;          // a target input plus the contribution
};

// The instrument's setters of a layer's stored rows (voice 0-3, or -1 for the layer shown in
// the editor): each stores into the layer definition's row (the source id in `output`, the
// target id in `input`) and then rebinds the row in that layer's sounding voices, under the
// plug-in mutex. Rows or layers out of range are ignored.
class TModRowSetter
{
public:
    virtual void SetModulationEnabled(int row, bool enabled, int voice) = 0;
    virtual void SetModulationSource(int row, int id, int voice) = 0;
    virtual void SetModulationTarget(int row, int id, int voice) = 0;

protected:
    ~TModRowSetter() = default;
};

// "<None>" for -1, the voice inputs' names for 0-6, "Error in TGetModTargetName" otherwise.
char const* TGetModTargetName(int id);
// The empty string for every id.
char const* TGetModSourceName(int id);
// The targets offered by the matrix page, in menu order; each item's id is the target id.
void TCreateModTargetList(CascadeList* list);
