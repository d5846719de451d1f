#pragma once

#include <cstdint>

// Colour, rectangle, point and guide-line values of the toolkit. Coordinates are integer
// pixels of the window concerned, origin top left, y downwards.

// Red, green, blue, alpha, conventionally 0-255; nothing clamps them.
class Colour
{
public:
    Colour() = default; // opaque white
    Colour(int r, int g, int b, int a) : red(r), green(g), blue(b), alpha(a) {}

    int R() const { return red; }
    int G() const { return green; }
    int B() const { return blue; }
    int A() const { return alpha; }
    void A(int a) { alpha = a; }
    void SetRGB(int r, int g, int b)
    {
        red = r;
        green = g;
        blue = b;
    }
    // Each of red, green and blue times its factor in single precision, truncated toward zero.
    void Multiply(float fr, float fg, float fb);

private:
    std::int32_t red = 255;
    std::int32_t green = 255;
    std::int32_t blue = 255;
    std::int32_t alpha = 255;
};

// Top-left corner and size; never normalised (a negative size stays negative).
class GRectangle
{
public:
    GRectangle() = default;
    GRectangle(long px, long py, long w, long h) { Set(px, py, w, h); }

    void Set(long px, long py, long w, long h)
    {
        x = static_cast<std::int32_t>(px);
        y = static_cast<std::int32_t>(py);
        width = static_cast<std::int32_t>(w);
        height = static_cast<std::int32_t>(h);
    }
    void SetCorners(long left, long top, long right, long bottom)
    {
        Set(left, top, right - left, bottom - top);
    }
    // Both edges count as inside.
    bool IsPointIn(long px, long py) const { return x <= px && y <= py && px <= Right() && py <= Bottom(); }
    long Right() const { return static_cast<long>(x) + width; }
    void Right(long r) { width = static_cast<std::int32_t>(r - x); }
    long Bottom() const { return static_cast<long>(y) + height; }
    void Bottom(long b) { height = static_cast<std::int32_t>(b - y); }
    long CentreX() const { return x + width / 2; }
    long CentreY() const { return y + height / 2; }
    // True when the two share at least one pixel (a rectangle with no positive size shares none).
    static bool Intercect(GRectangle const& a, GRectangle const& b);

    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

class GPoint
{
public:
    GPoint() = default;
    GPoint(long px, long py) { Set(px, py); }
    void Set(long px, long py)
    {
        x = static_cast<std::int32_t>(px);
        y = static_cast<std::int32_t>(py);
    }

    std::int32_t x = 0;
    std::int32_t y = 0;
};

// A named coordinate for laying out controls: axis 0 is a vertical line at an x, axis 1 a
// horizontal line at a y.
class GuideLine
{
public:
    GuideLine() {} // sets nothing: the derived guides give the values
    operator long() const { return coordinate; }
    GuideLine operator+(int n) const
    {
        GuideLine g;
        g.coordinate = coordinate + n;
        g.axis = axis;
        return g;
    }
    int Axis() const { return axis; }

protected:
    std::int32_t coordinate;
    int axis;
};

class XGuideLine : public GuideLine
{
public:
    explicit XGuideLine(long x)
    {
        coordinate = static_cast<std::int32_t>(x);
        axis = 0;
    }
};

class YGuideLine : public GuideLine
{
public:
    explicit YGuideLine(long y)
    {
        coordinate = static_cast<std::int32_t>(y);
        axis = 1;
    }
};
