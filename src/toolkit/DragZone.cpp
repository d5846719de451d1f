#include "toolkit/DragZone.h"

#include "toolkit/Window.h"

void DragZone::SetArea(Window* w)
{
    if (w) w->GetWindowRect(area);
}

bool DragZone::MouseDown(long x, long y)
{
    if (x < area.x || y < area.y || x > area.Right() || y > area.Bottom()) return false;
    StartDragState(x, y);
    return true;
}

void DragZone::MouseMoved(long x, long y)
{
    if (dragging) UpdateDragState(x, y);
}

bool DragZone::MouseUp(long x, long y)
{
    if (!dragging) return false;
    EndDragState(x, y);
    return true;
}

void DragZone::StartDragState(long x, long y)
{
    dragging = true;
    startX = currentX = previousX = x;
    startY = currentY = previousY = y;
}

void DragZone::UpdateDragState(long x, long y)
{
    previousX = currentX;
    previousY = currentY;
    currentX = x;
    currentY = y;
}

void DragZone::EndDragState(long x, long y)
{
    UpdateDragState(x, y);
    dragging = false;
}
