#include <gtest/gtest.h>

#include "toolkit/Geometry.h"

namespace
{
struct PointCase
{
    GRectangle r;
    long px, py;
    bool inside;
};

TEST(GeometryTest, PointInRectangleCountsBothEdgesAndNeverNormalises)
{
    GRectangle corners;
    corners.SetCorners(30, 40, 10, 20);
    const PointCase cases[] = {
        {GRectangle(10, 10, 20, 20), 30, 30, true},
        {GRectangle(10, 10, 20, 20), 10, 10, true},
        {GRectangle(10, 10, 20, 20), 31, 10, false},
        {GRectangle(10, 10, 20, 20), 10, 31, false},
        {GRectangle(10, 10, 20, 20), 9, 15, false},
        {GRectangle(5, 5, 0, 0), 5, 5, true},
        {GRectangle(5, 5, 0, 0), 6, 5, false},
        {GRectangle(5, 5, 0, 0), 5, 6, false},
        {GRectangle(5, 5, 0, 0), 4, 5, false},
        {GRectangle(5, 5, 0, 0), 5, 4, false},
        {corners, 30, 40, false},
        {corners, 10, 20, false},
        {corners, 20, 30, false},
        {corners, 25, 25, false},
    };
    for (PointCase const& c : cases)
        EXPECT_EQ(c.r.IsPointIn(c.px, c.py), c.inside) << "(" << c.r.x << "," << c.r.y << "," << c.r.width
                                                       << "," << c.r.height << ") at " << c.px << "," << c.py;
    EXPECT_EQ(corners.x, 30);
    EXPECT_EQ(corners.y, 40);
    EXPECT_EQ(corners.width, -20);
    EXPECT_EQ(corners.height, -20);
}

TEST(GeometryTest, EdgesAndCentres)
{
    struct Case
    {
        long x, w, centre;
    };
    for (Case c : {Case{0, 5, 2}, Case{10, -5, 8}, Case{3, 4, 5}, Case{0, -1, 0}})
    {
        GRectangle r(c.x, c.x, c.w, c.w);
        EXPECT_EQ(r.CentreX(), c.centre) << c.w;
        EXPECT_EQ(r.CentreY(), c.centre) << c.w;
    }
    GRectangle r(10, 20, 5, 5);
    for (long edge : {0L, 7L, 15L, 100L})
    {
        r.Right(edge);
        EXPECT_EQ(r.Right(), edge);
        r.Bottom(edge);
        EXPECT_EQ(r.Bottom(), edge);
    }
    EXPECT_EQ(r.x, 10);
    EXPECT_EQ(r.width, 90);
    EXPECT_EQ(r.height, 80);
    GRectangle zero;
    EXPECT_EQ(zero.x + zero.y + zero.width + zero.height, 0);
}

TEST(GeometryTest, ColourIsUnclampedAndTruncates)
{
    Colour white;
    EXPECT_EQ(white.R() + white.G() + white.B() + white.A(), 4 * 255);
    Colour doubled;
    doubled.Multiply(2.0f, 2.0f, 2.0f);
    EXPECT_EQ(doubled.R(), 510);
    EXPECT_EQ(doubled.G(), 510);
    EXPECT_EQ(doubled.B(), 510);
    EXPECT_EQ(doubled.A(), 255);
    Colour half;
    half.Multiply(0.5f, 0.25f, -1.0f);
    EXPECT_EQ(half.R(), 127);
    EXPECT_EQ(half.G(), 63);
    EXPECT_EQ(half.B(), -255);
    Colour c(1, 2, 3, 4);
    c.SetRGB(7, 8, 9);
    EXPECT_EQ(c.A(), 4);
    c.A(300);
    EXPECT_EQ(c.A(), 300);
    Colour copy;
    copy = c;
    EXPECT_EQ(copy.R(), 7);
    EXPECT_EQ(copy.A(), 300);
}

TEST(GeometryTest, GuideLinesStepAlongTheirAxis)
{
    YGuideLine row(70);
    GuideLine third = row + 25 + 25;
    EXPECT_EQ(static_cast<long>(third), 120);
    EXPECT_EQ(third.Axis(), 1);
    XGuideLine column(-3);
    EXPECT_EQ(static_cast<long>(column + 3), 0);
    EXPECT_EQ((column + 3).Axis(), 0);
    GPoint p;
    EXPECT_EQ(p.x + p.y, 0);
    p.Set(4, -5);
    EXPECT_EQ(p.y, -5);
}

TEST(GeometryTest, IntersectionNeedsASharedPixel)
{
    struct Case
    {
        GRectangle a, b;
        bool overlap;
    };
    const Case cases[] = {
        {GRectangle(0, 0, 10, 10), GRectangle(5, 5, 10, 10), true},
        {GRectangle(0, 0, 10, 10), GRectangle(10, 0, 10, 10), false}, // touching edges
        {GRectangle(0, 0, 10, 10), GRectangle(0, 10, 10, 10), false},
        {GRectangle(0, 0, 10, 10), GRectangle(9, 9, 1, 1), true},
        {GRectangle(0, 0, 10, 10), GRectangle(2, 2, 0, 0), false}, // empty
        {GRectangle(10, 10, -5, -5), GRectangle(6, 6, 2, 2), false},
        {GRectangle(-5, -5, 10, 10), GRectangle(-20, 0, 16, 1), true},
    };
    for (Case const& c : cases)
    {
        EXPECT_EQ(GRectangle::Intercect(c.a, c.b), c.overlap) << c.b.x << "," << c.b.y;
        EXPECT_EQ(GRectangle::Intercect(c.b, c.a), c.overlap) << c.b.x << "," << c.b.y;
    }
}
} // namespace
