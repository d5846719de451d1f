#include "au/AUPluginLists.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "au/MacAUEffectBase.h"
#include "au/MacAUInstrumentBase.h"

namespace
{

template <class Object, class Owner> class PluginList
{
public:
    void Add(Object* object, ComponentInstance instance, Owner const* owner)
    {
        std::lock_guard<std::mutex> hold(mutex);
        entries.push_back({object, instance, owner});
    }

    void Remove(Owner const* owner)
    {
        std::lock_guard<std::mutex> hold(mutex);
        std::erase_if(entries, [owner](Entry const& e) { return e.owner == owner; });
    }

    Object* Find(ComponentInstance instance)
    {
        std::lock_guard<std::mutex> hold(mutex);
        for (Entry const& e : entries)
        {
            if (e.instance == instance) return e.object;
        }
        return nullptr;
    }

private:
    struct Entry
    {
        Object* object;
        ComponentInstance instance;
        Owner const* owner;
    };
    std::mutex mutex;
    std::vector<Entry> entries;
};

// Built on first use, so instances made during static initialisation find them.
PluginList<InstrumentBase, MacAUInstrumentBase>& Instruments()
{
    static PluginList<InstrumentBase, MacAUInstrumentBase> list;
    return list;
}

PluginList<EffectBase, MacAUEffectBase>& Effects()
{
    static PluginList<EffectBase, MacAUEffectBase> list;
    return list;
}

} // namespace

void AddInstrumentToList(InstrumentBase* instrument, MacAUInstrumentBase* base)
{
    if (instrument == nullptr || base == nullptr) return;
    Instruments().Add(instrument, base->GetComponentInstance(), base);
}

void RemoveInstrumentFromList(MacAUInstrumentBase const* base)
{
    Instruments().Remove(base);
}

InstrumentBase* FindInstrument(ComponentInstance instance)
{
    return instance != nullptr ? Instruments().Find(instance) : nullptr;
}

void AddAudioUnitToList(EffectBase* effect, MacAUEffectBase* base)
{
    if (effect == nullptr || base == nullptr) return;
    Effects().Add(effect, base->GetComponentInstance(), base);
}

void RemoveAudioUnitFromList(MacAUEffectBase const* base)
{
    Effects().Remove(base);
}

EffectBase* FindAudioUnit(ComponentInstance instance)
{
    return instance != nullptr ? Effects().Find(instance) : nullptr;
}

namespace
{
struct Watch
{
    ComponentInstance instance;
    AUUnitObserver* observer;
};
std::mutex watchMutex;
std::vector<Watch>& Watches()
{
    static std::vector<Watch> watches;
    return watches;
}
} // namespace

void WatchUnit(ComponentInstance instance, AUUnitObserver* observer)
{
    if (instance == nullptr || observer == nullptr) return;
    std::lock_guard<std::mutex> hold(watchMutex);
    Watches().push_back({instance, observer});
}

void UnwatchUnit(AUUnitObserver* observer)
{
    std::lock_guard<std::mutex> hold(watchMutex);
    std::erase_if(Watches(), [observer](Watch const& w) { return w.observer == observer; });
}

void NotifyUnitClosing(ComponentInstance instance)
{
    if (instance == nullptr) return;
    // One at a time, outside the lock: an observer may end watches (its own or others') while
    // it is told.
    for (;;)
    {
        AUUnitObserver* next = nullptr;
        {
            std::lock_guard<std::mutex> hold(watchMutex);
            auto& watches = Watches();
            auto const it = std::find_if(watches.begin(), watches.end(),
                                         [instance](Watch const& w) { return w.instance == instance; });
            if (it == watches.end()) return;
            next = it->observer;
            std::erase_if(watches, [next](Watch const& w) { return w.observer == next; });
        }
        next->UnitClosing();
    }
}
