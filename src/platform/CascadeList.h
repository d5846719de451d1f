#pragma once

#include <functional>
#include <string>
#include <type_traits>
#include <vector>

class Window;

// A popup menu as a tree of entries. Each entry has the caller's id, an optional data
// pointer and a name, and may open a sub-list. The list itself holds only data: showing it
// is the job of the chooser installed with SetChooser (the graphics toolkit installs one
// that runs a platform menu; tests install scripted ones). Main thread only.
class CascadeList
{
public:
    struct Item
    {
        long id = 0;
        void* data = nullptr;
        bool ownsData = false; // the list frees data when the item goes
        std::string name;
        bool isSubList = false;
        CascadeList* subList = nullptr; // the list this entry opens, when isSubList
        CascadeList* parent = nullptr;  // the list this entry belongs to
        long refCon = 0;                // number unique within the whole tree

    private:
        friend class CascadeList;
        void (*deleter)(void*) = nullptr;
        void FreeData();
    };

    // Shows `list` at (x, y) in parent's coordinates (parent may be null) and returns the
    // chosen item of the tree, or null when the menu was dismissed.
    using Chooser = std::function<Item*(CascadeList& list, Window* parent, long x, long y)>;

    CascadeList();
    ~CascadeList();
    CascadeList(CascadeList const&) = delete;
    CascadeList& operator=(CascadeList const&) = delete;

    // Appends a leaf entry. A typed data pointer that the list owns is freed with delete
    // of its own type; untyped data (void*) that the list owns is freed with `deleter`,
    // or as raw memory (operator delete) when no deleter is given.
    Item* AddItem(char const* name, long id, void* data, bool ownsData, void (*deleter)(void*) = nullptr);
    template <class T>
    requires(!std::is_void_v<T>) Item* AddItem(char const* name, long id, T* data, bool ownsData)
    {
        return AddItem(name, id, Erase(data), ownsData, ownsData ? &DeleteAs<T> : nullptr);
    }

    // Appends an entry that opens a new, empty sub-list (item->subList); data as AddItem.
    Item* AddSubList(char const* name, long id, void* data, bool ownsData, void (*deleter)(void*) = nullptr);
    template <class T>
    requires(!std::is_void_v<T>) Item* AddSubList(char const* name, long id, T* data, bool ownsData)
    {
        return AddSubList(name, id, Erase(data), ownsData, ownsData ? &DeleteAs<T> : nullptr);
    }

    void AddSeparator();

    // Asks the installed chooser; null without one, when dismissed, or when the chooser
    // names an item that does not belong to this tree.
    Item* DoPopup(Window* parent, long x, long y);

    // Deletes every item (with its data when owned) and every sub-list. On a root list the
    // numbering of new entries restarts at 0.
    void Clear();

    // The entry of the parent list that opens this list; null for a root list.
    Item* GetParentItem() const { return parentItem; }
    bool IsSubList() const { return parentItem != nullptr; }

    int NumItems() const { return static_cast<int>(items.size()); }
    Item* GetItem(int i) const; // null when i is out of range
    // The item of the tree below this list with that number, searched depth first.
    Item* FindItem(long refCon) const;

    // Entries and separators in the order added, for a toolkit that builds a real menu.
    struct Entry
    {
        Item* item; // null for a separator
    };
    std::vector<Entry> const& GetEntries() const { return entries; }

    // Installs the chooser used by every DoPopup; returns the one it replaces.
    static Chooser SetChooser(Chooser chooser);

private:
    CascadeList(long* counter, Item* parentItem);
    Item* Append(char const* name, long id, void* data, bool ownsData, void (*deleter)(void*));
    void DeleteContents();
    bool Contains(Item const* item) const;

    template <class T> static void* Erase(T* p)
    {
        return const_cast<void*>(static_cast<void const volatile*>(p));
    }
    template <class T> static void DeleteAs(void* p) { delete static_cast<T*>(p); }

    Item* parentItem = nullptr;
    std::vector<Item*> items;
    std::vector<Entry> entries;
    long* counter; // shared by the whole tree, owned by the root
    std::vector<CascadeList*> subLists;
};
