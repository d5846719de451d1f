#include "editor/TPatchList.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/PresetManager.h"
#include "toolkit/GraphicsContext.h"

TPatchList::~TPatchList()
{
    // Nothing is told and the list is not touched; the scroll bar leaves the parameter's
    // listeners in its own destructor, before the parameter goes.
}

void TPatchList::Create(Window* parent, int id, long px, long py, long w, int rowCount)
{
    listId = id;
    rows = std::max(rowCount, 1);
    rowHeight = kRowHeight;
    scroll.Create("", this, Parameter::Private, 0.0f, 1.0f, Parameter::Continuous);
    scroll.SetTransient(true);
    CreateChildWindow(parent, w, rowHeight * rows, px, py);
    scrollBar.Create(this, &scroll, w - kScrollBarWidth, 0, true, rowHeight * rows);
}

void TPatchList::SetList(CascadeList* newList)
{
    list = newList;
    if (list == nullptr || list->NumItems() == 0)
    {
        first = last = -1;
        entryCount = 0;
        scroll.SetMinMax(0.0f, 0.0f, false);
        Select(-1);
    }
    else
    {
        entryCount = list->NumItems();
        scroll.SetMinMax(0.0f, entryCount > rows ? static_cast<float>(entryCount - rows) : 1.0f, false);
        first = 0;
        last = std::min(entryCount - 1, rows - 1);
        Select(0);
    }
    // The bar shows the top again; the view is already there.
    scroll.Set(0.0f, this);
    ForceRepaint();
}

void TPatchList::Select(int index)
{
    selection = index >= 0 && index < entryCount ? index : -1;
    CascadeList::Item* item = GetSelectedItem();
    selectedName = item ? item->name : std::string();
}

void TPatchList::SetSelection(int index)
{
    if (entryCount == 0)
    {
        Select(-1);
        return;
    }
    Select(index);
    MakeSelectionVisible();
    ForceRepaint();
}

void TPatchList::SetSelection(char const* name)
{
    SetSelection(FindItem(name));
}

CascadeList::Item* TPatchList::GetSelectedItem() const
{
    return selection < 0 ? nullptr : GetItem(selection);
}

CascadeList::Item* TPatchList::GetItem(int index) const
{
    return list ? list->GetItem(index) : nullptr;
}

int TPatchList::FindItem(char const* name) const
{
    if (name == nullptr || list == nullptr) return -1;
    for (int i = 0; i < entryCount; ++i)
    {
        CascadeList::Item* item = list->GetItem(i);
        if (item && item->name == name) return i;
    }
    return -1;
}

void TPatchList::MakeSelectionVisible()
{
    if (selection >= 0) MakePositionVisible(selection);
}

void TPatchList::MakePositionVisible(int index)
{
    if (entryCount == 0 || index < 0 || index >= entryCount || (index >= first && index <= last)) return;
    if (index > last)
    {
        int const by = index - last;
        first += by;
        last += by;
    }
    else
    {
        int const by = first - index;
        first = index;
        last -= by;
    }
    ForceRepaint();
    // This host is the author: its own ParameterUpdated is not called again.
    scroll.Set(last >= rows ? static_cast<float>(last - (rows - 1)) : 0.0f, this);
}

int TPatchList::PosToIndex(long py) const
{
    if (entryCount == 0 || py < 0) return -1;
    int const index = static_cast<int>(py / rowHeight) + first;
    return index >= first && index <= last ? index : -1;
}

void TPatchList::LButtonDown(long, long py)
{
    int const index = PosToIndex(py);
    if (index < 0) return;
    Select(index);
    if (listener)
    {
        std::weak_ptr<void const> const life = Liveness();
        listener->PatchListSelection(listId, index, GetItem(index));
        // The listener may have closed the dialog holding the list, or set another list.
        if (life.expired()) return;
    }
    // The listener may also have set the selection or the list again.
    MakeSelectionVisible();
    ForceRepaint();
}

void TPatchList::MouseWheelMoved(int delta, long, long)
{
    scroll.Set(static_cast<float>(delta / 120) + static_cast<float>(scroll), nullptr);
}

void TPatchList::ParameterUpdated(float value, Parameter*)
{
    if (entryCount == 0) return;
    int const p = static_cast<int>(std::lround(value));
    last = std::min(entryCount - 1, rows + p - 1);
    first = std::max(last + 1 - rows, 0);
    ForceRepaint();
}

void TPatchList::Repaint(GraphicsContext& gc)
{
    if (drawBackground) FillBackground(gc, Colour(80, 80, 80, 255));
    gc.SetFont(10, nullptr, false, false);
    if (entryCount == 0 || list == nullptr) return;
    for (int i = first; i <= last && i >= 0; ++i)
    {
        CascadeList::Item* item = list->GetItem(i);
        if (item == nullptr) continue;
        long const row = static_cast<long>(i - first) * rowHeight;
        if (i == selection)
        {
            gc.SetPenColour(255, 0, 0, 1, 100);
            gc.DrawFilledRect(0, row, width - kScrollBarWidth, rowHeight);
        }
        gc.SetPenColour(255, 255, 255, 1, 255);
        gc.DrawString(item->name.c_str(), 2, row + 1);
    }
}

void ResetPatchLists(PresetManager& manager, TPatchList& categories, TPatchList* items)
{
    // Only the names kept by the lists are read: their entries are gone.
    bool const hadCategory = categories.GetSelection() >= 0;
    std::string const category = categories.GetSelectedName();
    bool const itemsShown = items != nullptr && items->GetList() != nullptr;
    bool const hadItem = items != nullptr && items->GetSelection() >= 0;
    std::string const item = items != nullptr ? items->GetSelectedName() : std::string();

    categories.SetList(&manager.GetList());
    categories.SetSelection(hadCategory ? category.c_str() : nullptr);
    if (items == nullptr) return;
    CascadeList::Item* selected = categories.GetSelectedItem();
    CascadeList* presets = selected != nullptr && selected->isSubList ? selected->subList : nullptr;
    items->SetList(itemsShown ? presets : nullptr);
    items->SetSelection(hadItem ? item.c_str() : nullptr);
}
