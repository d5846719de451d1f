#include "editor/TScrollBar.h"

#include <algorithm>
#include <cmath>

#include "framework/Parameter.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/GraphicsContext.h"

TScrollBar::~TScrollBar()
{
    UnbindAllParameters();
}

void TScrollBar::Create(Window* parent, Parameter* p, long px, long py, bool isVertical, long newLength)
{
    Create(parent, px, py, isVertical, newLength, -1, nullptr);
    parameter = p;
    BindUnderPluginMutex(this, p);
}

void TScrollBar::Create(Window* parent, long px, long py, bool isVertical, long newLength, int newId,
                        TScrollBarListener* newListener)
{
    vertical = isVertical;
    length = newLength;
    id = newId;
    listener = newListener;
    long const trackLength = length - 2 * kArrow;
    travel = length - 2 * kArrow - kThumbLength;
    if (vertical)
    {
        upArrow.Set(0, 0, kThickness, kArrow);
        track.Set(0, kArrow, kThickness, trackLength);
        downArrow.Set(0, kArrow + trackLength, kThickness, kArrow);
        CreateChildWindow(parent, kThickness, length, px, py);
    }
    else
    {
        upArrow.Set(0, 0, kArrow, kThickness);
        track.Set(kArrow, 0, trackLength, kThickness);
        downArrow.Set(kArrow + trackLength, 0, kArrow, kThickness);
        CreateChildWindow(parent, length, kThickness, px, py);
    }
    value.store(0.0f);
}

void TScrollBar::SetValue(float v, bool repaint)
{
    float const clamped = std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
    value.store(clamped, std::memory_order_relaxed);
    if (repaint) ForceRepaint();
}

GRectangle TScrollBar::GetThumbRect() const
{
    // Without travel the thumb stays at the start of the track.
    long const offset = travel > 0 ? static_cast<long>(GetValue() * static_cast<float>(travel)) : 0;
    if (vertical) return GRectangle(0, kArrow + offset, kThickness, kThumbLength);
    return GRectangle(kArrow + offset, 0, kThumbLength, kArrow);
}

void TScrollBar::ParameterUpdated(float, Parameter* p)
{
    if (!p) return;
    float const n = ControllerGet();
    if (n != GetValue()) SetValue(n, true);
}

void TScrollBar::Repaint(GraphicsContext& gc)
{
    gc.SetPenColour(255, 255, 255, 1, 255);
    gc.DrawFilledRect(GetThumbRect());
}

bool TScrollBar::Inside(GRectangle const& r, long px, long py)
{
    return px >= r.x && px <= r.x + r.width && py >= r.y && py <= r.y + r.height;
}

void TScrollBar::StepBound(float by)
{
    // In the parameter's own units; the bar follows through ParameterUpdated.
    EditedPluginLock lock(BindingPlugin());
    for (Parameter* p : bound)
        p->Set(static_cast<float>(*p) + by, nullptr);
}

void TScrollBar::LButtonDown(long px, long py)
{
    if (Inside(GetThumbRect(), px, py))
    {
        if (travel <= 0) return;
        dragging = true;
        dragStart = vertical ? py : px;
        dragStartValue = GetValue();
        BeginGesture();
        CaptureMouse();
        return;
    }
    if (Inside(upArrow, px, py))
    {
        if (listener) listener->StepUp(id);
        StepBound(-1.0f);
        return;
    }
    if (Inside(downArrow, px, py))
    {
        if (listener) listener->StepDown(id);
        StepBound(1.0f);
    }
}

void TScrollBar::LButtonUp(long, long)
{
    if (!dragging) return;
    dragging = false;
    ReleaseMouse();
    EndGesture();
}

void TScrollBar::MouseMoved(long px, long py)
{
    if (!dragging || travel <= 0) return;
    long const at = vertical ? py : px;
    float const v = dragStartValue + static_cast<float>(at - dragStart) / static_cast<float>(travel);
    if (HasBoundParameters())
        SetValue(SetAllUnderPluginMutex(v), true);
    else
        SetValue(v, true);
    if (listener) listener->ThumbMoved(id, GetValue());
}
