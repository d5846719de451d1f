#include "vst/VstPluginLists.h"

#include <mutex>
#include <vector>

namespace
{

// Entries {object, handle} under one mutex.
template <class Object> class PluginList
{
public:
    void Add(Object* object, AudioEffect* handle)
    {
        std::lock_guard<std::mutex> hold(mutex);
        entries.push_back({object, handle});
    }

    void Remove(AudioEffect* handle)
    {
        std::lock_guard<std::mutex> hold(mutex);
        std::erase_if(entries, [handle](Entry const& e) { return e.handle == handle; });
    }

    Object* Find(AudioEffect* handle)
    {
        std::lock_guard<std::mutex> hold(mutex);
        for (Entry const& e : entries)
        {
            if (e.handle == handle) return e.object;
        }
        return nullptr;
    }

private:
    struct Entry
    {
        Object* object;
        AudioEffect* handle;
    };
    std::mutex mutex;
    std::vector<Entry> entries;
};

// Built on first use, so instances made during static initialisation find them.
PluginList<InstrumentBase>& Instruments()
{
    static auto* list = new PluginList<InstrumentBase>;
    return *list;
}

PluginList<EffectBase>& Effects()
{
    static auto* list = new PluginList<EffectBase>;
    return *list;
}

} // namespace

void AddVstInstrumentToList(InstrumentBase* instrument, AudioEffect* effect)
{
    Instruments().Add(instrument, effect);
}

void RemoveVstInstrumentFromList(AudioEffect* effect)
{
    Instruments().Remove(effect);
}

InstrumentBase* FindVstInstrument(AudioEffect* effect)
{
    return Instruments().Find(effect);
}

void AddVstEffectToList(EffectBase* effect, AudioEffect* handle)
{
    Effects().Add(effect, handle);
}

void RemoveVstEffectFromList(AudioEffect* handle)
{
    Effects().Remove(handle);
}

EffectBase* FindVstEffect(AudioEffect* handle)
{
    return Effects().Find(handle);
}
