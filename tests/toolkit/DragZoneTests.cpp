#include <gtest/gtest.h>

#include "toolkit/DragZone.h"
#include "toolkit/Window.h"

namespace
{
TEST(DragZoneTest, AcceptsPressesOnEveryEdge)
{
    struct Case
    {
        long x, y;
        bool accepted;
    };
    for (Case c : {Case{30, 30, true}, Case{31, 30, false}, Case{10, 10, true}, Case{9, 10, false},
                   Case{30, 31, false}, Case{20, 10, true}})
    {
        DragZone zone;
        zone.SetArea(10, 10, 20, 20);
        EXPECT_EQ(zone.MouseDown(c.x, c.y), c.accepted) << c.x << "," << c.y;
        EXPECT_EQ(zone.IsDragging(), c.accepted);
    }
}

TEST(DragZoneTest, OffsetsFromTheStartAndTheLastStep)
{
    DragZone zone;
    zone.SetArea(GRectangle(0, 0, 10, 10));
    ASSERT_TRUE(zone.MouseDown(5, 5));
    zone.MouseMoved(8, 9);
    zone.MouseMoved(10, 9);
    EXPECT_EQ(zone.GetOffsetFromStart().x, 5);
    EXPECT_EQ(zone.GetOffsetFromStart().y, 4);
    EXPECT_EQ(zone.GetOffsetFromLastPosition().x, 2);
    EXPECT_EQ(zone.GetOffsetFromLastPosition().y, 0);
    EXPECT_TRUE(zone.MouseUp(12, 9));
    EXPECT_FALSE(zone.IsDragging());
    EXPECT_EQ(zone.GetOffsetFromStart().x, 7);

    // Outside a drag nothing changes.
    EXPECT_FALSE(zone.MouseUp(50, 50));
    zone.MouseMoved(60, 60);
    EXPECT_EQ(zone.GetOffsetFromStart().x, 7);
    EXPECT_EQ(zone.GetOffsetFromLastPosition().x, 2);
}

TEST(DragZoneTest, AreaFromAWindowAndUserData)
{
    Window w;
    w.CreateChildWindow(nullptr, 30, 40, 5, 6);
    DragZone zone;
    zone.SetArea(&w);
    GRectangle r;
    zone.GetArea(&r);
    EXPECT_EQ(r.x, 5);
    EXPECT_EQ(r.height, 40);
    EXPECT_EQ(zone.GetArea().width, 30);
    zone.SetUserValue1(0.5f);
    EXPECT_FLOAT_EQ(zone.GetUserValue1(), 0.5f);
    auto object = std::make_shared<int>(3);
    zone.SetUserObject1(object);
    EXPECT_EQ(zone.GetUserObject1(), object);
    EXPECT_EQ(zone.GetUserObject2(), nullptr);
}
} // namespace
