#include "engine/EffectBase.h"

#include "vst/VstPluginLists.h"

EffectBase::EffectBase(audioMasterCallback audioMaster, long numParams, EffectBase*, char const* identity,
                       char const* rootPath, int uniqueID, char const* productName, char const* vendorName)
    : VstEffectBase(audioMaster, numParams, 1, 1, uniqueID, productName, vendorName, identity, rootPath)
{
    SetNumParameters(numParams);
    AddVstEffectToList(this);
}
