#pragma once

#include <memory>

#include "dsp/TableOscillator.h"
#include "dsp/WaveTables.h"
#include "engine/InstrumentPlatform.h"

class InstrumentBase;

// One voice of an instrument's pool. The owning instrument makes it once, sets its instrument
// and calls Init; from then on it is handed note-ons and note-offs and adds its output into
// every block.
class Note
{
public:
    Note() = default;
    Note(Note const&) = delete;
    Note& operator=(Note const&) = delete;
    virtual ~Note() = default;

    virtual void Init() {}
    virtual void NoteOn(int /*channel*/, int /*note*/, int /*velocity*/, long /*deltaFrames*/) {}
    virtual void NoteOff(int /*channel*/, int /*note*/, long /*deltaFrames*/) {}
    virtual void ControlChange(int /*channel*/, int /*controller*/, int /*value*/, long /*deltaFrames*/) {}
    virtual void SustainOn(int /*channel*/, long /*deltaFrames*/) {}
    virtual void SustainOff(int /*channel*/, long /*deltaFrames*/) {}
    // Adds this voice's output into the buffers.
    virtual void Render(float* left, float* right, long frames, int outputPair) = 0;
    // True when the voice may take a new note.
    virtual bool IsAvailable() = 0;

    int GetPitch() const { return note; }
    int GetVelocity() const { return velocity; }
    InstrumentBase* GetInstrument() const { return instrument; }

protected:
    friend class InstrumentBase;

    int note = 0;
    int velocity = 0;
    InstrumentBase* instrument = nullptr;
};

// The voice an instrument gets when it supplies none of its own: a steady saw at the note's
// pitch, amplitude 0.7 while the key is down, silent at once on note-off.
class DefaultNote : public Note
{
public:
    DefaultNote();

    // Joins the oscillator to the instrument's sample rate.
    void Init() override;
    void NoteOn(int channel, int note, int velocity, long deltaFrames) override;
    void NoteOff(int channel, int note, long deltaFrames) override;
    void Render(float* left, float* right, long frames, int outputPair) override;
    bool IsAvailable() override { return active == 0; }

private:
    // Two points per list, at 0 and frames - 1: amplitude, pitch (note number) and centre pan.
    void PrepareNextGeneratorFrame(long frames);

    int active = 0;
    OscWaveDef saw;
    StdOsc osc;
};

// A polyphonic instrument on the deliverable's plug-in base: a fixed pool of voices made once
// through CreateNote, note-on and note-off handed to the first suitable voice, and a render
// that lets every voice add into the block. The instrument is registered in the process-wide
// instrument list for as long as it lives (the platform base removes its entry).
class InstrumentBase : public InstrumentPlatformBase
{
public:
    static constexpr int kPoolSize = 16;

    // 0 inputs and one stereo output pair. `self` is the instrument being built.
    InstrumentBase(PlatformHostHandle audioMaster, long numParams, InstrumentBase* self, char const* identity,
                   char const* rootPath, int uniqueID, char const* productName, char const* vendorName);
    // Frees the pool if the derived instrument has not done so.
    ~InstrumentBase() override;

    // Makes the pool through CreateNote; the derived instrument calls it once, at the end of
    // its own construction.
    void InitNotes();

    // Every pool slot, in order, adds its voice into the buffers (which are not cleared here).
    void Render(float* left, float* right, long frames, int outputPair) override;
    // The base makes a DefaultNote; the index is not used.
    virtual Note* CreateNote(int index);
    // The first available slot below the active note count takes the note; none free: dropped.
    void NoteOnMidiEvent(int channel, int note, int velocity, long deltaFrames) override;
    // The first busy slot below the active note count sounding that note (any channel) releases.
    void NoteOffMidiEvent(int channel, int note, long deltaFrames) override;

    // Shows whether the plug-in's parameter count matches its host automation list.
    void Debug_CheckAutomatableParameters();

    int GetActiveNoteCount() const { return activeNoteCount; }
    // Kept within 1 .. pool size.
    void SetActiveNoteCount(int n);
    int GetPoolSize() const { return poolSize; }
    // Null before InitNotes and for an index outside the pool.
    Note* GetNote(int i) const { return notes && i >= 0 && i < poolSize ? notes[i].get() : nullptr; }

protected:
    // Deletes every voice of the pool (again: nothing).
    void FreeNotes();

    std::unique_ptr<std::unique_ptr<Note>[]> notes;
    int activeNoteCount = kPoolSize;
    int poolSize = kPoolSize;
};
