// The entry of the Torvane VST plug-in: one factory for the library, and the exported
// VSTPluginMain (and main) that build a Torvane instrument for each instance a host opens, with
// the loader of its editor root.

#include "editor/GUI.h"
#include "engine/Torvane.h"
#include "vst/VstEntry.h"
#include "vst/editor/VstGUILoader.h"

DEFINE_VST_PLUGIN_ENTRY(VSTFactory<Torvane, GUI>)
