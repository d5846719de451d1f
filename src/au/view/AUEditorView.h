#pragma once

#include <memory>

#include "au/AUPluginLists.h"
#include "platform/au/CarbonView.h"

class EffectGUIBase;
class Window;

namespace gfx
{
class Surface;
}

// The view component of an Audio Unit with an editor: it owns the editor root and places it
// in the host's window. Opening the component builds nothing and touches no display; the create
// selector (CreateUI) finds the edited unit's plug-in through the toolkit's lookup, sizes the
// pane to the editor's size plus the location, builds the editor root in a surface of its own
// at x 0 and y the window's title-bar height (whatever the location), builds its content and
// attaches it. The host's idle call turns the event loop once without waiting.
//
// A headless host window gets a surface of the host-window back end (HostWindowBackend); an X11
// one a child window of the X11 back end. Views in headless and X11 windows are not open at the
// same time in one process (the second kind is refused).
//
// Closing the edited unit while the view is open drops the editor (it detaches, its controls
// unbind while their parameters exist) and forgets the unit; the view stays, empty, until the
// host closes it. Main thread only.
class AUEditorView : public AUCarbonViewBase, private AUUnitObserver
{
public:
    explicit AUEditorView(ComponentInstance instance);
    // Detaches the editor, then deletes it, its surface and its window system's share.
    ~AUEditorView() override;

    // -1, with nothing built or attached, when the unit is no plug-in of this library, the
    // window system cannot be had or the host window does not exist. An exception from the
    // editor's content leaves nothing built or attached and passes on.
    OSStatus CreateUI(Float32 x, Float32 y) override;
    void Idle() override;

    // The deliverable's editor root for the unit (its handle is the unit).
    virtual EffectGUIBase* CreateGUI(AudioUnit unit) = 0;

    // The editor root while one is open (null before CreateUI and after the unit closed).
    EffectGUIBase* GetEditor() const;
    gfx::Surface* GetSurface() const;

private:
    struct Session;
    void UnitClosing() override;

    std::shared_ptr<Session> session;
};

// The view of a product's editor root GUI (constructed over the unit as its handle).
template <class GUI> class AUEditorViewOf : public AUEditorView
{
public:
    using AUEditorView::AUEditorView;
    EffectGUIBase* CreateGUI(AudioUnit unit) override { return new GUI(static_cast<void*>(unit)); }
};
