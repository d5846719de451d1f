#include "platform/CascadeList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
// Counts live instances so tests can see owned data being freed.
struct Tracked
{
    static inline int alive = 0;
    std::string payload;
    explicit Tracked(std::string p) : payload(std::move(p)) { ++alive; }
    ~Tracked() { --alive; }
};

// Installs a chooser for one test and puts the previous one back.
class ScopedChooser
{
public:
    explicit ScopedChooser(CascadeList::Chooser c) : previous(CascadeList::SetChooser(std::move(c))) {}
    ~ScopedChooser() { CascadeList::SetChooser(std::move(previous)); }

private:
    CascadeList::Chooser previous;
};

std::vector<std::string> Layout(CascadeList const& list)
{
    std::vector<std::string> out;
    for (auto const& e : list.GetEntries())
        out.push_back(e.item ? e.item->name : "-");
    return out;
}
} // namespace

TEST(CascadeListTests, TreeKeepsInsertionOrderAndNumbersEntriesAcrossTheTree)
{
    CascadeList root;
    CascadeList::Item* a = root.AddItem("A", 10, nullptr, false);
    CascadeList::Item* s = root.AddSubList("S", 11, nullptr, false);
    CascadeList::Item* inner = s->subList->AddItem("inner", 12, nullptr, false);
    root.AddSeparator();
    CascadeList::Item* b = root.AddItem("B", 13, nullptr, false);

    EXPECT_EQ(a->refCon, 1);
    EXPECT_EQ(s->refCon, 2);
    EXPECT_EQ(inner->refCon, 3);
    EXPECT_EQ(b->refCon, 4);

    EXPECT_EQ(root.NumItems(), 3); // separators are not items
    EXPECT_EQ(Layout(root), (std::vector<std::string>{"A", "S", "-", "B"}));
    EXPECT_EQ(root.GetItem(2), b);
    EXPECT_EQ(root.GetItem(3), nullptr);
    EXPECT_EQ(root.GetItem(-1), nullptr);

    EXPECT_TRUE(s->isSubList);
    EXPECT_FALSE(a->isSubList);
    EXPECT_EQ(a->subList, nullptr);
    EXPECT_EQ(inner->parent, s->subList);
    EXPECT_EQ(s->parent, &root);
    EXPECT_EQ(s->subList->GetParentItem(), s);
    EXPECT_EQ(root.GetParentItem(), nullptr);
    EXPECT_EQ(inner->parent->GetParentItem()->parent, &root);

    EXPECT_EQ(root.FindItem(3), inner);
    EXPECT_EQ(root.FindItem(4), b);
    EXPECT_EQ(root.FindItem(99), nullptr);
    EXPECT_EQ(root.AddItem(nullptr, 0, nullptr, false)->name, "");
}

TEST(CascadeListTests, ClearFreesOwnedDataOnlyAndRestartsNumberingAtZero)
{
    Tracked notOwned("kept");
    {
        CascadeList root;
        root.AddItem("owned", 0, new Tracked("x"), true);
        root.AddItem("borrowed", 1, &notOwned, false);
        CascadeList::Item* cat = root.AddSubList("cat", 2, new Tracked("cat path"), true);
        cat->subList->AddItem("preset", 0, new Tracked("preset path"), true);
        cat->subList->AddSubList("deeper", 1, nullptr, false)
            ->subList->AddItem("leaf", 0, new Tracked("leaf"), true);
        root.AddItem("raw", 3, ::operator new(16), true); // untyped: freed as raw memory
        EXPECT_EQ(Tracked::alive, 5);

        root.Clear();
        EXPECT_EQ(Tracked::alive, 1);
        EXPECT_EQ(root.NumItems(), 0);
        EXPECT_TRUE(root.GetEntries().empty());
        EXPECT_EQ(root.AddItem("first after clear", 0, nullptr, false)->refCon, 0);

        // Destruction frees the rebuilt tree's owned data as well.
        root.AddSubList("again", 1, new Tracked("again"), true)
            ->subList->AddItem("p", 0, new Tracked("p"), true);
        EXPECT_EQ(Tracked::alive, 3);
    }
    EXPECT_EQ(Tracked::alive, 1);
    EXPECT_EQ(notOwned.payload, "kept");
}

TEST(CascadeListTests, ClearingASubListKeepsTheSharedNumbering)
{
    CascadeList root;
    CascadeList::Item* s = root.AddSubList("S", 0, nullptr, false);
    s->subList->AddItem("x", 0, nullptr, false);
    s->subList->Clear();
    EXPECT_EQ(s->subList->NumItems(), 0);
    EXPECT_EQ(s->subList->AddItem("y", 0, nullptr, false)->refCon, 3);
    EXPECT_EQ(s->subList->GetParentItem(), s);
}

TEST(CascadeListTests, UntypedOwnedDataUsesTheGivenDeleter)
{
    static int deleted = 0;
    deleted = 0;
    {
        CascadeList root;
        root.AddItem("x", 0, static_cast<void*>(new int(5)), true,
                     [](void* p)
                     {
                         delete static_cast<int*>(p);
                         ++deleted;
                     });
    }
    EXPECT_EQ(deleted, 1);
}

TEST(CascadeListTests, WithoutAChooserPopupReturnsNull)
{
    ScopedChooser none(nullptr);
    CascadeList root;
    root.AddItem("A", 0, nullptr, false);
    EXPECT_EQ(root.DoPopup(nullptr, 50, 50), nullptr);
}

TEST(CascadeListTests, ScriptedChooserSeesTheListAndItsChoiceIsReturned)
{
    CascadeList* seenList = nullptr;
    long seenX = 0, seenY = 0;
    ScopedChooser chooser(
        [&](CascadeList& list, Window*, long x, long y) -> CascadeList::Item*
        {
            seenList = &list;
            seenX = x;
            seenY = y;
            // Choose the first entry of the second category.
            return list.GetItem(1)->subList->GetItem(0);
        });

    CascadeList root;
    root.AddSubList("Bass", 0, nullptr, false)->subList->AddItem("B1", 0, nullptr, false);
    CascadeList::Item* leads = root.AddSubList("Leads", 1, nullptr, false);
    leads->subList->AddItem("L1", 0, nullptr, false);

    CascadeList::Item* chosen = root.DoPopup(nullptr, 50, 60);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(seenList, &root);
    EXPECT_EQ(seenX, 50);
    EXPECT_EQ(seenY, 60);
    EXPECT_EQ(chosen->name, "L1");
    EXPECT_EQ(chosen->parent->GetParentItem()->name, "Leads");
}

TEST(CascadeListTests, DismissedOrForeignChoicesReturnNull)
{
    CascadeList other;
    CascadeList::Item* foreign = other.AddItem("elsewhere", 0, nullptr, false);
    CascadeList::Item* answer = nullptr;
    ScopedChooser chooser([&](CascadeList&, Window*, long, long) { return answer; });

    CascadeList root;
    root.AddItem("A", 0, nullptr, false);
    EXPECT_EQ(root.DoPopup(nullptr, 0, 0), nullptr); // dismissed
    answer = foreign;
    EXPECT_EQ(root.DoPopup(nullptr, 0, 0), nullptr); // not an item of this tree
    answer = root.GetItem(0);
    EXPECT_EQ(root.DoPopup(nullptr, 0, 0), root.GetItem(0));
}

TEST(CascadeListTests, TypedConstDataIsNotFreedWhenNotOwned)
{
    static float const snapValues[] = {1.0f, 0.25f};
    CascadeList root;
    root.AddItem("1/1", 0, &snapValues[0], false);
    root.AddItem("1/4", 1, &snapValues[1], false);
    EXPECT_EQ(*static_cast<float const*>(root.GetItem(1)->data), 0.25f);
    root.Clear();
    EXPECT_EQ(snapValues[1], 0.25f);
}
