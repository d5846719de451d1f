#include "vst/VstEffectBase.h"

#include "vst/VstPluginLists.h"

VstEffectBase::VstEffectBase(audioMasterCallback audioMaster, long numParams, long inputPairs,
                             long outputPairs, int uniqueID, char const* product, char const* vendor,
                             char const* identity, char const* rootPath)
    : VstBase(audioMaster, numParams, inputPairs, outputPairs, false, uniqueID, product, vendor, identity,
              rootPath)
{
}

VstEffectBase::~VstEffectBase()
{
    RemoveVstEffectFromList(this);
}
