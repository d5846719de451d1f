// The entry of the Torvane VST plug-in: one factory for the library, and the exported
// VSTPluginMain (and main) that build a Torvane instrument for each instance a host opens.

#include "engine/Torvane.h"
#include "vst/VstEntry.h"

DEFINE_VST_PLUGIN_ENTRY(VSTFactory<Torvane, void>)
