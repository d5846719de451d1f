#include "platform/au/ComponentManager.h"

OSStatus AUParameterListenerNotify(void*, void*, AudioUnitParameter const* parameter)
{
    if (parameter == nullptr) return kAudioUnitErr_InvalidParameter;
    ComponentInstance const instance = parameter->mAudioUnit;
    if (instance != nullptr && instance->parameterListener != nullptr)
        instance->parameterListener(instance->listenerContext, *parameter);
    return noErr;
}
