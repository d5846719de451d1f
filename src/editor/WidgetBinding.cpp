#include "editor/WidgetBinding.h"

#include "framework/Parameter.h"
#include "framework/ParameterController.h"

namespace widgets
{
void Bind(Window*, ParameterController& controller, Parameter* p)
{
    if (p) controller.BindParameter(p);
}

void Unbind(Window*, ParameterController& controller, Parameter* p)
{
    if (p) controller.UnbindParameter(p);
}

void Join(Window*, Parameter* p, ParamUpdateListener* listener)
{
    if (p) p->AddUpdateListener(listener);
}

void Leave(Window*, Parameter* p, ParamUpdateListener* listener)
{
    if (p) p->RemoveUpdateListener(listener);
}
} // namespace widgets
