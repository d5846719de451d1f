#pragma once

#include <memory>

#include "toolkit/Geometry.h"

class Window;

// Tracks one drag that starts inside a hot area. Its owner feeds it its own mouse events;
// the area is in the same coordinates. Every edge of the area counts as inside.
class DragZone
{
public:
    void SetArea(GRectangle const& r) { area = r; }
    void SetArea(long x, long y, long w, long h) { area.Set(x, y, w, h); }
    // The window's rectangle in its parent.
    void SetArea(Window* w);
    GRectangle GetArea() const { return area; }
    void GetArea(GRectangle* r) const
    {
        if (r) *r = area;
    }

    // Starts a drag when the point is in the area.
    bool MouseDown(long x, long y);
    void MouseMoved(long x, long y);
    // Ends a drag; false when none ran.
    bool MouseUp(long x, long y);
    void StartDragState(long x, long y);
    void UpdateDragState(long x, long y);
    void EndDragState(long x, long y);
    bool IsDragging() const { return dragging; }

    GPoint GetOffsetFromStart() const { return GPoint(currentX - startX, currentY - startY); }
    GPoint GetOffsetFromLastPosition() const { return GPoint(currentX - previousX, currentY - previousY); }

    void SetUserValue1(float v) { userValue1 = v; }
    float GetUserValue1() const { return userValue1; }
    void SetUserObject1(std::shared_ptr<void> o) { userObject1 = std::move(o); }
    std::shared_ptr<void> GetUserObject1() const { return userObject1; }
    void SetUserObject2(std::shared_ptr<void> o) { userObject2 = std::move(o); }
    std::shared_ptr<void> GetUserObject2() const { return userObject2; }

private:
    GRectangle area;
    bool dragging = false;
    long startX = 0, startY = 0;
    long currentX = 0, currentY = 0;
    long previousX = 0, previousY = 0;
    float userValue1 = 0;
    std::shared_ptr<void> userObject1;
    std::shared_ptr<void> userObject2;
};
