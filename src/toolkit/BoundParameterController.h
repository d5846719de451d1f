#pragma once

#include "framework/ParameterController.h"

class PluginBase;
class Window;

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

    // The plug-in whose mutex guards the binding; null outside an editor root.
    PluginBase* BindingPlugin() const { return bindingPlugin; }

private:
    PluginBase* bindingPlugin = nullptr;
};
