#include "platform/gfx/Surface.h"

#include <algorithm>

#include "platform/Strand.h"
#include "platform/gfx/Backend.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoop.h"

namespace gfx
{
namespace
{
// Never destroyed: a host that exits with an editor open may still run editor code after the
// process's static objects are gone.
std::vector<Surface*>& Registry()
{
    static auto* all = new std::vector<Surface*>;
    return *all;
}
} // namespace

Surface::Surface(Backend& b, SurfaceKind k, Rect screenRect, void* host, Surface* o)
    : backend(b), kind(k), hostHandle(host), owner(o), width(std::max(1, screenRect.w)),
      height(std::max(1, screenRect.h)),
      backBuffer(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)), creator(Strand::Current())
{
    root.surface = this;
    root.visible = true;
    root.frame = Rect{0, 0, width, height};
    cairo_t* cr = cairo_create(backBuffer);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    Registry().push_back(this);
    backend.SurfaceCreated(*this);
    backend.Move(*this, Point{screenRect.x, screenRect.y});
}

Surface::~Surface()
{
    // Nodes still hanging in the tree lose their surface with it.
    std::vector<View*> children = root.children;
    for (View* child : children)
        child->RemoveFromSuperview();
    Retire();
    cairo_surface_destroy(backBuffer);
}

void Surface::Retire()
{
    if (retired) return;
    retired = true;
    Dispatcher::SurfaceGone(this);
    // An editor abandoned under this surface is gone with it; a later surface at this address
    // starts afresh.
    RunLoop::Forget(this);
    for (Surface* other : Registry())
        if (other->owner == this) other->owner = nullptr;
    auto& all = Registry();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    backend.SurfaceDestroyed(*this);
}

Point Surface::ScreenOrigin() const
{
    if (retired) return Point{};
    return backend.ScreenOrigin(*this);
}

void Surface::Move(int x, int y)
{
    if (retired) return;
    backend.Move(*this, Point{x, y});
}

void Surface::Show(bool s)
{
    shown = s;
    if (!retired) backend.Show(*this, s);
}

void Surface::Focus()
{
    if (retired) return;
    backend.Focus(*this);
}

void Surface::SetFocus(View* view)
{
    focus = view;
    focusLife = view ? view->Liveness() : std::weak_ptr<void const>();
    if (view) view->SetNeedsDisplay();
}

View* Surface::GetFocus() const
{
    // A node that has left this surface's tree no longer takes its keys.
    return focusLife.expired() || focus->GetSurface() != this ? nullptr : focus;
}

std::vector<Surface*> const& Surface::All()
{
    return Registry();
}
} // namespace gfx
