#pragma once

#include "vst/VstBase.h"

// The VST base of an audio effect: inputs and outputs, no synth flag.
class VstEffectBase : public VstBase
{
public:
    VstEffectBase(audioMasterCallback audioMaster, long numParams, long inputPairs, long outputPairs,
                  int uniqueID, char const* product, char const* vendor, char const* identity,
                  char const* rootPath);
    // Leaves the effect list.
    ~VstEffectBase() override;
};
