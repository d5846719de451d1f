#include "vst/VstEntry.h"

#include "platform/MessagePopup.h"

IVSTFactory* globalVSTFactory = nullptr;

AudioEffect* createEffectInstance(audioMasterCallback audioMaster)
{
    if (globalVSTFactory == nullptr)
    {
        static char const message[] = "Vardo Error: globalVSTFactory not set";
        MessagePopup(message, "");
        throw message;
    }
    return globalVSTFactory->CreateInstance(audioMaster);
}

AEffect* VstPluginEntry(audioMasterCallback audioMaster)
{
    try
    {
        if (audioMaster == nullptr || audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
            return nullptr;
        AudioEffect* effect = createEffectInstance(audioMaster);
        if (effect == nullptr) return nullptr;
        // From here on the host knows the record: reports of parameter changes may go out.
        effect->markHostConnected();
        return effect->getAeffect();
    }
    catch (...)
    {
        return nullptr;
    }
}
