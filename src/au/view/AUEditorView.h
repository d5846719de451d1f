#pragma once

#include "au/AUPluginLists.h"
#include "platform/au/CarbonView.h"
#include "toolkit/EditorHost.h"

class EffectGUIBase;

namespace gfx
{
class Surface;
}

// The view component of an Audio Unit with an editor: it hands the editor root to the editor host
// (toolkit/EditorHost.h), which owns it inside the host's window. Opening the component builds
// nothing and touches no display; the create selector (CreateUI) builds the deliverable's editor
// root for the edited unit, sizes the pane to the editor's size plus the location and opens the
// root at x 0 and y the window's title-bar height (whatever the location). The host's idle call
// turns the event loop once without waiting, then drains the plug-in's requests.
//
// A headless host window gets a surface of the host-window back end (HostWindowBackend); an X11
// one a child window of the X11 back end. Views in headless and X11 windows are not open at the
// same time in one process (the second kind is refused).
//
// The view watches the unit (holding it) from before the editor opens until the unit closes or
// the view goes. Closing the edited unit closes the editor, from whatever thread closes it (at
// once, or on the editor's thread, which holds the unit until then); the view stays, empty,
// until the host closes it. Create, idle and close may come from any thread.
class AUEditorView : public AUCarbonViewBase, private AUUnitObserver
{
public:
    explicit AUEditorView(ComponentInstance instance);
    ~AUEditorView() override;

    // -1, with nothing built or attached, when the unit is no plug-in of this library or the
    // editor host refuses (see EditorHost::Open); the view may then be created again.
    OSStatus CreateUI(Float32 x, Float32 y) override;
    void Idle() override;
    // The view component's close: the watch ends (a closing notice on its way here is delivered
    // first) and the editor closes, before anything of the view is destroyed.
    void PreDestructor() override;

    // The deliverable's editor root for the unit (its handle is the unit).
    virtual EffectGUIBase* CreateGUI(AudioUnit unit) = 0;
    // Whether the unit is an instance of this deliverable (nothing is built for any other).
    virtual bool EditsUnit(AudioUnit unit) = 0;

    // The editor root while one is open (null before CreateUI and after the unit closed).
    EffectGUIBase* GetEditor() const { return host.Root(); }
    gfx::Surface* GetSurface() const { return host.Surface(); }

private:
    void UnitClosing() override;

    EditorHost host;
};

// The view of a product's editor root GUI (constructed over the unit as its handle).
template <class GUI> class AUEditorViewOf : public AUEditorView
{
public:
    using AUEditorView::AUEditorView;
    EffectGUIBase* CreateGUI(AudioUnit unit) override { return new GUI(static_cast<void*>(unit)); }
    bool EditsUnit(AudioUnit unit) override
    {
        return FindInstrument(unit) != nullptr || FindAudioUnit(unit) != nullptr;
    }
};
