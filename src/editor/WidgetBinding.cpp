#include "editor/WidgetBinding.h"

#include "framework/Parameter.h"
#include "framework/ParameterController.h"
#include "toolkit/EffectGUIBase.h"

// The host and the audio thread walk a parameter's listeners under the plug-in mutex, so the
// lists change only under the mutex of the plug-in that the widget's editor root edits (none for
// a widget outside an editor root).
namespace widgets
{
void Bind(Window* widget, ParameterController& controller, Parameter* p)
{
    if (!p) return;
    EditedPluginLock lock(widget);
    controller.BindParameter(p);
}

void Unbind(Window* widget, ParameterController& controller, Parameter* p)
{
    if (!p) return;
    EditedPluginLock lock(widget);
    controller.UnbindParameter(p);
}

void Join(Window* widget, Parameter* p, ParamUpdateListener* listener)
{
    if (!p) return;
    EditedPluginLock lock(widget);
    p->AddUpdateListener(listener);
}

void Leave(Window* widget, Parameter* p, ParamUpdateListener* listener)
{
    if (!p) return;
    EditedPluginLock lock(widget);
    p->RemoveUpdateListener(listener);
}
} // namespace widgets
