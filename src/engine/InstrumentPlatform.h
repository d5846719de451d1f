#pragma once

// The platform base of the instrument layer, chosen per deliverable. This is the one engine
// header that names an adapter: the VST plug-in builds the instrument and the effect on the VST
// adapter's bases; an Audio Unit build defines TORVANE_AU and picks its own bases here.
//
//   InstrumentPlatformBase  the base of InstrumentBase
//   EffectPlatformBase      the base of EffectBase
//   PlatformHostHandle      what the host hands a new instance (passed to the bases unchanged)
//   RegisterPlatformInstrument / RegisterPlatformEffect
//                           enter a new instance into the deliverable's live-instance lists
//   ClosePlatformEditor     closes and deletes the instance's open editor; the destructor of
//                           the most-derived class calls it before its members go
//   TORVANE_PLATFORM_OVERRIDE
//                           marks members that override the platform base in one deliverable
//                           only (the Audio Unit's identity codes); empty in the others
#ifdef TORVANE_AU
#include "au/AUPluginLists.h"
#include "au/MacAUEffectBase.h"
#include "au/MacAUInstrumentBase.h"
using InstrumentPlatformBase = MacAUInstrumentBase;
using EffectPlatformBase = MacAUEffectBase;
using PlatformHostHandle = ComponentInstance;
#define TORVANE_PLATFORM_OVERRIDE override
template <class Instrument> void RegisterPlatformInstrument(Instrument* instrument)
{
    AddInstrumentToList(instrument, instrument);
}
template <class Effect> void RegisterPlatformEffect(Effect* effect)
{
    AddAudioUnitToList(effect, effect);
}
template <class Plugin> void ClosePlatformEditor(Plugin* plugin)
{
    // Views own their editors: each open view on this unit drops its editor now, while the
    // parameters its controls bind still exist; then the instance lets go of any editor left
    // (once: a detached instance hears no second GUIClosed).
    NotifyUnitClosing(plugin->GetComponentInstance());
    if (plugin->GetGUI() != nullptr) plugin->SetGUI(nullptr);
}
#else
#include "vst/VstEffectBase.h"
#include "vst/VstInstrumentBase.h"
#include "vst/VstPluginLists.h"
using InstrumentPlatformBase = VstInstrumentBase;
using EffectPlatformBase = VstEffectBase;
using PlatformHostHandle = audioMasterCallback;
#define TORVANE_PLATFORM_OVERRIDE
template <class Instrument> void RegisterPlatformInstrument(Instrument* instrument)
{
    AddVstInstrumentToList(instrument);
}
template <class Effect> void RegisterPlatformEffect(Effect* effect)
{
    AddVstEffectToList(effect);
}
template <class Plugin> void ClosePlatformEditor(Plugin* plugin)
{
    plugin->closeEditor();
}
#endif
