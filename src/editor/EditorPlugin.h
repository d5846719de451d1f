#pragma once

#include "toolkit/EffectGUIBase.h"

class InstrumentBase;

// The deliverable's plug-in lookup for editor roots: the handle an editor is opened for is the
// platform's instance handle as a pointer (the effect object of the VST build, the component
// instance of the Audio Unit build), found in the live-instance lists. Installing it again
// changes nothing.
void InstallEditorPluginLookup();

#ifndef TORVANE_AU
// The handle to give an editor root of `instrument` (its effect object).
void* EditorHandleOf(InstrumentBase* instrument);
#endif

// The instrument an editor root edits (EffectGUIBase::GetInstrument), typed.
inline InstrumentBase* EditedInstrument(EffectGUIBase const& root)
{
    return static_cast<InstrumentBase*>(root.GetInstrument());
}
