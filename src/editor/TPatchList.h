#pragma once

#include <string>

#include "editor/TScrollBar.h"
#include "framework/Parameter.h"
#include "framework/ParameterHost.h"
#include "platform/CascadeList.h"
#include "toolkit/Window.h"

class PresetManager;

// Told of every click on an entry of a patch list (also on the entry already selected).
class TPatchListListener
{
public:
    virtual ~TPatchListListener() = default;
    virtual void PatchListSelection(int listId, int index, CascadeList::Item* item) = 0;
};

// The scrolling one-column list of the stored-file browsers: the entries of one CascadeList in
// the list's own order, 15 pixels a row, with a scroll bar in the rightmost 10 pixels. A click
// selects a row and tells the listener at once. The widget owns neither the list nor the
// listener; whoever rebuilds the list calls SetList again before the widget draws or is clicked.
// Editor thread only.
class TPatchList : public Window, public ParameterHost
{
public:
    static constexpr int kRowHeight = 15;
    static constexpr long kScrollBarWidth = 10;

    TPatchList() = default;
    ~TPatchList() override;

    // A child of parent at (x, y), width wide and rows rows high.
    void Create(Window* parent, int listId, long x, long y, long width, int rows);
    // Shows the list (null: nothing) from its top with its first entry selected (nobody told).
    void SetList(CascadeList* list);
    CascadeList* GetList() const { return list; }
    void SetListener(TPatchListListener* l) { listener = l; }
    // Selects the entry (an index outside the list, or -1, clears the selection), scrolls it
    // into view and redraws; the listener is not told.
    void SetSelection(int index);
    // The first entry of exactly that name (case counts); an unknown or null name clears.
    void SetSelection(char const* name);
    int GetSelection() const { return selection; }
    // The selected entry; null with no selection.
    CascadeList::Item* GetSelectedItem() const;
    // The name of the selected entry as it was when selected ("" with no selection). Safe to
    // read after the list's entries were freed.
    std::string const& GetSelectedName() const { return selectedName; }
    CascadeList::Item* GetItem(int index) const;
    int FindItem(char const* name) const;
    void MakePositionVisible(int index);
    void MakeSelectionVisible();
    // The entry under local y, -1 when none is shown there.
    int PosToIndex(long y) const;

    int GetFirstVisible() const { return first; }
    int GetLastVisible() const { return last; }
    int GetEntryCount() const { return entryCount; }
    int GetRows() const { return rows; }
    int GetListId() const { return listId; }
    Parameter& GetScrollParameter() { return scroll; }
    TScrollBar& GetScrollBar() { return scrollBar; }
    void SetDrawBackground(bool on) { drawBackground = on; }

    void Repaint(GraphicsContext& gc) override;
    void LButtonDown(long x, long y) override;
    void MouseMoved(long, long) override {}
    void MouseWheelMoved(int delta, long x, long y) override;
    void ParameterUpdated(float value, Parameter* changed) override;

private:
    void Select(int index);

    int listId = 0;
    TPatchListListener* listener = nullptr;
    int selection = -1;
    std::string selectedName;
    // The parameter outlives the scroll bar bound to it (members go in reverse order).
    Parameter scroll;
    TScrollBar scrollBar;
    int rowHeight = kRowHeight;
    CascadeList* list = nullptr;
    int entryCount = 0;
    int rows = 0;
    int first = 0;
    int last = 0;
    bool drawBackground = false;
};

// After the manager rebuilt its menu: sets the category list again from the manager's menu and
// the item list (when given) from the selected category's presets, keeping both selections by
// name. A vanished name leaves that list without a selection; an item list that showed nothing
// keeps showing nothing.
void ResetPatchLists(PresetManager& manager, TPatchList& categories, TPatchList* items);
