#pragma once

#include "framework/AutomatableParameterServer.h"
#include "framework/ParameterController.h"

class PluginBase;
class Window;

namespace gfx
{
class Surface;
}

// The parameter side of a toolkit control. The host, MIDI learn and the audio thread change
// parameters on other threads, always under the plug-in mutex, and walk the parameters'
// listener lists there; so a control binds, unbinds and writes under the mutex of the plug-in
// its editor root edits (found up the parent chain when it binds; none outside an editor root).
//
// Every control calls UnbindAllParameters first thing in its own destructor, so no walk on
// another thread reaches it half destroyed. ParameterUpdated may run on any thread (under the
// mutex): it only stores atomically and calls ForceRepaint.
class BoundParameterController : public ParameterController
{
public:
    ~BoundParameterController() override;

    // Binds p (ignored when null) under the mutex of the plug-in edited by the root above
    // `control`; that plug-in is kept for later unbinding and writes.
    void BindUnderPluginMutex(Window const* control, Parameter* p);
    void UnbindUnderPluginMutex(Parameter* p);
    void UnbindAllParameters();
    // ControllerSetAll under the mutex of the bound plug-in.
    float SetAllUnderPluginMutex(float n);

    // A drag of the control, from its press to its release: the host hears the changes it makes
    // as one gesture on the bound parameters (AutomatableParameterServer::Gesture).
    void BeginGesture();
    void EndGesture();

    // The plug-in whose mutex guards the binding; null outside an editor root.
    PluginBase* BindingPlugin() const { return bindingPlugin; }

private:
    PluginBase* bindingPlugin = nullptr;
    AutomatableParameterServer::Gesture gesture;
};

// The editor hosts' end of a gesture whose release can never come (its brackets close; see
// AutomatableParameterServer::Gesture). With no editor: it closed, and this comes before the close
// returns (nothing reaches the host once the instance itself is closing). With the open editor,
// after an idle: when the editor's drag waits on a thread that has ended. A hidden editor's drag
// ends on its own, as a release in the idle that sees it hidden. Any thread, no lock.
void EndEditorGesture(PluginBase* plugin, gfx::Surface const* editor);
