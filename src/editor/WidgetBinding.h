#pragma once

class Window;
class Parameter;
class ParameterController;
class ParamUpdateListener;

// Where the editor's widgets join and leave parameter listener lists: each widget binds in its
// Create and unbinds in its destructor through these calls only. They hold the plug-in mutex of
// the editor root found up the widget's parent chain (EditedPluginLock), as the toolkit's bound
// controls do; a widget outside an editor root binds directly. The widget is the window that
// owns the listener; a null parameter does nothing. Editor thread.
namespace widgets
{
// BindParameter (the controller hears the current position at once) / UnbindParameter.
void Bind(Window* widget, ParameterController& controller, Parameter* p);
void Unbind(Window* widget, ParameterController& controller, Parameter* p);
// AddUpdateListener / RemoveUpdateListener for a plain listener.
void Join(Window* widget, Parameter* p, ParamUpdateListener* listener);
void Leave(Window* widget, Parameter* p, ParamUpdateListener* listener);
} // namespace widgets
