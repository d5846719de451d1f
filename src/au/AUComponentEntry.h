#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "platform/Strand.h"
#include "platform/au/AUBase.h"

// The whole work of a component entry for the unit type Unit: the open selector builds a Unit
// on the component instance (the call's first word), runs its PostConstructor and stores it
// as the instance's storage; every other call goes to the unit's dispatcher with the storage,
// counted on the unit's life first (the render call, the audio thread's, is not: hosts stop
// rendering before they close, and the audio thread never deletes a unit); a call that meets
// a closing unit answers badComponentInstance.
// Nothing escapes: an allocation failure answers -108, a thrown status that status, anything
// else -1. A unit whose constructor or PostConstructor throws is freed and no storage is set.
template <class Unit> OSStatus AUComponentEntry(ComponentParameters* params, void* storage)
{
    // The host's own code, also when it calls from inside a call of ours to it on an editor's
    // strand (see Strand::HostCall); off every strand (the render) one thread-local read.
    Strand::HostCall const hostCode;
    try
    {
        if (params == nullptr) return kAudioUnitErr_InvalidParameter;
        if (params->what == kComponentOpenSelect)
        {
            auto const instance = reinterpret_cast<ComponentInstance>(params->params[0]);
            if (instance == nullptr) return badComponentInstance;
            std::unique_ptr<Unit> unit(new Unit(instance));
            unit->PostConstructor();
            SetComponentInstanceStorage(instance, unit.release());
            return noErr;
        }
        auto* unit = static_cast<Unit*>(storage);
        if (unit == nullptr) return badComponentInstance;
        if (params->what == kAudioUnitRenderSelect) return Unit::ComponentEntryDispatch(params, unit);
        InstanceLife::Call call(unit->Life());
        if (!call) return badComponentInstance;
        return Unit::ComponentEntryDispatch(params, unit);
    }
    catch (std::bad_alloc const&)
    {
        return memFullErr;
    }
    catch (std::int32_t status)
    {
        return status;
    }
    catch (std::int16_t status)
    {
        return status;
    }
    catch (...)
    {
        return -1;
    }
}
