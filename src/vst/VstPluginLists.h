#pragma once

// The process-wide lists of live plug-in instances, through which an editor finds the
// plug-in object behind the effect handle it was opened for. Each entry maps an instance to
// itself under its two types. The lists are guarded by a mutex; an instance leaves its list
// when its VST base is destroyed (VstInstrumentBase, VstEffectBase), so a closed instance is
// never found.

class AudioEffect;
class InstrumentBase;
class EffectBase;

void AddVstInstrumentToList(InstrumentBase* instrument, AudioEffect* effect);
// The instrument is its own effect: `instrument` must be an InstrumentBase (complete here).
template <class Instrument> void AddVstInstrumentToList(Instrument* instrument)
{
    AddVstInstrumentToList(instrument, instrument);
}
// Drops every entry of that effect.
void RemoveVstInstrumentFromList(AudioEffect* effect);
// The instrument of the first entry for that effect, or null.
InstrumentBase* FindVstInstrument(AudioEffect* effect);

void AddVstEffectToList(EffectBase* effect, AudioEffect* handle);
template <class Effect> void AddVstEffectToList(Effect* effect)
{
    AddVstEffectToList(effect, effect);
}
void RemoveVstEffectFromList(AudioEffect* handle);
EffectBase* FindVstEffect(AudioEffect* handle);
