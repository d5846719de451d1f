#include "toolkit/BoundParameterController.h"

#include <thread>

#include "framework/PluginBase.h"
#include "platform/gfx/RunLoop.h"
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

void BoundParameterController::BeginGesture()
{
    gesture.Begin(bindingPlugin, bound);
}

void BoundParameterController::EndGesture()
{
    gesture.End();
}

void EndEditorGesture(PluginBase* plugin, gfx::Surface const* editor)
{
    auto* server = dynamic_cast<AutomatableParameterServer*>(plugin);
    if (server == nullptr || !server->GestureHeld()) return;
    if (editor != nullptr)
    {
        // A strand waiting tied to no thread is never resumed. Each look compares the editor's
        // address only (it may be closing on another thread); a strand resumed and waiting again
        // between two looks is read as tied at one of the other two.
        auto const untied = [editor] { return gfx::RunLoop::StrandThread(editor) == std::thread::id(); };
        if (!(untied() && gfx::RunLoop::StrandWaiting(editor) && untied())) return;
    }
    server->EndGesture();
}
