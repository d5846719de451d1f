#pragma once

#include "framework/PluginEditor.h"

// What the instrument asks of its main editor, beyond what every plug-in asks
// (PluginEditor). The instrument posts these as request bits from any thread; the editor's
// thread applies them when it drains the plug-in's requests (Torvane::ApplyEditorRequests),
// never under the plug-in mutex. Every operation does nothing by default, so the instrument
// runs the same with or without an editor. The plug-in interface is a virtual base, so an
// editor root that is also a toolkit editor root (EffectGUIBase) has one of it.
class InstrumentEditor : public virtual PluginEditor
{
public:
    // Editor's thread, outside the plug-in mutex: the whole patch changed (a patch load or a
    // restored host state).
    virtual void PatchLoaded() {}
    // Editor's thread, outside the plug-in mutex: the patch name changed.
    virtual void UpdatePatchName() {}
    // Editor's thread, outside the plug-in mutex: redraw the timeline lines.
    virtual void UpdateEventLines() {}
    // Editor's thread, outside the plug-in mutex: the snap grid switched between tempo and
    // seconds.
    virtual void UpdateSnapLabel() {}
    // Editor's thread, outside the plug-in mutex: the edit time moved.
    virtual void UpdatedEditTime() {}
    // Editor's thread, outside the plug-in mutex: clear the breakpoint selection.
    virtual void DeselectBreakpoints() {}
    // Editor's thread, outside the plug-in mutex: the current layer's waves changed.
    virtual void UpdateWaveDisplays() {}
    // Editor's thread, outside the plug-in mutex: the layers' on switches changed.
    virtual void UpdateVoiceToggles() {}
};
