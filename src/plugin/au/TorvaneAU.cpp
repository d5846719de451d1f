// The entry of the Torvane Audio Unit: builds a Torvane instrument for each instance the host
// opens and hands every other call to the music device's dispatcher.

#include "au/AUComponentEntry.h"
#include "engine/Torvane.h"

extern "C" __attribute__((visibility("default"))) OSStatus TorvaneMacAUEntry(ComponentParameters* params,
                                                                             void* storage)
{
    return AUComponentEntry<Torvane>(params, storage);
}
