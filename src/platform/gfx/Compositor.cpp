#include "platform/gfx/Compositor.h"

#include <memory>
#include <vector>

#include "platform/gfx/Backend.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/View.h"

namespace gfx
{
namespace
{
struct Node
{
    View* view;
    std::weak_ptr<void const> life;
    Point origin; // in the surface
    Rect visible; // the node clipped by its ancestors, in the surface
};

// Collects the visible nodes back to front and takes their flags into the damage.
void Collect(View& view, Point origin, Rect clip, cairo_region_t* damage, std::vector<Node>& nodes)
{
    Rect f = view.Frame();
    Rect mine = Rect{origin.x, origin.y, f.w, f.h}.Intersect(clip);
    if (view.TakeNeedsDisplay() && !mine.Empty())
    {
        cairo_rectangle_int_t r{mine.x, mine.y, mine.w, mine.h};
        cairo_region_union_rectangle(damage, &r);
    }
    nodes.push_back(Node{&view, view.Liveness(), origin, mine});
    if (mine.Empty()) return;
    for (View* child : view.Children())
    {
        if (!child->IsVisible()) continue;
        Rect cf = child->Frame();
        Collect(*child, Point{origin.x + cf.x, origin.y + cf.y}, mine, damage, nodes);
    }
}
} // namespace

bool Compositor::Paint(Surface& surface)
{
    std::unique_ptr<cairo_region_t, void (*)(cairo_region_t*)> owned(cairo_region_create(),
                                                                     cairo_region_destroy);
    cairo_region_t* damage = owned.get();
    std::vector<Node> nodes;
    Collect(surface.Root(), Point{0, 0}, Rect{0, 0, surface.Width(), surface.Height()}, damage, nodes);
    if (cairo_region_is_empty(damage)) return false;

    auto clipToDamage = [damage](cairo_t* cr)
    {
        for (int i = 0, n = cairo_region_num_rectangles(damage); i < n; ++i)
        {
            cairo_rectangle_int_t r;
            cairo_region_get_rectangle(damage, i, &r);
            cairo_rectangle(cr, r.x, r.y, r.width, r.height);
        }
        cairo_clip(cr);
    };

    cairo_t* clear = cairo_create(surface.BackBuffer());
    clipToDamage(clear);
    cairo_set_operator(clear, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgb(clear, 0, 0, 0);
    cairo_paint(clear);
    cairo_destroy(clear);

    for (Node const& node : nodes)
    {
        if (node.life.expired() || node.visible.Empty() || !node.view->Client()) continue;
        cairo_rectangle_int_t r{node.visible.x, node.visible.y, node.visible.w, node.visible.h};
        if (cairo_region_contains_rectangle(damage, &r) == CAIRO_REGION_OVERLAP_OUT) continue;
        cairo_t* cr = cairo_create(surface.BackBuffer());
        clipToDamage(cr);
        cairo_rectangle(cr, node.visible.x, node.visible.y, node.visible.w, node.visible.h);
        cairo_clip(cr);
        cairo_translate(cr, node.origin.x, node.origin.y);
        struct Destroy
        {
            cairo_t* cr;
            ~Destroy() { cairo_destroy(cr); }
        } destroy{cr};
        node.view->Client()->Draw(cr);
    }
    cairo_surface_flush(surface.BackBuffer());

    cairo_rectangle_int_t extents;
    cairo_region_get_extents(damage, &extents);
    surface.GetBackend().Present(surface, Rect{extents.x, extents.y, extents.width, extents.height});
    return true;
}

void Compositor::PaintAll()
{
    std::vector<Surface*> surfaces = Surface::All();
    for (Surface* s : surfaces)
    {
        // A draw may close another surface.
        auto const& all = Surface::All();
        bool alive = false;
        for (Surface* a : all)
            alive |= a == s;
        if (alive) Paint(*s);
    }
}
} // namespace gfx
