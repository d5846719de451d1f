#pragma once

#include "engine/InstrumentPlatform.h"

// The base of an audio-effect plug-in: the VST effect object with one stereo input and one
// stereo output, registered in the deliverable's live-effect list (engine/InstrumentPlatform.h) so that an
// editor can find the effect behind a host handle. The entry leaves the list when the effect is
// destroyed. A concrete effect supplies PluginBase::Render.
class EffectBase : public EffectPlatformBase
{
public:
    // The third argument is not used.
    EffectBase(PlatformHostHandle audioMaster, long numParams, EffectBase* self, char const* identity,
               char const* rootPath, int uniqueID, char const* productName, char const* vendorName);
};
