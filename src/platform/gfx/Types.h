#pragma once

#include <algorithm>
#include <chrono>

// Values shared by the view layer, its back ends and the toolkit above it. Coordinates are
// integer pixels, origin top left, y downwards.
namespace gfx
{
using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

struct Point
{
    int x = 0;
    int y = 0;
};

struct Rect
{
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;

    bool Empty() const { return w <= 0 || h <= 0; }
    // Left and top edges are in, right and bottom edges out.
    bool Contains(Point p) const { return p.x >= x && p.y >= y && p.x < x + w && p.y < y + h; }
    Rect Intersect(Rect const& o) const
    {
        int l = std::max(x, o.x), t = std::max(y, o.y);
        int r = std::min(x + w, o.x + o.w), b = std::min(y + h, o.y + o.h);
        if (r <= l || b <= t) return Rect{l, t, 0, 0};
        return Rect{l, t, r - l, b - t};
    }
};

// Modifier keys as the back ends report them.
enum Modifier : unsigned
{
    kModShift = 1,
    kModControl = 2,
    kModAlt = 4,
    kModSuper = 8,
};

enum Button : unsigned
{
    kButtonLeft = 1,
    kButtonRight = 2,
};

// Keys that are not text, by their X keysyms.
enum Key : unsigned
{
    kKeyNone = 0,
    kKeyBackspace = 0xff08,
    kKeyTab = 0xff09,
    kKeyReturn = 0xff0d,
    kKeyEscape = 0xff1b,
    kKeyHome = 0xff50,
    kKeyLeft = 0xff51,
    kKeyUp = 0xff52,
    kKeyRight = 0xff53,
    kKeyDown = 0xff54,
    kKeyEnd = 0xff57,
    kKeyDelete = 0xffff,
};

enum class SurfaceKind
{
    Embedded, // a child of a host's window, given by its handle
    Frame,    // a top-level window of our own, transient for its owner
    Popup,    // an override-redirect window (menus)
};

class Surface;

// One pointer or key event of a back end. Positions are screen (root) coordinates.
struct InputEvent
{
    enum Type
    {
        Press,
        Release,
        Motion,
        KeyDown, // to the focused node of the surface
    };
    Type type = Motion;
    Surface* surface = nullptr; // where the pointer is (presses go to it)
    int rootX = 0;
    int rootY = 0;
    unsigned button = 0;    // the button of a press or release
    unsigned modifiers = 0; // Modifier bits held during the event
    TimePoint time{};
    unsigned key = kKeyNone; // a KeyDown's key, kKeyNone for plain text
    char text[8] = {};       // a KeyDown's text (one UTF-8 character), or empty
};
} // namespace gfx
