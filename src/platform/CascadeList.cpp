#include "platform/CascadeList.h"

#include <mutex>
#include <new>
#include <utility>

namespace
{
std::mutex chooserMutex;
CascadeList::Chooser& TheChooser()
{
    static auto* chooser = new CascadeList::Chooser;
    return *chooser;
}
} // namespace

void CascadeList::Item::FreeData()
{
    if (ownsData && data)
    {
        if (deleter)
            deleter(data);
        else
            ::operator delete(data);
    }
    data = nullptr;
    ownsData = false;
}

CascadeList::CascadeList() : counter(new long(1)) {}

CascadeList::CascadeList(long* sharedCounter, Item* parent) : parentItem(parent), counter(sharedCounter) {}

CascadeList::~CascadeList()
{
    DeleteContents();
    if (!parentItem) delete counter;
}

void CascadeList::DeleteContents()
{
    for (CascadeList* list : subLists)
        delete list;
    subLists.clear();
    for (Item* item : items)
    {
        item->FreeData();
        delete item;
    }
    items.clear();
    entries.clear();
}

CascadeList::Item* CascadeList::Append(char const* name, long id, void* data, bool ownsData,
                                       void (*deleter)(void*))
{
    Item* item = new Item;
    item->id = id;
    item->data = data;
    item->ownsData = ownsData;
    item->deleter = deleter;
    item->parent = this;
    item->refCon = (*counter)++;
    try
    {
        item->name = name ? name : "";
        items.reserve(items.size() + 1);
        entries.reserve(entries.size() + 1);
    }
    catch (...)
    {
        item->FreeData();
        delete item;
        throw;
    }
    items.push_back(item);
    entries.push_back({item});
    return item;
}

CascadeList::Item* CascadeList::AddItem(char const* name, long id, void* data, bool ownsData,
                                        void (*deleter)(void*))
{
    return Append(name, id, data, ownsData, deleter);
}

CascadeList::Item* CascadeList::AddSubList(char const* name, long id, void* data, bool ownsData,
                                           void (*deleter)(void*))
{
    subLists.reserve(subLists.size() + 1);
    Item* item = Append(name, id, data, ownsData, deleter);
    item->subList = new CascadeList(counter, item);
    item->isSubList = true;
    subLists.push_back(item->subList);
    return item;
}

void CascadeList::AddSeparator()
{
    entries.push_back({nullptr});
}

CascadeList::Item* CascadeList::GetItem(int i) const
{
    if (i < 0 || i >= NumItems()) return nullptr;
    return items[static_cast<size_t>(i)];
}

CascadeList::Item* CascadeList::FindItem(long refCon) const
{
    for (Item* item : items)
    {
        if (item->refCon == refCon) return item;
        if (item->isSubList)
            if (Item* found = item->subList->FindItem(refCon)) return found;
    }
    return nullptr;
}

bool CascadeList::Contains(Item const* wanted) const
{
    for (Item* item : items)
    {
        if (item == wanted) return true;
        if (item->isSubList && item->subList->Contains(wanted)) return true;
    }
    return false;
}

CascadeList::Item* CascadeList::DoPopup(Window* parent, long x, long y)
{
    Chooser chooser;
    {
        std::lock_guard<std::mutex> lock(chooserMutex);
        chooser = TheChooser();
    }
    if (!chooser) return nullptr;
    Item* chosen = chooser(*this, parent, x, y);
    // A chooser that answers with a stale or foreign item must not hand it to the caller.
    return chosen && Contains(chosen) ? chosen : nullptr;
}

void CascadeList::Clear()
{
    DeleteContents();
    if (!parentItem) *counter = 0;
}

CascadeList::Chooser CascadeList::SetChooser(Chooser chooser)
{
    std::lock_guard<std::mutex> lock(chooserMutex);
    return std::exchange(TheChooser(), std::move(chooser));
}
