#include "engine/InstrumentBase.h"

#include <algorithm>

#include "framework/String.h"
#include "platform/MessagePopup.h"

// ---------------------------------------------------------------------------------------------
// DefaultNote

namespace
{
// The default voice's saw: one cycle of this many samples.
constexpr long kDefaultSawLength = 44100;
constexpr float kDefaultNoteLevel = 0.7f;
} // namespace

DefaultNote::DefaultNote()
{
    saw.CreateSaw(kDefaultSawLength);
    osc.SetOscWaveDef(&saw);
    // Two points per list and block: no allocation once the lists hold them.
    osc.amplitudeEnvelope.Reserve(2);
    osc.pitchEnvelope.Reserve(2);
    osc.panEnvelope.Reserve(2);
}

void DefaultNote::Init()
{
    // The saw plays at the host's rate, not a fixed one.
    if (instrument != nullptr)
    {
        instrument->AddSampleRateListener(&osc);
        osc.SetSampleRate(instrument->GetSourceSampleRate());
    }
}

void DefaultNote::NoteOn(int, int newNote, int newVelocity, long)
{
    note = newNote;
    velocity = newVelocity;
    active = 1;
}

void DefaultNote::NoteOff(int, int, long)
{
    active = 0;
}

void DefaultNote::PrepareNextGeneratorFrame(long frames)
{
    float const last = static_cast<float>(std::max<long>(frames - 1, 0));
    float const level = active != 0 ? kDefaultNoteLevel : 0.0f;
    osc.amplitudeEnvelope.Clear();
    osc.amplitudeEnvelope.AddBreakpoint(0.0f, level);
    osc.amplitudeEnvelope.AddBreakpoint(last, level);
    osc.pitchEnvelope.Clear();
    osc.pitchEnvelope.AddBreakpoint(0.0f, static_cast<float>(note));
    osc.pitchEnvelope.AddBreakpoint(last, static_cast<float>(note));
    osc.panEnvelope.Clear();
    osc.panEnvelope.AddBreakpoint(0.0f, 0.0f);
    osc.panEnvelope.AddBreakpoint(last, 0.0f);
}

void DefaultNote::Render(float* left, float* right, long frames, int)
{
    PrepareNextGeneratorFrame(frames);
    osc.RenderStereo(nullptr, nullptr, left, right, frames);
}

// ---------------------------------------------------------------------------------------------
// InstrumentBase

InstrumentBase::InstrumentBase(PlatformHostHandle audioMaster, long numParams, InstrumentBase* self,
                               char const* identity, char const* rootPath, int uniqueID,
                               char const* productName, char const* vendorName)
    : InstrumentPlatformBase(audioMaster, numParams, 0, 1, uniqueID, productName, vendorName, identity,
                             rootPath)
{
    // The platform base already listens to its own sample-rate source.
    SetNumParameters(numParams);
    RegisterPlatformInstrument(self);
}

InstrumentBase::~InstrumentBase()
{
    FreeNotes();
}

void InstrumentBase::FreeNotes()
{
    if (notes == nullptr) return;
    // In pool order, then the pool.
    for (int i = 0; i < poolSize; ++i)
        notes[i].reset();
    notes.reset();
}

void InstrumentBase::InitNotes()
{
    FreeNotes();
    // Every slot starts empty, so a throwing CreateNote leaves nothing half made behind.
    notes = std::make_unique<std::unique_ptr<Note>[]>(static_cast<std::size_t>(poolSize));
    for (int i = 0; i < poolSize; ++i)
    {
        notes[i].reset(CreateNote(i));
        Note* n = notes[i].get();
        n->instrument = this;
        n->Init();
    }
}

Note* InstrumentBase::CreateNote(int)
{
    return new DefaultNote();
}

void InstrumentBase::SetActiveNoteCount(int n)
{
    activeNoteCount = std::clamp(n, 1, poolSize);
}

void InstrumentBase::Render(float* left, float* right, long frames, int outputPair)
{
    if (notes == nullptr) return;
    for (int i = 0; i < poolSize; ++i)
        notes[i]->Render(left, right, frames, outputPair);
}

void InstrumentBase::NoteOnMidiEvent(int channel, int note, int velocity, long deltaFrames)
{
    if (notes == nullptr) return;
    int const limit = std::min(activeNoteCount, poolSize);
    for (int i = 0; i < limit; ++i)
    {
        if (notes[i]->IsAvailable())
        {
            notes[i]->NoteOn(channel, note, velocity, deltaFrames);
            return;
        }
    }
}

void InstrumentBase::NoteOffMidiEvent(int channel, int note, long deltaFrames)
{
    if (notes == nullptr) return;
    int const limit = std::min(activeNoteCount, poolSize);
    for (int i = 0; i < limit; ++i)
    {
        if (!notes[i]->IsAvailable() && notes[i]->GetPitch() == note)
        {
            notes[i]->NoteOff(channel, note, deltaFrames);
            return;
        }
    }
}

void InstrumentBase::Debug_CheckAutomatableParameters()
{
    long const wanted = GetNumParameters();
    int const actual = GetNumAutomatableParameters();
    if (wanted == actual)
    {
        MessagePopup("Automatable Parms OK", "Debug_CheckAutomatableParameters");
        return;
    }
    String text;
    text.Format("Automatable Params Error:\n\nDesired num: %i    Actual num: %i", static_cast<int>(wanted),
                actual);
    MessagePopup(text, "Debug_CheckAutomatableParameters");
}
