#include "toolkit/PopupMenu.h"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/Backend.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/Text.h"
#include "platform/gfx/View.h"
#include "toolkit/MacWindowManager.h"
#include "toolkit/Responders.h"
#include "toolkit/Window.h"

namespace
{
constexpr int kRowHeight = 18;
constexpr int kSeparatorHeight = 7;
constexpr int kTop = 2;
constexpr int kMinWidth = 120;
constexpr int kMaxWidth = 480;
constexpr int kTextRoom = 36; // the text's margins and the sub-list arrow
constexpr int kScrollZone = 8;
constexpr double kFontSize = 11;

// What a level showed when it opened; the items themselves are only touched while the tree
// still matches it.
struct Row
{
    CascadeList::Item* item; // null: a separator
    long id;
    void* data;
    long refCon;
    CascadeList* subList;
    std::string name;
    std::string label; // the name as shown: display text, cut to the menu's widest
    int y;
    int height;
};

class MenuRun;

class MenuLevel : public gfx::View, public gfx::ViewClient
{
public:
    MenuLevel() { SetClient(this); }

    std::vector<Row> rows;
    int hover = -1;
    int opened = -1; // the row whose sub-list is the next level
    int scroll = 0;
    int contentHeight = 0;
    std::unique_ptr<gfx::Surface> surface;

    gfx::Rect ScreenRect() const
    {
        gfx::Point o = surface->ScreenOrigin();
        return gfx::Rect{o.x, o.y, surface->Width(), surface->Height()};
    }
    int RowAt(int localY) const
    {
        int y = localY + scroll;
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (y >= rows[i].y && y < rows[i].y + rows[i].height)
                return rows[i].item ? static_cast<int>(i) : -1;
        return -1;
    }
    int MaxScroll() const { return std::max(0, contentHeight - surface->Height()); }
    void ScrollTo(int s)
    {
        s = std::clamp(s, 0, MaxScroll());
        if (s != scroll) scroll = s, SetNeedsDisplay();
    }
    void ShowRow(int i)
    {
        if (i < 0) return;
        Row const& r = rows[i];
        if (r.y < scroll) ScrollTo(r.y - kTop);
        if (r.y + r.height > scroll + surface->Height()) ScrollTo(r.y + r.height + kTop - surface->Height());
    }

    void Draw(cairo_t* cr) override
    {
        int w = surface->Width(), h = surface->Height();
        cairo_set_source_rgb(cr, 0.17, 0.17, 0.2);
        cairo_paint(cr);
        gfx::SelectFont(cr, kFontSize);
        for (std::size_t i = 0; i < rows.size(); ++i)
        {
            Row const& r = rows[i];
            int y = r.y - scroll;
            if (y + r.height < 0 || y > h) continue;
            if (!r.item)
            {
                cairo_set_source_rgb(cr, 0.4, 0.4, 0.45);
                cairo_rectangle(cr, 6, y + r.height / 2, w - 12, 1);
                cairo_fill(cr);
                continue;
            }
            if (static_cast<int>(i) == hover || static_cast<int>(i) == opened)
            {
                cairo_set_source_rgb(cr, 0.27, 0.43, 0.78);
                cairo_rectangle(cr, 1, y, w - 2, r.height);
                cairo_fill(cr);
            }
            cairo_set_source_rgb(cr, 1, 1, 1);
            gfx::ShowText(cr, r.label.c_str(), 10, y + 13);
            if (r.subList)
            {
                cairo_move_to(cr, w - 12, y + 5);
                cairo_line_to(cr, w - 7, y + 9);
                cairo_line_to(cr, w - 12, y + 13);
                cairo_close_path(cr);
                cairo_fill(cr);
            }
        }
        if (scroll > 0 || scroll < MaxScroll())
        {
            cairo_set_source_rgb(cr, 0.6, 0.6, 0.65);
            if (scroll > 0) cairo_rectangle(cr, w / 2 - 10, 1, 20, 3);
            if (scroll < MaxScroll()) cairo_rectangle(cr, w / 2 - 10, h - 4, 20, 3);
            cairo_fill(cr);
        }
        cairo_set_source_rgb(cr, 0.45, 0.45, 0.5);
        cairo_set_line_width(cr, 1);
        cairo_rectangle(cr, 0.5, 0.5, w - 1, h - 1);
        cairo_stroke(cr);
    }

    void MouseDown(int, int, unsigned, int, unsigned) override {}
};

class MenuRun : public gfx::InputInterceptor
{
public:
    MenuRun(CascadeList& list, gfx::Backend& b, gfx::Surface* o) : root(list), backend(b), owner(o) {}

    ~MenuRun()
    {
        if (grabbed && !levels.empty()) backend.Grab(*levels.front()->surface, false);
        while (!levels.empty())
            CloseLast();
    }

    CascadeList::Item* Run(int x, int y)
    {
        OpenLevel(&root, x, y, std::nullopt);
        grabbed = backend.Grab(*levels.front()->surface, true);
        if (!grabbed) return nullptr; // a menu without the pointer could never be dismissed
        gfx::Dispatcher::PushInterceptor(this);
        struct Pop
        {
            MenuRun* run;
            ~Pop() { gfx::Dispatcher::PopInterceptor(run); }
        } pop{this};
        gfx::RunLoop::RunUntil([this] { return done || !Valid(); });
        return done && Valid() ? chosen : nullptr;
    }

    void Intercept(gfx::InputEvent const& e) override
    {
        if (done || !Valid()) return;
        int level = -1, row = -1;
        Locate(e.rootX, e.rootY, level, row);
        switch (e.type)
        {
        case gfx::InputEvent::Motion:
            if (level < 0) return;
            armed = true;
            Hover(level, row);
            AutoScroll(level, e.rootY);
            break;
        case gfx::InputEvent::Press:
            if (level < 0)
                Finish(nullptr); // a click outside
            else
                armed = true;
            break;
        case gfx::InputEvent::Release:
            if (level >= 0 && row >= 0 && armed)
            {
                Row const& r = levels[level]->rows[row];
                if (!r.subList) Finish(r.item);
            }
            break;
        case gfx::InputEvent::KeyDown:
            Key(e.key);
            break;
        }
    }

private:
    bool Valid() const
    {
        CascadeList const* list = &root;
        for (std::size_t l = 0; l < levels.size(); ++l)
        {
            auto const& entries = list->GetEntries();
            auto const& rows = levels[l]->rows;
            if (entries.size() != rows.size()) return false;
            for (std::size_t i = 0; i < rows.size(); ++i)
            {
                CascadeList::Item const* item = entries[i].item;
                Row const& r = rows[i];
                if (item != r.item) return false;
                if (item && (item->id != r.id || item->data != r.data || item->refCon != r.refCon ||
                             item->subList != r.subList || item->name != r.name))
                    return false;
            }
            if (l + 1 < levels.size()) list = rows[levels[l]->opened].subList;
        }
        return true;
    }

    void OpenLevel(CascadeList* list, int x, int y, std::optional<int> flipRight)
    {
        auto level = std::make_unique<MenuLevel>();
        gfx::Rect screen = backend.ScreenBounds();
        // A level is never wider than kMaxWidth (nor the screen): longer entries are cut.
        int const widest = std::max(kMinWidth, std::min(kMaxWidth, screen.w));
        gfx::TextMeasure measure(kFontSize);
        gfx::MeasureFunction const measureFunction = [&measure](std::string_view p) { return measure(p); };
        int width = kMinWidth, at = kTop;
        for (CascadeList::Entry const& e : list->GetEntries())
        {
            Row r{e.item, 0, nullptr, 0, nullptr, "", "", at, e.item ? kRowHeight : kSeparatorHeight};
            if (e.item)
            {
                r.id = e.item->id;
                r.data = e.item->data;
                r.refCon = e.item->refCon;
                r.subList = e.item->isSubList ? e.item->subList : nullptr;
                r.name = e.item->name;
                r.label = gfx::FitWithEllipsis(gfx::ToDisplayText(r.name.c_str()), widest - kTextRoom,
                                               measureFunction);
                width = std::max(width, static_cast<int>(measure(r.label)) + kTextRoom);
            }
            at += r.height;
            level->rows.push_back(std::move(r));
        }
        width = std::min(width, widest);
        level->contentHeight = at + kTop;
        int height = std::min(level->contentHeight, screen.h);
        // Inside the screen: flipped left (to the left of the parent level) or up.
        if (x + width > screen.x + screen.w) x = flipRight ? *flipRight - width : x - width;
        if (y + height > screen.y + screen.h) y = flipRight ? screen.y + screen.h - height : y - height;
        x = std::clamp(x, screen.x, std::max(screen.x, screen.x + screen.w - width));
        y = std::clamp(y, screen.y, std::max(screen.y, screen.y + screen.h - height));
        gfx::Surface* levelOwner = levels.empty() ? owner : levels.back()->surface.get();
        level->surface = std::make_unique<gfx::Surface>(backend, gfx::SurfaceKind::Popup,
                                                        gfx::Rect{x, y, width, height}, nullptr, levelOwner);
        level->surface->Root().AddSubview(level.get());
        level->SetFrame(gfx::Rect{0, 0, width, height});
        level->SetVisible(true);
        level->surface->Show(true);
        level->surface->Focus();
        levels.push_back(std::move(level));
    }

    void CloseLast()
    {
        std::unique_ptr<MenuLevel> level = std::move(levels.back());
        levels.pop_back();
        level->surface.reset();
        level->Retire();
        MenuLevel* raw = level.release();
        gfx::RunLoop::DeferRelease([raw] { delete raw; });
        if (!levels.empty())
        {
            levels.back()->opened = -1;
            levels.back()->SetNeedsDisplay();
        }
    }

    void Locate(int rootX, int rootY, int& level, int& row) const
    {
        for (int l = static_cast<int>(levels.size()) - 1; l >= 0; --l)
        {
            gfx::Rect r = levels[l]->ScreenRect();
            if (r.Contains(gfx::Point{rootX, rootY}))
            {
                level = l;
                row = levels[l]->RowAt(rootY - r.y);
                return;
            }
        }
    }

    void Hover(int level, int row)
    {
        MenuLevel& l = *levels[level];
        if (l.hover != row) l.hover = row, l.SetNeedsDisplay();
        if (row < 0 || row == l.opened) return;
        while (static_cast<int>(levels.size()) > level + 1)
            CloseLast();
        if (CascadeList* sub = l.rows[row].subList)
        {
            gfx::Rect r = l.ScreenRect();
            l.opened = row;
            OpenLevel(sub, r.x + r.w, r.y + l.rows[row].y - l.scroll - kTop, r.x);
        }
    }

    void AutoScroll(int level, int rootY)
    {
        MenuLevel& l = *levels[level];
        gfx::Rect r = l.ScreenRect();
        if (rootY - r.y < kScrollZone) l.ScrollTo(l.scroll - kRowHeight);
        if (r.y + r.h - rootY <= kScrollZone) l.ScrollTo(l.scroll + kRowHeight);
    }

    void Key(unsigned key)
    {
        int deepest = static_cast<int>(levels.size()) - 1;
        MenuLevel& l = *levels[deepest];
        auto step = [&](int from, int direction)
        {
            for (int i = from + direction; i >= 0 && i < static_cast<int>(l.rows.size()); i += direction)
                if (l.rows[i].item) return i;
            return from;
        };
        switch (key)
        {
        case gfx::kKeyEscape:
            Finish(nullptr);
            break;
        case gfx::kKeyDown:
        case gfx::kKeyUp:
        {
            int next = step(l.hover, key == gfx::kKeyDown ? 1 : -1);
            if (next >= 0 && next != l.hover)
            {
                l.hover = next;
                l.ShowRow(next);
                l.SetNeedsDisplay();
            }
            break;
        }
        case gfx::kKeyRight:
            if (l.hover >= 0 && l.rows[l.hover].subList)
            {
                Hover(deepest, l.hover);
                MenuLevel& sub = *levels.back();
                sub.hover = -1;
                for (std::size_t i = 0; i < sub.rows.size(); ++i)
                    if (sub.rows[i].item)
                    {
                        sub.hover = static_cast<int>(i);
                        break;
                    }
            }
            break;
        case gfx::kKeyLeft:
            if (levels.size() > 1) CloseLast();
            break;
        case gfx::kKeyReturn:
            if (l.hover >= 0 && !l.rows[l.hover].subList) Finish(l.rows[l.hover].item);
            break;
        default:
            break;
        }
    }

    void Finish(CascadeList::Item* item)
    {
        chosen = item;
        done = true;
    }

    CascadeList& root;
    gfx::Backend& backend;
    gfx::Surface* owner;
    std::vector<std::unique_ptr<MenuLevel>> levels;
    bool grabbed = false;
    bool armed = false;
    bool done = false;
    CascadeList::Item* chosen = nullptr;
};
} // namespace

CascadeList::Item* RunPopupMenu(CascadeList& list, Window* parent, long x, long y)
{
    if (!gfx::RunLoop::MayRun()) return nullptr;
    gfx::Surface* owner = parent && parent->GetView() ? parent->GetView()->GetSurface() : nullptr;
    if (!owner) owner = MacWindowManager::OwnerSurface();
    gfx::Backend* backend = owner ? &owner->GetBackend() : gfx::RunLoop::GetBackend();
    if (auto path = Responders::TakeMenu())
    {
        CascadeList* level = &list;
        CascadeList::Item* found = nullptr;
        for (std::string const& name : *path)
        {
            found = nullptr;
            for (CascadeList::Entry const& e :
                 level ? level->GetEntries() : std::vector<CascadeList::Entry>{})
                if (e.item && e.item->name == name)
                {
                    found = e.item;
                    break;
                }
            if (!found) return nullptr;
            level = found->isSubList ? found->subList : nullptr;
        }
        return found;
    }
    if (!backend || list.GetEntries().empty()) return nullptr;
    if (parent) parent->ConvertLocalToScreen(x, y);
    MenuRun run(list, *backend, owner);
    return run.Run(static_cast<int>(x), static_cast<int>(y));
}

void InstallToolkitMenus()
{
    CascadeList::SetChooser([](CascadeList& list, Window* parent, long x, long y)
                            { return RunPopupMenu(list, parent, x, y); });
}
