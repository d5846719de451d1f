#pragma once

#include "toolkit/EffectGUIBase.h"

class InstrumentBase;

// The plug-in an editor root of this deliverable edits, which the root is handed on
// construction: the handle an editor is opened for is the platform's instance handle as a
// pointer (the effect object of the VST build, the component instance of the Audio Unit build),
// found in the live-instance lists. Nothing for a handle of no live instance.
EditedPlugin EditedPluginOf(void* handle);

#ifndef TORVANE_AU
// The handle to give an editor root of `instrument` (its effect object).
void* EditorHandleOf(InstrumentBase* instrument);
#endif

// The instrument an editor root edits (EffectGUIBase::GetInstrument), typed.
inline InstrumentBase* EditedInstrument(EffectGUIBase const& root)
{
    return static_cast<InstrumentBase*>(root.GetInstrument());
}
