#pragma once

// The process-wide lists of live Audio Unit instances, through which a view finds the plug-in
// behind the component instance it was opened for. Each entry holds the plug-in object, the
// instance and the platform base that owns the entry. The lists are guarded by a mutex; an
// entry leaves its list when its platform base is destroyed (also after a failed open), so a
// closed instance is never found.

#include "platform/au/ComponentManager.h"

class InstrumentBase;
class EffectBase;
class MacAUInstrumentBase;
class MacAUEffectBase;

struct InstrumentListEntry
{
    InstrumentBase* instrument;
    ComponentInstance instance;
};

struct AudioUnitListEntry
{
    EffectBase* effect;
    ComponentInstance instance;
};

// The instrument under its base's component instance.
void AddInstrumentToList(InstrumentBase* instrument, MacAUInstrumentBase* base);
void RemoveInstrumentFromList(MacAUInstrumentBase const* base);
// The instrument of the first entry for that instance, or null.
InstrumentBase* FindInstrument(ComponentInstance instance);

void AddAudioUnitToList(EffectBase* effect, MacAUEffectBase* base);
void RemoveAudioUnitFromList(MacAUEffectBase const* base);
EffectBase* FindAudioUnit(ComponentInstance instance);

// Told when the unit it watches is being closed, before the unit's members go (views close
// their editors then, while the parameters their controls bind still exist). On the closing
// thread; it must not wait for the editor's thread.
class AUUnitObserver
{
public:
    virtual void UnitClosing() = 0;

protected:
    ~AUUnitObserver() = default;
};

// Watches a live unit that is not closing, holding it (PluginBase::HoldForEditor) until the
// watch ends, and returns it with one more hold for the caller's call, which the caller lets go
// (ReleaseEditorHold) once it is done: the unit's close ends the watch at any moment, but not
// that call's hold. Null, with nothing held, for any other unit. A view watches its unit before
// it opens an editor on it.
class PluginBase;
PluginBase* WatchUnit(ComponentInstance instance, AUUnitObserver* observer);
// Every watch of the observer ends (nothing when it has none), once a closing notice on its way
// to it has been delivered; the holds go (the last one of a closed unit deletes it).
void UnwatchUnit(AUUnitObserver* observer);
// The unit's close: it is no longer found and no longer watched; every observer is told, each
// once, and its watch ends. From inside the unit's counted close call.
void NotifyUnitClosing(ComponentInstance instance);
