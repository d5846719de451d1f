#include "platform/gfx/View.h"

#include <algorithm>

#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"

namespace gfx
{
View::View(ViewClient* c) : client(c), life(std::make_shared<char>(0)) {}

View::~View()
{
    Retire();
}

void View::Retire()
{
    life.reset();
    client = nullptr;
    for (View* child : children)
        child->parent = nullptr; // detached, not freed: their owners keep them
    children.clear();
    RemoveFromSuperview();
}

void View::AddSubview(View* child)
{
    if (!child || child == this) return;
    child->RemoveFromSuperview();
    child->parent = this;
    children.push_back(child);
    child->SetNeedsDisplay();
}

void View::RemoveFromSuperview()
{
    if (!parent) return;
    Damage();
    auto& list = parent->children;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    parent = nullptr;
}

void View::Damage()
{
    if (parent && visible) parent->SetNeedsDisplay();
}

void View::SetFrame(Rect r)
{
    if (r.x == frame.x && r.y == frame.y && r.w == frame.w && r.h == frame.h) return;
    Damage();
    frame = r;
    SetNeedsDisplay();
}

void View::SetOrigin(int x, int y)
{
    SetFrame(Rect{x, y, frame.w, frame.h});
}

void View::SetVisible(bool v)
{
    if (v == visible) return;
    Damage();
    visible = v;
    SetNeedsDisplay();
}

void View::SetNeedsDisplay()
{
    needsDisplay.store(true, std::memory_order_relaxed);
    RunLoop::RequestPaint();
}

Surface* View::GetSurface() const
{
    View const* top = this;
    while (top->parent)
        top = top->parent;
    return top->surface;
}

Point View::OriginInTop() const
{
    Point p;
    for (View const* v = this; v; v = v->parent)
    {
        if (v->surface) break; // a surface's root lies at its origin
        p.x += v->frame.x;
        p.y += v->frame.y;
    }
    return p;
}
} // namespace gfx
