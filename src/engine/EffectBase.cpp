#include "engine/EffectBase.h"

EffectBase::EffectBase(PlatformHostHandle audioMaster, long numParams, EffectBase*, char const* identity,
                       char const* rootPath, int uniqueID, char const* productName, char const* vendorName)
    : EffectPlatformBase(audioMaster, numParams, 1, 1, uniqueID, productName, vendorName, identity, rootPath)
{
    SetNumParameters(numParams);
    RegisterPlatformEffect(this);
}
