#pragma once

#include <memory>

// What a plug-in sees of its editor root. A plug-in holds a pointer to the open editor and
// tells it, on the thread that queued, when it has queued notifications; the editor drains
// the plug-in's queue and hands each entry to UpdateAll (kind all) or UpdateSpecific (kind
// specific, with its id and shared data). Every operation does nothing by default.
class EffectGUIBase
{
public:
    virtual ~EffectGUIBase() = default;

    virtual void NotificationQueueChanged() {}
    // Refresh everything shown.
    virtual void UpdateAll() {}
    // Refresh what `id` names; `data` stays alive at least until the call returns.
    virtual void UpdateSpecific(int /*id*/, std::shared_ptr<void> /*data*/) {}
};

// The editor root of the instrument: what the instrument calls directly, at once, on its
// own thread, whenever an editor is attached. The toolkit's editor root overrides these;
// here they do nothing, so the instrument runs without an editor.
class GUI : public EffectGUIBase
{
public:
    // UpdateAll (from EffectGUIBase): the shown page refreshes all its controls.
    // The whole patch changed.
    virtual void PatchLoaded() {}
    // The patch name changed.
    virtual void UpdatePatchName() {}
    // Redraw the timeline lines.
    virtual void UpdateEventLines() {}
    // The snap grid switched between tempo and seconds.
    virtual void UpdateSnapLabel() {}
    // The edit time moved.
    virtual void UpdatedEditTime() {}
    // Clear the breakpoint selection.
    virtual void DeselectBreakpoints() {}
};
