#include "au/view/AUEditorView.h"

#include <cstdint>
#include <utility>

#include "au/view/HostWindowBackend.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/xcb/XcbBackend.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/Window.h"

namespace
{
// The window system the open views use, and how many views use it (main thread).
gfx::Backend* viewsBackend = nullptr;
int viewsOpen = 0;
} // namespace

// What one created view holds. Shared with a disposal that waits for the outermost handler.
struct AUEditorView::Session
{
    std::int32_t kind = kHostWindowHeadless;
    gfx::Backend* backend = nullptr; // acquired
    bool counted = false;            // counted in viewsOpen
    bool loopAcquired = false;
    std::unique_ptr<gfx::Surface> surface;
    std::shared_ptr<Window> root;
    std::unique_ptr<EffectGUIBase> editor;

    void DropEditor()
    {
        if (!editor) return;
        editor->Detach();
        editor.reset();
    }

    // Editor thread, outside every handler.
    void Dispose()
    {
        DropEditor();
        root.reset();
        surface.reset();
        if (loopAcquired) gfx::RunLoop::Release();
        loopAcquired = false;
        if (counted && --viewsOpen == 0)
        {
            gfx::RunLoop::SetBackend(nullptr);
            gfx::RunLoop::ResumeNested();
            viewsBackend = nullptr;
        }
        counted = false;
        if (backend != nullptr)
        {
            if (kind == kHostWindowX11)
                gfx::XcbBackend::Release();
            else
                gfx::HostWindowBackend::Release();
        }
        backend = nullptr;
    }
};

AUEditorView::AUEditorView(ComponentInstance instance) : AUCarbonViewBase(instance, 0.1f) {}

AUEditorView::~AUEditorView()
{
    UnwatchUnit(this);
    if (!session) return;
    std::shared_ptr<Session> s = std::move(session);
    if (gfx::RunLoop::Nesting() > 0) gfx::RunLoop::AbandonNested();
    if (s->editor) s->editor->Detach();
    gfx::RunLoop::DeferRelease([s] { s->Dispose(); });
}

EffectGUIBase* AUEditorView::GetEditor() const
{
    return session ? session->editor.get() : nullptr;
}

gfx::Surface* AUEditorView::GetSurface() const
{
    return session ? session->surface.get() : nullptr;
}

OSStatus AUEditorView::CreateUI(Float32 x, Float32 y)
{
    AudioUnit const unit = GetEditAudioUnit();
    HostWindowRef const window = GetCarbonWindow();
    EffectGUIBase::PluginLookup const lookup = EffectGUIBase::GetPluginLookup();
    if (lookup == nullptr || lookup(unit).plugin == nullptr || window == nullptr) return -1;

    auto s = std::make_shared<Session>();
    s->editor.reset(CreateGUI(unit));
    long width = 0;
    long height = 0;
    s->editor->GetDimensions(width, height);
    SizeControl(GetCarbonPane(), PaneCoordinate(static_cast<float>(width) + x),
                PaneCoordinate(static_cast<float>(height) + y));
    CarbonRect title;
    GetWindowBounds(window, kWindowTitleBarRgn, &title);
    int const top = title.bottom - title.top;

    // The window system: nothing before this point touches a display.
    s->kind = window->kind;
    void* handle = window;
    if (window->kind == kHostWindowX11)
    {
        gfx::XcbBackend* xcb = gfx::XcbBackend::Acquire();
        s->backend = xcb;
        int w = 0, h = 0;
        if (xcb == nullptr || !xcb->WindowSize(window->x11Window, w, h))
        {
            s->Dispose();
            return -1;
        }
        handle = reinterpret_cast<void*>(static_cast<std::uintptr_t>(window->x11Window));
    }
    else
    {
        s->backend = gfx::HostWindowBackend::Acquire();
    }
    if (viewsBackend != nullptr && viewsBackend != s->backend)
    {
        s->Dispose();
        return -1;
    }
    if (viewsOpen++ == 0)
    {
        viewsBackend = s->backend;
        gfx::RunLoop::SetBackend(s->backend);
    }
    s->counted = true;
    if (!gfx::RunLoop::Acquire())
    {
        s->Dispose();
        return -1;
    }
    s->loopAcquired = true;
    if (gfx::RunLoop::Nesting() == 0) gfx::RunLoop::ResumeNested();

    try
    {
        s->surface = std::make_unique<gfx::Surface>(
            *s->backend, gfx::SurfaceKind::Embedded,
            gfx::Rect{0, top, static_cast<int>(width), static_cast<int>(height)}, handle);
        s->root = std::make_shared<Window>();
        s->root->CreateChildWindow(s->surface.get(), width, height, 0, 0);
        s->editor->CreateUI(s->root.get(), 0, 0);
    }
    catch (...)
    {
        s->Dispose();
        throw;
    }
    session = std::move(s);
    WatchUnit(unit, this);
    return noErr;
}

void AUEditorView::Idle()
{
    if (!session || !gfx::RunLoop::IsBound() || !gfx::RunLoop::MayRun()) return;
    bool const lost = session->kind == kHostWindowX11 && gfx::XcbBackend::Current() != nullptr &&
                      gfx::XcbBackend::Current()->Lost();
    if (gfx::RunLoop::Abandoned() && gfx::RunLoop::Nesting() == 0 && !lost) gfx::RunLoop::ResumeNested();
    gfx::RunLoop::GuardHostEntry("view idle", [] { gfx::RunLoop::Turn(false); });
}

void AUEditorView::UnitClosing()
{
    if (!session) return;
    if (gfx::RunLoop::Nesting() > 0) gfx::RunLoop::AbandonNested();
    // The controls unbind now, while the unit's parameters exist.
    session->DropEditor();
}
