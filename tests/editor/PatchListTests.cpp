#include <memory>
#include <string>
#include <vector>

#include "WidgetTestSupport.h"
#include "editor/TPatchList.h"
#include "platform/CascadeList.h"

namespace
{
// Records every notification as "list:index:name".
struct RecordingListener : TPatchListListener
{
    void PatchListSelection(int listId, int index, CascadeList::Item* item) override
    {
        calls.push_back(std::to_string(listId) + ":" + std::to_string(index) + ":" +
                        (item ? item->name : "null"));
    }
    std::vector<std::string> calls;
};

// Clears the selection of its list, or empties the list, when told of a click.
struct ClearingListener : TPatchListListener
{
    TPatchList* list = nullptr;
    bool empty = false;
    void PatchListSelection(int, int, CascadeList::Item*) override
    {
        if (empty)
            list->SetList(nullptr);
        else
            list->SetSelection(-1);
    }
};

std::string EntryName(int i)
{
    return (i < 10 ? "P0" : "P") + std::to_string(i);
}

class PatchListTest : public WidgetTest
{
public:
    static constexpr long kX = 20;
    static constexpr long kY = 30;

    TPatchList& Make(int entries, int rows = 15)
    {
        for (int i = 0; i < entries; ++i)
            menu.AddItem(EntryName(i).c_str(), i, nullptr, false);
        list = std::make_unique<TPatchList>();
        list->Create(page.get(), 3, kX, kY, 180, rows);
        list->SetListener(&listener);
        list->SetList(&menu);
        Run();
        return *list;
    }
    void ClickRow(int row)
    {
        backend.Click(*surface, kX + 20, kY + row * TPatchList::kRowHeight + 5);
        Run();
        backend.Pause(std::chrono::seconds(1)); // the next click is no double click
    }

    CascadeList menu;
    RecordingListener listener;
    ClearingListener clearing;
    std::unique_ptr<TPatchList> list;
};
} // namespace

TEST_F(PatchListTest, ScrollValuesShowFullPagesWhereTheListAllows)
{
    TPatchList& l = Make(30);
    EXPECT_EQ(l.GetScrollParameter().GetMaxValue(), 15.0f);
    struct Case
    {
        float value;
        int first;
        int last;
    };
    Case const cases[] = {{0, 0, 14}, {3, 3, 17}, {2.6f, 3, 17}, {15, 15, 29}, {20, 15, 29}};
    for (Case const& c : cases)
    {
        l.ParameterUpdated(c.value, &l.GetScrollParameter());
        EXPECT_EQ(l.GetFirstVisible(), c.first) << c.value;
        EXPECT_EQ(l.GetLastVisible(), c.last) << c.value;
    }
    // Through the parameter (it clamps to 0..15) and the wheel, two rows per 240.
    l.GetScrollParameter().Set(0.0f, nullptr);
    l.MouseWheelMoved(240, 0, 0);
    EXPECT_EQ(l.GetFirstVisible(), 2);
    EXPECT_EQ(l.GetLastVisible(), 16);
    l.MouseWheelMoved(-120, 0, 0);
    EXPECT_EQ(l.GetFirstVisible(), 1);
    l.GetScrollParameter().Set(40.0f, nullptr);
    EXPECT_EQ(l.GetFirstVisible(), 15);
    EXPECT_EQ(l.GetLastVisible(), 29);
    // The scroll bar's down arrow steps one row.
    l.GetScrollParameter().Set(0.0f, nullptr);
    Run();
    backend.Click(*surface, kX + 175, kY + 15 * 15 - 5);
    Run();
    EXPECT_EQ(l.GetFirstVisible(), 1);
}

TEST_F(PatchListTest, SelectingOutsideTheViewScrollsItToTheNearEdge)
{
    TPatchList& l = Make(30);
    EXPECT_EQ(l.GetSelection(), 0);
    l.SetSelection(20);
    EXPECT_EQ(l.GetFirstVisible(), 6);
    EXPECT_EQ(l.GetLastVisible(), 20);
    EXPECT_FLOAT_EQ(static_cast<float>(l.GetScrollParameter()), 6.0f);
    EXPECT_FLOAT_EQ(l.GetScrollBar().GetValue(), 6.0f / 15.0f);
    l.SetSelection(2);
    EXPECT_EQ(l.GetFirstVisible(), 2);
    EXPECT_EQ(l.GetLastVisible(), 16);
    l.SetSelection(10); // already in view: nothing moves
    EXPECT_EQ(l.GetFirstVisible(), 2);
    EXPECT_TRUE(listener.calls.empty());
    for (int outside : {30, 99, -7})
    {
        l.SetSelection(outside);
        EXPECT_EQ(l.GetSelection(), -1) << outside;
        EXPECT_EQ(l.GetSelectedItem(), nullptr);
        EXPECT_EQ(l.GetSelectedName(), "");
    }
    l.SetSelection("P29");
    EXPECT_EQ(l.GetSelection(), 29);
    EXPECT_EQ(l.GetLastVisible(), 29);
    EXPECT_EQ(l.GetSelectedName(), "P29");
    l.SetSelection("p29"); // case counts
    EXPECT_EQ(l.GetSelection(), -1);
    l.SetSelection("P03");
    l.SetSelection("unknown");
    EXPECT_EQ(l.GetSelection(), -1);
    EXPECT_EQ(l.FindItem("P03"), 3);
    EXPECT_EQ(l.FindItem(nullptr), -1);
}

TEST_F(PatchListTest, EveryClickNotifiesAndClicksBelowTheLastEntryDoNothing)
{
    TPatchList& l = Make(5);
    EXPECT_EQ(l.GetScrollParameter().GetMaxValue(), 1.0f);
    EXPECT_EQ(l.GetLastVisible(), 4);
    ClickRow(3);
    ClickRow(3);
    ClickRow(0);
    ClickRow(5);
    ClickRow(12);
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"3:3:P03", "3:3:P03", "3:0:P00"}));
    EXPECT_EQ(l.GetSelection(), 0);

    // In a scrolled view a click names the entry shown there.
    menu.Clear();
    listener.calls.clear();
    Make(30);
    list->GetScrollParameter().Set(10.0f, nullptr);
    ClickRow(1);
    EXPECT_EQ(listener.calls, std::vector<std::string>{"3:11:P11"});

    // A listener that clears the selection, or empties the list, in its answer.
    clearing.list = list.get();
    list->SetListener(&clearing);
    for (bool empty : {false, true})
    {
        clearing.empty = empty;
        ClickRow(2);
        EXPECT_EQ(list->GetSelection(), -1) << empty;
        EXPECT_LE(list->GetFirstVisible(), list->GetLastVisible()) << empty;
        EXPECT_GE(list->GetFirstVisible(), empty ? -1 : 0) << empty;
    }
}

TEST_F(PatchListTest, EmptyAndNullListsDrawNothingAndSelectNothing)
{
    TPatchList& l = Make(0);
    for (CascadeList* shown : {&menu, static_cast<CascadeList*>(nullptr)})
    {
        l.SetList(shown);
        backend.ClearStrings();
        l.ForceRepaint();
        Run();
        EXPECT_TRUE(backend.Strings().empty());
        EXPECT_EQ(l.GetFirstVisible(), -1);
        EXPECT_EQ(l.GetLastVisible(), -1);
        EXPECT_EQ(l.GetSelectedItem(), nullptr);
        l.SetSelection(0);
        EXPECT_EQ(l.GetSelection(), -1);
        EXPECT_EQ(l.GetItem(0), nullptr);
        ClickRow(0);
        EXPECT_TRUE(listener.calls.empty());
    }
}

TEST_F(PatchListTest, DrawsTheVisibleNamesWithTheSelectionInRed)
{
    TPatchList& l = Make(30);
    l.SetSelection(16);
    backend.ClearStrings();
    l.ForceRepaint();
    Run();
    EXPECT_TRUE(Drew("P02"));
    EXPECT_TRUE(Drew("P16"));
    EXPECT_FALSE(Drew("P01"));
    EXPECT_FALSE(Drew("P17"));
    // Row 14 is the selection: red over the page's background, the scroll bar's strip left out.
    gfx::Pixel const selected = Probe(kX + 100, kY + 14 * 15 + 12);
    gfx::Pixel const plain = Probe(kX + 100, kY + 13 * 15 + 12);
    EXPECT_GT(selected.r, plain.r + 50) << Describe(selected) << Describe(plain);
}
