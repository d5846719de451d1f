#include "editor/EditorPlugin.h"

#include "engine/EffectBase.h"
#include "engine/InstrumentBase.h"
#include "engine/InstrumentPlatform.h"

EditedPlugin EditedPluginOf(void* handle)
{
    EditedPlugin found;
    if (handle == nullptr) return found;
#ifdef TORVANE_AU
    auto const instance = static_cast<ComponentInstance>(handle);
    if (EffectBase* effect = FindAudioUnit(instance))
    {
        found.plugin = effect;
        return found;
    }
    if (InstrumentBase* instrument = FindInstrument(instance))
    {
        found.plugin = instrument;
        found.instrument = instrument;
    }
#else
    auto* const effectHandle = static_cast<AudioEffect*>(handle);
    if (EffectBase* effect = FindVstEffect(effectHandle))
    {
        found.plugin = effect;
        return found;
    }
    if (InstrumentBase* instrument = FindVstInstrument(effectHandle))
    {
        found.plugin = instrument;
        found.instrument = instrument;
    }
#endif
    return found;
}

#ifndef TORVANE_AU
void* EditorHandleOf(InstrumentBase* instrument)
{
    return instrument != nullptr ? static_cast<void*>(static_cast<AudioEffect*>(instrument)) : nullptr;
}
#endif
