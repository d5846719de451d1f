// The entries of the Torvane Audio Unit: the music device builds a Torvane instrument for each
// instance the host opens and hands every other call to the music device's dispatcher; the view
// component builds the view that places the editor root in the host's window.

#include "au/AUComponentEntry.h"
#include "au/view/AUEditorView.h"
#include "editor/GUI.h"
#include "engine/Torvane.h"

extern "C" __attribute__((visibility("default"))) OSStatus TorvaneMacAUEntry(ComponentParameters* params,
                                                                             void* storage)
{
    return AUComponentEntry<Torvane>(params, storage);
}

extern "C" __attribute__((visibility("default"))) OSStatus TorvaneMacAUViewEntry(ComponentParameters* params,
                                                                                 void* storage)
{
    return AUComponentEntry<AUEditorViewOf<GUI>>(params, storage);
}
