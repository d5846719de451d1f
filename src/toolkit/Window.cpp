#include "toolkit/Window.h"

#include <algorithm>
#include <chrono>

#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/View.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/MacWindowManager.h"

Window::Window() = default;

Window::~Window()
{
    for (Window* child : children)
    {
        if (child->parent == this) child->parent = nullptr;
        auto& lists = child->listedIn;
        auto found = std::find(lists.begin(), lists.end(), this);
        if (found != lists.end()) lists.erase(found);
    }
    children.clear();
    std::vector<Window*> holders;
    holders.swap(listedIn);
    for (Window* holder : holders)
        std::erase(holder->children, this);
    parent = nullptr;
    ReleaseView();
}

void Window::ReleaseView()
{
    if (!view) return;
    MacWindowManager::ReleaseCustomView(view);
    view = nullptr;
}

long Window::CreateChildWindow(WindowRef window, long w, long h, long px, long py)
{
    return Window::CreateChildWindow(window ? &window->Root() : nullptr, w, h, px, py);
}

long Window::CreateChildWindow(ControlRef parentView, long w, long h, long px, long py)
{
    width = w;
    height = h;
    x = px;
    y = py;
    MacWindowManager::CreateCustomView(this);
    if (!parentView) return 0;
    parentView->AddSubview(view);
    view->SetFrame(
        gfx::Rect{static_cast<int>(px), static_cast<int>(py), static_cast<int>(w), static_cast<int>(h)});
    view->SetVisible(true);
    return 0;
}

long Window::CreateChildWindow(Window* p, long w, long h, long px, long py)
{
    if (parent) parent->RemoveChildFromList(this); // made again: it leaves its old parent
    parent = p;
    long status = CreateChildWindow(p ? p->view : nullptr, w, h, px, py);
    if (p) p->AddChildWindow(this);
    return status;
}

long Window::CreateChildWindow(Window* p, GRectangle const& r)
{
    return CreateChildWindow(p, r.width, r.height, r.x, r.y);
}

std::weak_ptr<void const> Window::Liveness() const
{
    return view ? view->Liveness() : std::weak_ptr<void const>();
}

void Window::ForceRepaint()
{
    if (gfx::View* v = view) v->SetNeedsDisplay();
}

std::pair<long, long> Window::GetMouseInfo(long, long)
{
    return mouseInfo;
}

void Window::PumpMessageQueue()
{
    gfx::RunLoop::RunFor(std::chrono::seconds(1));
}

void Window::AddChildWindow(Window* child)
{
    if (!child) return;
    children.push_back(child);
    child->listedIn.push_back(this);
}

void Window::RemoveChildFromList(Window* child)
{
    auto found = std::find(children.begin(), children.end(), child);
    if (found == children.end()) return;
    children.erase(found);
    auto& lists = child->listedIn;
    auto mine = std::find(lists.begin(), lists.end(), this);
    if (mine != lists.end()) lists.erase(mine);
}

bool Window::GetUnderneathSiblings(Window* child, std::vector<Window*>::iterator& first,
                                   std::vector<Window*>::iterator& found)
{
    first = children.begin();
    auto at = std::find(children.begin(), children.end(), child);
    if (at == children.end() || at == children.begin()) return false;
    found = at;
    return true;
}

GPoint Window::GetPosition() const
{
    if (!view) return GPoint();
    gfx::Rect f = view->Frame();
    return GPoint(f.x, f.y);
}

void Window::MoveWindowTo(long px, long py)
{
    if (view) view->SetOrigin(static_cast<int>(px), static_cast<int>(py));
    x = px;
    y = py;
}

void Window::SetSize(long w, long h, bool)
{
    width = w;
    height = h;
    if (view && view->Parent())
    {
        gfx::Rect f = view->Frame();
        view->SetFrame(gfx::Rect{f.x, f.y, static_cast<int>(w), static_cast<int>(h)});
    }
    SizeChanged(w, h);
    resizeEvent.Trigger(this);
}

bool Window::OverlapsWith(Window* other)
{
    if (!other) return false;
    GRectangle a(0, 0, width, height), b(0, 0, other->width, other->height);
    ConvertLocalToScreen(a);
    other->ConvertLocalToScreen(b);
    return GRectangle::Intercect(a, b);
}

GPoint Window::GetScreenPosition() const
{
    if (!view) return GPoint();
    gfx::Point p = view->OriginInTop();
    if (gfx::Surface* s = view->GetSurface())
    {
        gfx::Point o = s->ScreenOrigin();
        p.x += o.x;
        p.y += o.y;
    }
    return GPoint(p.x, p.y);
}

void Window::ConvertLocalToScreen(long& px, long& py) const
{
    GPoint s = GetScreenPosition();
    px += s.x;
    py += s.y;
}

void Window::ConvertLocalToScreen(GPoint& p) const
{
    GPoint s = GetScreenPosition();
    p.Set(p.x + s.x, p.y + s.y);
}

void Window::ConvertLocalToScreen(GRectangle& r) const
{
    GPoint s = GetScreenPosition();
    r.x += s.x;
    r.y += s.y;
}

void Window::ConvertScreenToLocal(long& px, long& py) const
{
    GPoint s = GetScreenPosition();
    px -= s.x;
    py -= s.y;
}

void Window::ConvertScreenToLocal(GPoint& p) const
{
    GPoint s = GetScreenPosition();
    p.Set(p.x - s.x, p.y - s.y);
}

void Window::ConvertScreenToLocal(GRectangle& r) const
{
    GPoint s = GetScreenPosition();
    r.x -= s.x;
    r.y -= s.y;
}

float Window::GetCumulativeAlpha() const
{
    float a = alpha;
    for (Window const* w = parent; w; w = w->parent)
        a *= w->alpha;
    return a;
}

void Window::FillBackground(GraphicsContext& gc, Colour c)
{
    gc.SetPenColour(c, 1);
    gc.DrawFilledRect(0, 0, width, height);
}
