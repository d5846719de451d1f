#include "au/view/AUEditorView.h"

#include <cstdint>
#include <memory>

#include "au/view/HostWindowBackend.h"
#include "framework/PluginBase.h"
#include "platform/gfx/xcb/XcbEditorWindowSystem.h"
#include "toolkit/EffectGUIBase.h"

namespace
{
// Host windows of the headless kind: the window's record is the surface's handle.
class HeadlessWindows : public EditorWindowSystem
{
public:
    gfx::Backend* Acquire() override { return gfx::HostWindowBackend::Acquire(); }
    void Release() override { gfx::HostWindowBackend::Release(); }
    bool HostWindowSize(void* window, int& w, int& h) override
    {
        auto const* record = static_cast<HostWindowRecord const*>(window);
        w = record->width;
        h = record->height;
        return true;
    }
};
} // namespace

AUEditorView::AUEditorView(ComponentInstance instance) : AUCarbonViewBase(instance, 0.1f) {}

AUEditorView::~AUEditorView()
{
    PreDestructor();
}

void AUEditorView::PreDestructor()
{
    UnwatchUnit(this);
    host.Close();
}

OSStatus AUEditorView::CreateUI(Float32 x, Float32 y)
{
    AudioUnit const unit = GetEditAudioUnit();
    HostWindowRef const window = GetCarbonWindow();
    if (unit == nullptr || window == nullptr || !EditsUnit(unit)) return -1;
    // Watched before anything is built on it, and held for this call: a unit closing meanwhile
    // is refused here, or closes the editor once it is open.
    PluginBase* const held = WatchUnit(unit, this);
    if (held == nullptr) return -1;
    struct Unwatch
    {
        AUEditorView* view;
        PluginBase* held;
        ~Unwatch()
        {
            if (view != nullptr) UnwatchUnit(view);
            held->ReleaseEditorHold();
        }
    } unwatch{this, held};

    std::unique_ptr<EffectGUIBase> root(CreateGUI(unit));
    long width = 0;
    long height = 0;
    root->GetDimensions(width, height);
    CarbonRect title;
    GetWindowBounds(window, kWindowTitleBarRgn, &title);
    int const top = title.bottom - title.top;

    static auto* headless = new HeadlessWindows;
    bool const x11 = window->kind == kHostWindowX11;
    EditorWindowSystem& system = x11 ? XcbEditorWindowSystem() : *headless;
    void* handle = x11 ? reinterpret_cast<void*>(static_cast<std::uintptr_t>(window->x11Window))
                       : static_cast<void*>(window);
    if (!host.Open(system, handle, root, [top](int, long) { return top; }))
    {
        // A root the host refused before building it goes through it.
        EditorHost::Discard(std::move(root));
        return -1;
    }
    unwatch.view = nullptr;
    SizeControl(GetCarbonPane(), PaneCoordinate(static_cast<float>(width) + x),
                PaneCoordinate(static_cast<float>(height) + y));
    return noErr;
}

void AUEditorView::Idle()
{
    host.Idle();
}

void AUEditorView::UnitClosing()
{
    // The editor goes while the unit's parameters exist.
    host.Close();
}
