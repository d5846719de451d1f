#pragma once

#include <type_traits>

#include "vst/AudioEffect.h"

// How a plug-in library builds its instances. One factory object per library, constructed
// during the library's static initialisation, installs itself as globalVSTFactory; the
// exported entry asks it for each instance the host opens.
class IVSTFactory
{
public:
    virtual ~IVSTFactory() = default;
    virtual AudioEffect* CreateInstance(audioMasterCallback audioMaster) = 0;
};

// Null until the library's factory is constructed.
extern IVSTFactory* globalVSTFactory;

// A new instance from the factory; throws when there is none.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster);

// The exported entry's work: asks the host's VST version (0: not a VST 2 host, no instance),
// builds an instance and hands its record to the host. Never throws: any failure gives null.
AEffect* VstPluginEntry(audioMasterCallback audioMaster);

class VstBase;
// Builds the editor loader of an editor root GUI for a new instance, runs its Init and leaves it
// registered as the instance's editor (vst/editor/VstGUILoader.h, which a plug-in with an editor
// includes).
template <class GUI> void AttachEditorLoader(VstBase* instance);

// The factory of a product: Instrument is built from the host callback. The editor type is
// void for a product without an editor; otherwise each instance gets the loader of its editor
// root (GUILoader<Editor>), whose Init builds the root.
template <class Instrument, class Editor> class VSTFactory : public IVSTFactory
{
public:
    VSTFactory() { globalVSTFactory = this; }

    AudioEffect* CreateInstance(audioMasterCallback audioMaster) override
    {
        auto* instrument = new Instrument(audioMaster);
        if constexpr (!std::is_void_v<Editor>)
        {
            try
            {
                AttachEditorLoader<Editor>(instrument);
            }
            catch (...)
            {
                delete instrument;
                throw;
            }
        }
        return instrument;
    }
};

// Defines a plug-in library's factory and its exported entries: VSTPluginMain, and the same
// under the name "main" that older hosts look up. Use once, in the library's own source.
#define DEFINE_VST_PLUGIN_ENTRY(...)                                                                         \
    namespace                                                                                                \
    {                                                                                                        \
    __VA_ARGS__ vstPluginFactory;                                                                            \
    }                                                                                                        \
    extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host)       \
    {                                                                                                        \
        return VstPluginEntry(host);                                                                         \
    }                                                                                                        \
    extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMainOldName(                         \
        audioMasterCallback host) __asm__("main");                                                           \
    AEffect* VSTPluginMainOldName(audioMasterCallback host)                                                  \
    {                                                                                                        \
        return VstPluginEntry(host);                                                                         \
    }
