#include "au/AUPluginLists.h"

#include <algorithm>
#include <condition_variable>
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

    Owner* FindOwner(ComponentInstance instance)
    {
        std::lock_guard<std::mutex> hold(mutex);
        for (Entry const& e : entries)
        {
            if (e.instance == instance) return const_cast<Owner*>(e.owner);
        }
        return nullptr;
    }

    void RemoveInstance(ComponentInstance instance)
    {
        std::lock_guard<std::mutex> hold(mutex);
        std::erase_if(entries, [instance](Entry const& e) { return e.instance == instance; });
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
    static auto* list = new PluginList<InstrumentBase, MacAUInstrumentBase>;
    return *list;
}

PluginList<EffectBase, MacAUEffectBase>& Effects()
{
    static auto* list = new PluginList<EffectBase, MacAUEffectBase>;
    return *list;
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
    PluginBase* unit; // held while watched
};
// Taken before a list's own mutex, never after.
std::mutex watchMutex;
std::condition_variable& NoticeDelivered()
{
    static auto* delivered = new std::condition_variable;
    return *delivered;
}
std::vector<Watch>& Watches()
{
    static auto* watches = new std::vector<Watch>;
    return *watches;
}
// The observers a closing notice is on its way to.
std::vector<AUUnitObserver*>& Notified()
{
    static auto* notified = new std::vector<AUUnitObserver*>;
    return *notified;
}

// The plug-in of a live unit (under watchMutex).
PluginBase* LiveUnit(ComponentInstance instance)
{
    if (MacAUInstrumentBase* base = Instruments().FindOwner(instance)) return base;
    return Effects().FindOwner(instance);
}
} // namespace

PluginBase* WatchUnit(ComponentInstance instance, AUUnitObserver* observer)
{
    if (instance == nullptr || observer == nullptr) return nullptr;
    std::lock_guard<std::mutex> hold(watchMutex);
    PluginBase* const unit = LiveUnit(instance);
    if (unit == nullptr) return nullptr;
    // The unit cannot go meanwhile: its close takes this mutex before it can end.
    unit->HoldForEditor();
    unit->HoldForEditor();
    Watches().push_back({instance, observer, unit});
    return unit;
}

void UnwatchUnit(AUUnitObserver* observer)
{
    std::vector<PluginBase*> held;
    {
        std::unique_lock<std::mutex> hold(watchMutex);
        NoticeDelivered().wait(hold,
                               [observer]
                               {
                                   auto const& n = Notified();
                                   return std::find(n.begin(), n.end(), observer) == n.end();
                               });
        for (Watch const& w : Watches())
            if (w.observer == observer) held.push_back(w.unit);
        std::erase_if(Watches(), [observer](Watch const& w) { return w.observer == observer; });
    }
    for (PluginBase* unit : held)
        unit->ReleaseEditorHold();
}

void NotifyUnitClosing(ComponentInstance instance)
{
    if (instance == nullptr) return;
    {
        std::lock_guard<std::mutex> hold(watchMutex);
        // No view finds or watches it from now on.
        Instruments().RemoveInstance(instance);
        Effects().RemoveInstance(instance);
    }
    // One at a time, outside the lock: an observer may end watches (its own or others') while
    // it is told; its own unwatching waits until the notice is delivered.
    for (;;)
    {
        AUUnitObserver* next = nullptr;
        std::vector<PluginBase*> held;
        {
            std::lock_guard<std::mutex> hold(watchMutex);
            auto& watches = Watches();
            auto const it = std::find_if(watches.begin(), watches.end(),
                                         [instance](Watch const& w) { return w.instance == instance; });
            if (it == watches.end()) return;
            next = it->observer;
            for (Watch const& w : watches)
                if (w.observer == next) held.push_back(w.unit);
            std::erase_if(watches, [next](Watch const& w) { return w.observer == next; });
            Notified().push_back(next);
        }
        next->UnitClosing();
        {
            std::lock_guard<std::mutex> hold(watchMutex);
            auto& notified = Notified();
            notified.erase(std::find(notified.begin(), notified.end(), next));
        }
        NoticeDelivered().notify_all();
        // The close is a counted call: these never delete the unit.
        for (PluginBase* unit : held)
            unit->ReleaseEditorHold();
    }
}
