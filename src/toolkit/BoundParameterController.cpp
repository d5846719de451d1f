#include "toolkit/BoundParameterController.h"

#include "toolkit/EffectGUIBase.h"

BoundParameterController::~BoundParameterController()
{
    UnbindAllParameters();
}

void BoundParameterController::BindUnderPluginMutex(Window const* control, Parameter* p)
{
    if (p == nullptr) return;
    if (PluginBase* found = FindEditedPlugin(control)) bindingPlugin = found;
    EditedPluginLock lock(bindingPlugin);
    BindParameter(p);
}

void BoundParameterController::UnbindUnderPluginMutex(Parameter* p)
{
    EditedPluginLock lock(bindingPlugin);
    UnbindParameter(p);
}

void BoundParameterController::UnbindAllParameters()
{
    if (bound.empty()) return;
    EditedPluginLock lock(bindingPlugin);
    while (!bound.empty())
        UnbindParameter(bound.back());
}

float BoundParameterController::SetAllUnderPluginMutex(float n)
{
    EditedPluginLock lock(bindingPlugin);
    return ControllerSetAll(n);
}
